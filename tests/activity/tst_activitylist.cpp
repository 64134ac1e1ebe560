#include "activity/activitylist.h"
#include "convert/controls.h"
#include "convert/numeric.h"
#include "log/activityrecord.h"
#include "log/log1month.h"
#include "support/logsandbox.h"

#include <QDir>
#include <QElapsedTimer>
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
#include <cerrno>
#include <cstring>

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

// The list's lines without their date and time stamps.
QStringList Messages(const ActivityList& list)
{
    QStringList messages;
    for (int row = 0; row < list.count(); ++row)
        messages << list.text(row).mid(20);
    return messages;
}

} // namespace

class TestActivityList : public QObject {
    Q_OBJECT
private slots:
    void listIsStampedAfresh();
    void messageStampedOnceShownTwiceLogged_data();
    void messageStampedOnceShownTwiceLogged();
    void newestLineSelectedInBoundedList_data();
    void newestLineSelectedInBoundedList();
    void linesHandedOutStayAsTheyWere();
    void floodIsShownAtAFewFramesASecond();
    void rowDrawsEscapedLine_data();
    void rowDrawsEscapedLine();
    void logFailureToldOnceThenCounted_data();
    void logFailureToldOnceThenCounted();
    void logNoticesKeepTheBound();
    void scrollRangeIsFixedWidthOfSpaces_data();
    void scrollRangeIsFixedWidthOfSpaces();
};

void TestActivityList::listIsStampedAfresh()
{
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    sandbox.setNow(QDateTime(QDate(2018, 7, 24), QTime(23, 59, 58)));
    sandbox.log.LogStart("T", "");
    sandbox.setTicking(true);
    ActivityList list;
    AddListMsg(record, &list, "x");

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
    // Lines are checked eight characters at a time: one control character alone, at the start
    // of a block of eight and in the last characters after the blocks.
    QTest::newRow("control character opening a block") << QStringLiteral("abcd\x1F") + "efghijklmno"
                                                       << "abcd<1F>efghijklmno";
    QTest::newRow("delete among the last characters")
        << QStringLiteral("abcdefghijkl\x7F") << "abcdefghijkl<7F>";
    QTest::newRow("brackets and Japanese")
        << QString::fromUtf8("RCV[テスト]") << QString::fromUtf8("RCV[テスト]");
}

void TestActivityList::messageStampedOnceShownTwiceLogged()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    sandbox.log.LogStart("T", "");
    ActivityList list;
    AddListMsg(record, &list, text);

    const QString line = "07-24-2018 13:05:09 " + text;
    QCOMPARE(list.text(0), line);
    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({"07-24-2018 13:05:09 Start T",
                          "07-24-2018 13:05:09 07-24-2018 13:05:09 " + logged}));
}

void TestActivityList::newestLineSelectedInBoundedList_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("burst"); // lines added in one go, as from one read of many datagrams
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<int>("insertions"); // what the view is told once it catches up
    QTest::addColumn<int>("resets");
    QTest::addColumn<bool>("shown");
    for (const bool shown : {false, true}) {
        const char* kind = shown ? "shown list, " : "";
        QTest::addRow("%sempty list", kind) << 0 << 1 << 1 << 1 << 0 << shown;
        QTest::addRow("%s999 lines", kind) << 999 << 1 << 1000 << 1 << 0 << shown;
        QTest::addRow("%sexactly the bound", kind) << 1000 << 1 << 1001 << 1 << 0 << shown;
        QTest::addRow("%sone over the bound", kind) << 1001 << 1 << 1 << 0 << 1 << shown;
    }
    QTest::newRow("shown list, burst") << 10 << 300 << 310 << 1 << 0 << true;
    QTest::newRow("shown list, burst across two clearings") << 900 << 1500 << 398 << 0 << 1 << true;
}

// The list holds its lines and current row at once; the view hears of a burst once, then shows
// the newest line selected and in view. Watchers still see every line.
void TestActivityList::newestLineSelectedInBoundedList()
{
    QFETCH(int, linesBefore);
    QFETCH(int, burst);
    QFETCH(int, linesAfter);
    QFETCH(int, insertions);
    QFETCH(int, resets);
    QFETCH(bool, shown);
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    ListWindow view(shown);
    ActivityList& list = *view.list;
    for (int i = 0; i < linesBefore; ++i)
        SideScrollAddItem(&list, QString::number(i));
    QTRY_COMPARE(list.model()->rowCount(), linesBefore);
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(list.model(), &QAbstractItemModel::modelReset);

    for (int i = 0; i < burst; ++i)
        AddListMsg(record, &list, "newest " + QString::number(i));

    const int newest = linesAfter - 1;
    QCOMPARE(list.count(), linesAfter);
    QCOMPARE(list.currentRow(), newest);
    QVERIFY(list.text(newest).endsWith(" newest " + QString::number(burst - 1)));
    if (linesAfter > burst)
        QCOMPARE(list.text(0), "0");
    const auto inView = [&] {
        const QRect row = list.visualRect(list.model()->index(newest, 0));
        return !shown || (row.top() >= 0 && row.bottom() < list.viewport()->height());
    };
    QTRY_VERIFY(list.model()->rowCount() == linesAfter && view.viewSelects(newest) && inView());
    QCOMPARE(inserted.count(), insertions);
    QCOMPARE(reset.count(), resets);
}

