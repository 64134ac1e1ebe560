#include "activity/activitylist.h"
#include "convert/controls.h"
#include "convert/numeric.h"
#include "log/log1month.h"
#include "support/logsandbox.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QStyledItemDelegate>
#include <QTest>
#include <QVBoxLayout>

namespace {

const QString kDayFile = QStringLiteral("24.LOG");
const QString kStampPattern = QStringLiteral(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d )");

// A window holding one narrow list, the way the main window holds its lists.
struct ListWindow {
    explicit ListWindow(bool shown = true) : list(new ActivityList(&window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(list);
        window.resize(200, 150);
        window.setVisible(shown);
    }
    int contentWidth() const
    {
        const QScrollBar* bar = list->horizontalScrollBar();
        return bar->maximum() + bar->pageStep();
    }
    // The view has caught up: the row is its current and only selected row.
    bool viewSelects(int row) const
    {
        const QModelIndexList selected = list->selectionModel()->selectedIndexes();
        return list->currentIndex().row() == row && selected.size() == 1 &&
               selected.constFirst().row() == row;
    }
    QWidget window;
    ActivityList* list;
};

int ExpectedExtent(const QFont& font)
{
    return int(RoundHalfEven(QFontMetricsF(font).horizontalAdvance(QString(192, ' '))));
}

QImage PaintedRow(const QAbstractItemDelegate& delegate, const QModelIndex& row,
                  const QWidget* view)
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.widget = view;
    option.rect = QRect(0, 0, 400, 20);
    option.textElideMode = Qt::ElideNone;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.state &= ~QStyle::State_HasFocus;
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    delegate.paint(&painter, option, row);
    return image;
}

} // namespace

class TestActivityList : public QObject {
    Q_OBJECT
private slots:
    void listIsStampedAfresh();
    void messageStampedOnceShownTwiceLogged_data();
    void messageStampedOnceShownTwiceLogged();
    void listBoundClearsAtOnce_data();
    void listBoundClearsAtOnce();
    void burstReachesViewInOneNotice_data();
    void burstReachesViewInOneNotice();
    void rowDrawsEscapedLine_data();
    void rowDrawsEscapedLine();
    void unwritableLogStillShowsLines_data();
    void unwritableLogStillShowsLines();
    void scrollRangeIsFixedWidthOfSpaces_data();
    void scrollRangeIsFixedWidthOfSpaces();
    void scrollRangeFollowsWindowFont();
};

void TestActivityList::listIsStampedAfresh()
{
    LogSandbox sandbox;
    sandbox.setNow(QDateTime(QDate(2018, 7, 24), QTime(23, 59, 58)));
    LogStart("T", "");
    sandbox.setTicking(true);
    ActivityList list;
    AddListMsg(&list, "x");

    const QString logged = sandbox.lines(kDayFile).last();
    const QRegularExpression twoStamps("^(" + kStampPattern + ")(" + kStampPattern + ")x$");
    const QRegularExpressionMatch match = twoStamps.match(logged);
    QVERIFY2(match.hasMatch(), qPrintable(logged));
    // The clock moved past midnight between the log's copy and the list's.
    const QString shown = list.text(0);
    QVERIFY(match.captured(2).startsWith("07-24-2018 "));
    QVERIFY2(shown.startsWith("07-25-2018 "), qPrintable(shown));
    QVERIFY(shown.endsWith(" x"));
}

void TestActivityList::messageStampedOnceShownTwiceLogged_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "Connected.";
    QTest::newRow("empty") << "";
    QTest::newRow("spaces only") << "   ";
    QTest::newRow("control characters") << QStringLiteral("a\tb\x01");
    QTest::newRow("brackets and Japanese") << QString::fromUtf8("RCV[テスト]");
}

