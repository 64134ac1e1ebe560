#include "log/clock.h"
#include "log/zemfmt.h"
#include "support/logsandbox.h"

#include <QElapsedTimer>
#include <QTest>

class TestZemFmt : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetCenturyPivotSetting(QString()); }
    void fixedForms_data();
    void fixedForms();
    void dateTextToYmd_data();
    void dateTextToYmd();
    void centuryPivot_data();
    void centuryPivot();
    void todayYmdFollowsTheClock_data();
    void todayYmdFollowsTheClock();
    void systemStampIsTheClocksSecondAcrossItsTurn();
};

void TestZemFmt::fixedForms_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("single digits padded")
        << QDateTime(QDate(2021, 3, 5), QTime(4, 3, 5)) << "03-05-2021"
        << "04:03:05";
    QTest::newRow("afternoon on 24-hour clock")
        << QDateTime(QDate(2018, 7, 24), QTime(13, 5, 9)) << "07-24-2018"
        << "13:05:09";
    QTest::newRow("three-digit year") << QDateTime(QDate(999, 1, 2), QTime(1, 2, 3)) << "01-02-0999"
                                      << "01:02:03";
}

void TestZemFmt::fixedForms()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QCOMPARE(FixedDateText(moment), date);
    QCOMPARE(FixedTimeText(moment), time);
}

void TestZemFmt::dateTextToYmd_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("year first, ten") << "2018/07/24"
                                     << "20180724";
    QTest::newRow("tail ignored") << "2018/07/24 (Tue)"
                                  << "20180724";
    QTest::newRow("cut by position, not tested") << "07/24/2018"
                                                 << "07/2/218";
    QTest::newRow("two-digit year 49") << "49/07/24"
                                       << "20490724";
    QTest::newRow("two-digit year 50") << "50/07/24"
                                       << "19500724";
    QTest::newRow("two-digit year 00") << "00/07/24"
                                       << "20000724";
    QTest::newRow("nine characters") << "18/07/24x"
                                     << "20180724";
    QTest::newRow("letters in year") << "ab/07/24"
                                     << "20ab0724";
    QTest::newRow("seven characters") << "18/7/24"
                                      << "";
    QTest::newRow("short regional form") << "7/4/18"
                                         << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestZemFmt::dateTextToYmd()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(DateTextToYmd(text), expected);
}

void TestZemFmt::centuryPivot_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("pivot");
    QTest::addColumn<QString>("ymdOf29");
    QTest::addColumn<QString>("ymdOf30");
    QTest::newRow("unset") << "" << 50 << "20290101"
                           << "20300101";
    QTest::newRow("thirty, padded") << " 30 " << 30 << "20290101"
                                    << "19300101";
    QTest::newRow("half to even down") << "29.5" << 30 << "20290101"
                                       << "19300101";
    QTest::newRow("no number") << "abc" << 0 << "19290101"
                               << "19300101";
    QTest::newRow("huge") << "1e20" << 2147483647 << "20290101"
                          << "20300101";
}

void TestZemFmt::centuryPivot()
{
    QFETCH(QString, setting);
    QFETCH(int, pivot);
    QFETCH(QString, ymdOf29);
    QFETCH(QString, ymdOf30);
    SetCenturyPivotSetting(setting);
    QCOMPARE(CenturyPivot(), pivot);
    QCOMPARE(DateTextToYmd("29/01/01"), ymdOf29);
    QCOMPARE(DateTextToYmd("30/01/01"), ymdOf30);
}

void TestZemFmt::todayYmdFollowsTheClock_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ordinary day") << SandboxMoment() << "20180724";
    QTest::newRow("leap day") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)) << "20240229";
    QTest::newRow("no time") << QDateTime() << "";
}

void TestZemFmt::todayYmdFollowsTheClock()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    LogSandbox sandbox;
    sandbox.setNow(now);
    QCOMPARE(TodayYmd(sandbox.clock), expected);
}

// The stamp of the system clock, read line after line across the turn of a second, is always that
// of a precise reading just before it or just after it: never a second late.
void TestZemFmt::systemStampIsTheClocksSecondAcrossItsTurn()
{
    const auto preciseStamp = [] {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
        return FixedDateText(now) + ' ' + FixedTimeText(now) + ' ';
    };
    const Clock systemClock;
    LineStamp lineStamp(systemClock);
    const QString first = preciseStamp();
    QElapsedTimer sinceTurn;
    while (!sinceTurn.isValid() || sinceTurn.elapsed() < 20) {
        const QString before = preciseStamp();
        const QString stamp = lineStamp.Now().toString();
        const QString after = preciseStamp();
        QVERIFY2(stamp == before || stamp == after, qPrintable(before + '|' + stamp + '|' + after));
        if (!sinceTurn.isValid() && after != first)
            sinceTurn.start();
    }
}

QTEST_GUILESS_MAIN(TestZemFmt)
#include "tst_zemfmt.moc"