// A cleared line's buffer takes a later line of the same length: a copy of the cleared line that
// someone kept is not written over.
void TestActivityList::linesHandedOutStayAsTheyWere()
{
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    ActivityList list;
    const auto message = [](int i) { return QStringLiteral("line %1").arg(i, 4, 10, QChar('0')); };
    QStringList kept;
    for (int i = 0; i <= kActivityListBound; ++i) {
        AddListMsg(record, &list, message(i));
        kept << list.text(i);
    }
    for (int i = 0; i < 10; ++i)
        AddListMsg(record, &list, message(9000 + i));

    QCOMPARE(list.text(9).mid(20), message(9009));
    for (int i = 0; i < kept.size(); ++i)
        QCOMPARE(kept.at(i).mid(20), message(i));
}

// Each frame hears of new rows or of a reset: under a flood about 5 a second, where 30 would
// spend a tenth of the program's time repainting lines no one can read as they pass.
void TestActivityList::floodIsShownAtAFewFramesASecond()
{
    ListWindow view;
    QVERIFY(QTest::qWaitForWindowExposed(&view.window));
    QSignalSpy inserted(view.list->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(view.list->model(), &QAbstractItemModel::modelReset);
    QElapsedTimer flood;
    flood.start();
    while (flood.elapsed() < 1000) {
        for (int line = 0; line < 200; ++line) {
            if (view.list->count() > kActivityListBound)
                view.list->clear();
            view.list->addLine("x");
        }
        QTest::qWait(5);
    }
    const qsizetype frames = inserted.count() + reset.count();
    QVERIFY2(frames >= 3 && frames <= 10, qPrintable(QString::number(frames)));
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
    ActivityRecord record(sandbox.log);
    sandbox.log.LogStart("T", "");
    const QString dayFile = sandbox.path(kDayFile);
    const QString kept = sandbox.path("kept");
    const auto breakDayFile = [&] {
        return QFile::rename(dayFile, kept) &&
               (dayFileBecomes == "folder" ? QDir().mkdir(dayFile) : QFile::link(kept, dayFile));
    };
    const auto restoreDayFile = [&] {
        return (QDir().rmdir(dayFile) || QFile::remove(dayFile)) && QFile::rename(kept, dayFile);
    };
    ActivityList list1;
    ActivityList list2;

    QVERIFY(breakDayFile());
    AddListMsg(record, &list2, "a");
    AddListMsg(record, &list1, "b");
    AddListMsg(record, &list2, "c");
    QVERIFY(restoreDayFile());
    AddListMsg(record, &list1, "d");
    AddListMsg(record, &list2, "e");

    const QString failure = "Log Err: " + reason + " (" + dayFile + ")";
    QCOMPARE(Messages(list1), QStringList({"b", "Log Err: 3 lines not written.", "d"}));
    QCOMPARE(Messages(list2), QStringList({"a", failure, "c", "e"}));
    QCOMPARE(list1.currentRow(), 2);
    QCOMPARE(list2.currentRow(), 3);
    QCOMPARE(sandbox.log.LogLinesNotWritten(), 0);

    // Lost again, and back only in time for the end line.
    QVERIFY(breakDayFile());
    AddListMsg(record, &list1, "f");
    QCOMPARE(Messages(list1).mid(3), QStringList({"f", failure}));
    QVERIFY(restoreDayFile());
    sandbox.log.LogEnd();
    const QString stamp = "07-24-2018 13:05:09 ";
    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({stamp + "Start T", stamp + stamp + "Log Err: 3 lines not written.",
                          stamp + stamp + "d", stamp + stamp + "e",
                          stamp + stamp + "Log Err: 1 lines not written.", stamp + "End T"}));
}

// A message that brings a log notice with it at the bound: the line that would be the 1002nd
// still finds the list emptied.
void TestActivityList::logNoticesKeepTheBound()
{
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    sandbox.log.LogStart("T", "");
    const QString dayFile = sandbox.path(kDayFile);
    const QString kept = sandbox.path("kept");
    ActivityList list;
    const auto fillToBound = [&] {
        while (list.count() < kActivityListBound)
            SideScrollAddItem(&list, "old");
    };

    fillToBound();
    QVERIFY(QFile::rename(dayFile, kept) && QDir().mkdir(dayFile));
    AddListMsg(record, &list, "lost");
    const QString reason = QString::fromLocal8Bit(std::strerror(EISDIR));
    QCOMPARE(Messages(list), QStringList{"Log Err: " + reason + " (" + dayFile + ")"});

    fillToBound();
    QVERIFY(QDir().rmdir(dayFile) && QFile::rename(kept, dayFile));
    AddListMsg(record, &list, "back");
    QCOMPARE(Messages(list), QStringList{"back"});
    QCOMPARE(list.currentRow(), 0);
    QCOMPARE(sandbox.lines(kDayFile).mid(1),
             QStringList({"07-24-2018 13:05:09 07-24-2018 13:05:09 Log Err: 1 lines not written.",
                          "07-24-2018 13:05:09 07-24-2018 13:05:09 back"}));
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

    // The next line measures the window's font anew.
    QFont bigger = view.window.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    view.window.setFont(bigger);
    SideScrollAddItem(view.list, "y");
    QTRY_COMPARE(view.contentWidth(), ExpectedExtent(bigger));
}

QTEST_MAIN(TestActivityList)
#include "tst_activitylist.moc"