void TestActivityList::messageStampedOnceShownTwiceLogged()
{
    QFETCH(QString, text);
    LogSandbox sandbox;
    LogStart("T", "");
    ActivityList list;
    AddListMsg(&list, text);

    const QString line = "07-24-2018 13:05:09 " + text;
    QCOMPARE(list.text(0), line);
    QCOMPARE(sandbox.lines(kDayFile).last(), "07-24-2018 13:05:09 " + line);
}

void TestActivityList::listBoundClearsAtOnce_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<bool>("shown");
    for (const bool shown : {false, true}) {
        const char* kind = shown ? "shown list, " : "";
        QTest::addRow("%sempty list", kind) << 0 << 1 << shown;
        QTest::addRow("%s999 lines", kind) << 999 << 1000 << shown;
        QTest::addRow("%sexactly the bound", kind) << 1000 << 1001 << shown;
        QTest::addRow("%sone over the bound", kind) << 1001 << 1 << shown;
    }
}

void TestActivityList::listBoundClearsAtOnce()
{
    QFETCH(int, linesBefore);
    QFETCH(int, linesAfter);
    QFETCH(bool, shown);
    LogSandbox sandbox;
    ListWindow view(shown);
    ActivityList& list = *view.list;
    for (int i = 0; i < linesBefore; ++i)
        SideScrollAddItem(&list, QString::number(i));
    list.setCurrentRow(0);
    QTRY_VERIFY(linesBefore == 0 || view.viewSelects(0));

    AddListMsg(&list, "newest");

    QCOMPARE(list.count(), linesAfter);
    QCOMPARE(list.currentRow(), linesAfter - 1);
    QVERIFY(list.text(linesAfter - 1).endsWith(" newest"));
    if (linesAfter > 1)
        QCOMPARE(list.text(0), "0");
    QTRY_VERIFY(list.model()->rowCount() == linesAfter && view.viewSelects(linesAfter - 1));
}

void TestActivityList::burstReachesViewInOneNotice_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("burst");
    QTest::addColumn<int>("inserted"); // notices of the view, after the burst
    QTest::addColumn<int>("resets");
    QTest::newRow("appends only") << 10 << 300 << 1 << 0;
    QTest::newRow("across two clearings") << 900 << 1500 << 0 << 1;
}

// A burst of lines, as from one read of many datagrams: the view hears of it once, and then
// shows the newest line selected and in view; watchers still see every line.
void TestActivityList::burstReachesViewInOneNotice()
{
    QFETCH(int, linesBefore);
    QFETCH(int, burst);
    QFETCH(int, inserted);
    QFETCH(int, resets);
    LogSandbox sandbox;
    ListWindow view;
    QVERIFY(QTest::qWaitForWindowExposed(&view.window));
    ActivityList& list = *view.list;
    for (int i = 0; i < linesBefore; ++i)
        SideScrollAddItem(&list, QString::number(i));
    QTRY_COMPARE(list.model()->rowCount(), linesBefore);
    QSignalSpy insertions(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy resetsSeen(list.model(), &QAbstractItemModel::modelReset);
    QSignalSpy added(&list, &ActivityList::lineAdded);

    for (int i = 0; i < burst; ++i)
        AddListMsg(&list, "burst " + QString::number(i));

    const int newest = list.count() - 1;
    QCOMPARE(added.count(), burst);
    QVERIFY(list.text(newest).endsWith(" burst " + QString::number(burst - 1)));
    QCOMPARE(list.currentRow(), newest);
    const auto newestInView = [&] {
        const QRect row = list.visualRect(list.model()->index(newest, 0));
        return row.isValid() && row.top() >= 0 && row.bottom() < list.viewport()->height();
    };
    QTRY_VERIFY(view.viewSelects(newest) && newestInView());
    QCOMPARE(list.model()->rowCount(), list.count());
    QCOMPARE(insertions.count(), inserted);
    QCOMPARE(resetsSeen.count(), resets);
}

void TestActivityList::rowDrawsEscapedLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("forged line") << QStringLiteral(
        "RCV[A]\r\n01-01-2020 00:00:00 Socket2 Close.\r\n]");
    QTest::newRow("ESC, NUL, BEL, DEL and TAB")
        << QString::fromLatin1("RCV[\x1B[2J\0\a\x7F\tz]", 14);
    QTest::newRow("hex digits") << QString(20000, 'A');
    QTest::newRow("wide characters") << QString(20000, QChar(0x30C6));
    QTest::newRow("narrow characters") << QString(20000, '.');
    QTest::newRow("zero-width characters first") << QString(3000, QChar(0x200B)) + "tail";
    QTest::newRow("control characters throughout") << QString(6000, QChar(0x1B));
    QTest::newRow("line break far in") << QString(1500, 'x') + "\r\n" + QString(1500, 'y');
}

