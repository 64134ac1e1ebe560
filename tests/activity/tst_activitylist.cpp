#include "activity/activitylist.h"
#include "convert/numeric.h"
#include "log/log1month.h"
#include "support/logsandbox.h"

#include <QFile>
#include <QFontMetricsF>
#include <QListWidget>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

namespace {

const QString kDayFile = QStringLiteral("24.LOG");
const QString kStampPattern = QStringLiteral(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d )");

// A shown window holding one narrow list, the way the main window holds its lists.
struct ListWindow {
    explicit ListWindow(bool activityList = false)
        : list(activityList ? new ActivityListWidget(&window) : new QListWidget(&window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(list);
        window.resize(200, 150);
        window.show();
    }
    int contentWidth() const
    {
        const QScrollBar* bar = list->horizontalScrollBar();
        return bar->maximum() + bar->pageStep();
    }
    QWidget window;
    QListWidget* list;
};

// The list's lines without their date and time stamps.
QStringList Messages(const QListWidget& list)
{
    QStringList messages;
    for (int row = 0; row < list.count(); ++row)
        messages << list.item(row)->text().mid(20);
    return messages;
}

int ExpectedExtent(const QFont& font)
{
    return int(RoundHalfEven(QFontMetricsF(font).horizontalAdvance(QString(192, ' '))));
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
    void shownListBringsNewestLineIntoView();
    void longLinePaintsAsIfWhole_data();
    void longLinePaintsAsIfWhole();
    void logFailureToldOnceThenCounted_data();
    void logFailureToldOnceThenCounted();
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
    QListWidget list;
    AddListMsg(&list, "x");

    const QString logged = sandbox.lines(kDayFile).last();
    const QRegularExpression twoStamps("^(" + kStampPattern + ")(" + kStampPattern + ")x$");
    const QRegularExpressionMatch match = twoStamps.match(logged);
    QVERIFY2(match.hasMatch(), qPrintable(logged));
    // The clock moved past midnight between the log's copy and the list's.
    const QString shown = list.item(0)->text();
    QVERIFY(match.captured(2).startsWith("07-24-2018 "));
    QVERIFY2(shown.startsWith("07-25-2018 "), qPrintable(shown));
    QVERIFY(shown.endsWith(" x"));
}

void TestActivityList::messageStampedOnceShownTwiceLogged_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged"); // the text as the day file holds it
    QTest::newRow("plain") << "Connected."
                           << "Connected.";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("spaces only") << "   "
                                 << "   ";
    QTest::newRow("control characters")
        << QStringLiteral("a\tb\x01\r\n") + QChar(0) + QChar(0x1B) + "~ "
        << QStringLiteral("a\tb<01><0D><0A><00><1B>~ ");
    QTest::newRow("brackets and Japanese")
        << QString::fromUtf8("RCV[テスト]") << QString::fromUtf8("RCV[テスト]");
}

void TestActivityList::messageStampedOnceShownTwiceLogged()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    LogSandbox sandbox;
    LogStart("T", "");
    QListWidget list;
    AddListMsg(&list, text);

    const QString line = "07-24-2018 13:05:09 " + text;
    QCOMPARE(list.item(0)->text(), line);
    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({"07-24-2018 13:05:09 Start T",
                          "07-24-2018 13:05:09 07-24-2018 13:05:09 " + logged}));
}

void TestActivityList::listBoundClearsAtOnce_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<bool>("shownActivityList");
    for (const bool shown : {false, true}) {
        const char* kind = shown ? "shown activity list, " : "";
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
    QFETCH(bool, shownActivityList);
    LogSandbox sandbox;
    ListWindow view(shownActivityList);
    view.window.setVisible(shownActivityList);
    QListWidget& list = *view.list;
    for (int i = 0; i < linesBefore; ++i)
        list.addItem(QString::number(i));
    list.setCurrentRow(0);

    AddListMsg(&list, "newest");

    QCOMPARE(list.count(), linesAfter);
    QCOMPARE(list.currentRow(), linesAfter - 1);
    QVERIFY(list.currentItem()->isSelected());
    QCOMPARE(list.selectedItems().size(), 1);
    QVERIFY(list.currentItem()->text().endsWith(" newest"));
    if (linesAfter > 1)
        QCOMPARE(list.item(0)->text(), "0");
}

