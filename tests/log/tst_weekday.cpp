#include "log/weekday.h"

#include <QLocale>
#include <QTest>

class TestWeekday : public QObject {
    Q_OBJECT
private slots:
    void isYmdDate_data();
    void isYmdDate();
    void weekdayName_data();
    void weekdayName();
};

void TestWeekday::isYmdDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ordinary") << "20180724" << true;
    QTest::newRow("29 Feb, divisible by 400") << "20000229" << true;
    QTest::newRow("29 Feb, divisible by 100 only") << "19000229" << false;
    QTest::newRow("29 Feb, divisible by 4") << "20240229" << true;
    QTest::newRow("29 Feb, not divisible by 4") << "20230229" << false;
    QTest::newRow("28 Feb, common year") << "20230228" << true;
    QTest::newRow("30 Feb, leap year") << "20240230" << false;
    QTest::newRow("31 April") << "20180431" << false;
    QTest::newRow("30 April") << "20180430" << true;
    QTest::newRow("31 December") << "20181231" << true;
    QTest::newRow("month 00") << "20180024" << false;
    QTest::newRow("month 13") << "20181324" << false;
    QTest::newRow("day 00") << "20180700" << false;
    QTest::newRow("day 32") << "20180132" << false;
    QTest::newRow("letter") << "2018O724" << false;
    QTest::newRow("sign") << "+0180724" << false;
    QTest::newRow("inner space") << "2018 724" << false;
    QTest::newRow("full-width digit") << QString::fromUtf8("２０１８0724") << false;
    QTest::newRow("seven characters") << "2018072" << false;
    QTest::newRow("nine characters") << "201807241" << false;
    QTest::newRow("empty") << "" << false;
}

void TestWeekday::isYmdDate()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsYmdDate(text), valid);
}

void TestWeekday::weekdayName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("dayOfWeek"); // 0: no name
    QTest::newRow("Tuesday") << "20180724" << 2;
    QTest::newRow("Monday") << "20180723" << 1;
    QTest::newRow("leap day 2000, a Tuesday") << "20000229" << 2;
    QTest::newRow("invalid date") << "20230229" << 0;
    QTest::newRow("not a date") << "" << 0;
}

void TestWeekday::weekdayName()
{
    QFETCH(QString, text);
    QFETCH(int, dayOfWeek);
    const QString expected =
        dayOfWeek ? QLocale::system().dayName(dayOfWeek, QLocale::LongFormat) : QString();
    QCOMPARE(YmdWeekdayName(text), expected);
}

QTEST_GUILESS_MAIN(TestWeekday)
#include "tst_weekday.moc"