// The row shows the line as the day file holds it, control characters escaped, on one line;
// only so much of a long line is laid out as can be seen, which must not change what is drawn.
void TestActivityList::rowDrawsEscapedLine()
{
    QFETCH(QString, line);
    ListWindow view;
    SideScrollAddItem(view.list, line);
    QTRY_COMPARE(view.list->model()->rowCount(), 1);
    QCOMPARE(view.list->text(0), line);

    QStringListModel escaped({EscapeControls(line)});
    const QStyledItemDelegate whole;
    const QImage drawn =
        PaintedRow(*view.list->itemDelegate(), view.list->model()->index(0, 0), view.list);
    QCOMPARE(drawn, PaintedRow(whole, escaped.index(0, 0), view.list));
}

void TestActivityList::unwritableLogStillShowsLines_data()
{
    QTest::addColumn<bool>("devFull");
    QTest::newRow("folder missing") << false;
    QTest::newRow("write fails after open") << true;
}

void TestActivityList::unwritableLogStillShowsLines()
{
    QFETCH(bool, devFull);
    LogSandbox sandbox;
    QString folder = sandbox.path("missing");
    if (devFull) {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full on this machine");
        QVERIFY(QFile::link("/dev/full", sandbox.path(kDayFile)));
        folder.clear();
    }
    LogStart("T", folder);
    ActivityList list;
    AddListMsg(&list, "one");
    AddListMsg(&list, "two");

    QCOMPARE(list.count(), 2);
    QCOMPARE(list.text(list.currentRow()), "07-24-2018 13:05:09 two");
    QVERIFY(!sandbox.exists("missing"));
}

void TestActivityList::scrollRangeIsFixedWidthOfSpaces_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one short line") << QStringList{"x"};
    QTest::newRow("one very long line") << QStringList{QString(3000, 'W')};
    QTest::newRow("long line then short") << QStringList{QString(3000, 'W'), "x"};
}

void TestActivityList::scrollRangeIsFixedWidthOfSpaces()
{
    QFETCH(QStringList, lines);
    ListWindow view;
    QVERIFY(QTest::qWaitForWindowExposed(&view.window));
    for (const QString& line : lines)
        SideScrollAddItem(view.list, line);

    const int extent = ExpectedExtent(view.window.font());
    QVERIFY(extent > view.list->viewport()->width());
    QCOMPARE(SideScrollExtent(view.list), extent);
    QTRY_COMPARE(view.contentWidth(), extent);
}

void TestActivityList::scrollRangeFollowsWindowFont()
{
    ListWindow view;
    QVERIFY(QTest::qWaitForWindowExposed(&view.window));
    SideScrollAddItem(view.list, "x");
    const int before = ExpectedExtent(view.window.font());
    QTRY_COMPARE(view.contentWidth(), before);

    QFont bigger = view.window.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    view.window.setFont(bigger);
    SideScrollAddItem(view.list, "y");

    const int after = ExpectedExtent(bigger);
    QVERIFY(after > before);
    QTRY_COMPARE(view.contentWidth(), after);
}

QTEST_MAIN(TestActivityList)
#include "tst_activitylist.moc"
