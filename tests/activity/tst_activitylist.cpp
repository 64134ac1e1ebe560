#include "activity/activitylist.h"
#include "convert/numeric.h"
#include "log/log1month.h"
#include "support/logsandbox.h"

#include <QFile>
#include <QFontMetricsF>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

namespace {

const QString kDayFile = QStringLiteral("24.LOG");
const QString kStampPattern = QStringLiteral(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d )");

// A shown window holding one narrow list, the way the main window holds its lists.
struct ListWindow {
    ListWindow()
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
    QListWidget* list = new QListWidget(&window);
};

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
    QListWidget list;
    AddListMsg(&list, text);

    const QString line = "07-24-2018 13:05:09 " + text;
    QCOMPARE(list.item(0)->text(), line);
    QCOMPARE(sandbox.lines(kDayFile).last(), "07-24-2018 13:05:09 " + line);
}

void TestActivityList::listBoundClearsAtOnce_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("linesAfter");
    QTest::newRow("empty list") << 0 << 1;
    QTest::newRow("999 lines") << 999 << 1000;
    QTest::newRow("exactly the bound") << 1000 << 1001;
    QTest::newRow("one over the bound") << 1001 << 1;
}

void TestActivityList::listBoundClearsAtOnce()
{
    QFETCH(int, linesBefore);
    QFETCH(int, linesAfter);
    LogSandbox sandbox;
    QListWidget list;
    for (int i = 0; i < linesBefore; ++i)
        list.addItem(QString::number(i));
    list.setCurrentRow(0);

    AddListMsg(&list, "newest");

    QCOMPARE(list.count(), linesAfter);
    QCOMPARE(list.currentRow(), linesAfter - 1);
    QVERIFY(list.currentItem()->isSelected());
    QVERIFY(list.currentItem()->text().endsWith(" newest"));
    if (linesAfter > 1)
        QCOMPARE(list.item(0)->text(), "0");
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
    QListWidget list;
    AddListMsg(&list, "one");
    AddListMsg(&list, "two");

    QCOMPARE(list.count(), 2);
    QCOMPARE(list.currentItem()->text(), "07-24-2018 13:05:09 two");
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