// The view catches up with a burst of lines by itself; the list's own signals still come for
// every line.
void TestActivityList::shownListBringsNewestLineIntoView()
{
    LogSandbox sandbox;
    ListWindow view(true);
    QVERIFY(QTest::qWaitForWindowExposed(&view.window));
    QSignalSpy currentRows(view.list, &QListWidget::currentRowChanged);
    for (int i = 0; i < 300; ++i)
        AddListMsg(view.list, QString::number(i));

    QCOMPARE(view.list->currentRow(), 299);
    QCOMPARE(currentRows.count(), 300);
    const auto newestInView = [&] {
        const QRect row = view.list->visualItemRect(view.list->item(299));
        return row.top() >= 0 && row.bottom() < view.list->viewport()->height();
    };
    QTRY_VERIFY(newestInView());
}

void TestActivityList::longLinePaintsAsIfWhole_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("hex digits") << QString(20000, 'A');
    QTest::newRow("wide characters") << QString(20000, QChar(0x30C6));
    QTest::newRow("narrow characters") << QString(20000, '.');
    QTest::newRow("zero-width characters first") << QString(3000, QChar(0x200B)) + "tail";
    QTest::newRow("line break far in") << QString(1500, 'x') + "\r\n" + QString(1500, 'y');
    QTest::newRow("carriage return far in") << QString(1500, 'x') + "\r" + QString(1500, 'y');
    QTest::newRow("line separator far in")
        << QString(1500, 'x') + QChar(QChar::LineSeparator) + QString(1500, 'y');
}

// A long line is laid out only as far as it can be seen; what is drawn must not change.
void TestActivityList::longLinePaintsAsIfWhole()
{
    QFETCH(QString, line);
    ListWindow view;
    SideScrollAddItem(view.list, line);
    QStyleOptionViewItem option;
    option.initFrom(view.list->viewport());
    option.widget = view.list;
    option.rect = QRect(0, 0, 400, 20);
    option.textElideMode = view.list->textElideMode();
    const QModelIndex row = view.list->model()->index(0, 0);
    auto paintedBy = [&](const QAbstractItemDelegate& delegate) {
        QImage image(option.rect.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        delegate.paint(&painter, option, row);
        return image;
    };
    const QStyledItemDelegate whole;
    QCOMPARE(paintedBy(*view.list->itemDelegate()), paintedBy(whole));
}

void TestActivityList::logFailureToldOnceThenCounted_data()
{
    QTest::addColumn<QString>("dayFileBecomes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder") << "folder" << QString::fromLocal8Bit(std::strerror(EISDIR));
    QTest::newRow("link") << "link"
                          << "Not a regular file";
}

// The list that added the first lost line tells why; the list that adds the first line written
// again tells how many were lost, and so does the day file.
void TestActivityList::logFailureToldOnceThenCounted()
{
    QFETCH(QString, dayFileBecomes);
    QFETCH(QString, reason);
    LogSandbox sandbox;
    LogStart("T", "");
    const QString dayFile = sandbox.path(kDayFile);
    const QString kept = sandbox.path("kept");
    const auto breakDayFile = [&] {
        return QFile::rename(dayFile, kept) &&
               (dayFileBecomes == "folder" ? QDir().mkdir(dayFile) : QFile::link(kept, dayFile));
    };
    const auto restoreDayFile = [&] {
        return (QDir().rmdir(dayFile) || QFile::remove(dayFile)) && QFile::rename(kept, dayFile);
    };
    QListWidget list1;
    QListWidget list2;

    QVERIFY(breakDayFile());
    AddListMsg(&list2, "a");
    AddListMsg(&list1, "b");
    AddListMsg(&list2, "c");
    QVERIFY(restoreDayFile());
    AddListMsg(&list1, "d");
    AddListMsg(&list2, "e");

    const QString failure = "Log Err: " + reason + " (" + dayFile + ")";
    QCOMPARE(Messages(list1), QStringList({"b", "Log Err: 3 lines not written.", "d"}));
    QCOMPARE(Messages(list2), QStringList({"a", failure, "c", "e"}));
    QCOMPARE(list1.currentRow(), 2);
    QCOMPARE(list2.currentRow(), 3);
    QCOMPARE(LogLinesNotWritten(), 0);

    // Lost again, and back only in time for the end line.
    QVERIFY(breakDayFile());
    AddListMsg(&list1, "f");
    QCOMPARE(Messages(list1).mid(3), QStringList({"f", failure}));
    QVERIFY(restoreDayFile());
    LogEnd();
    const QString stamp = "07-24-2018 13:05:09 ";
    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({stamp + "Start T", stamp + stamp + "Log Err: 3 lines not written.",
                          stamp + stamp + "d", stamp + stamp + "e",
                          stamp + stamp + "Log Err: 1 lines not written.", stamp + "End T"}));
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
    // Rows are measured once, not per line, so an append costs the same at any length.
    QVERIFY(view.list->uniformItemSizes());
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
