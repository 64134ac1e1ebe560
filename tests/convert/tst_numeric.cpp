#include "convert/numeric.h"

#include <QTest>
#include <clocale>
#include <limits>

class TestNumeric : public QObject {
    Q_OBJECT
private slots:
    void value_data();
    void value();
    void valueInCommaLocale_data() { value_data(); }
    void valueInCommaLocale();
    void rounding_data();
    void rounding();
};

void TestNumeric::value_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("plain") << "50000" << 50000.0;
    QTest::newRow("blanks around") << "  50001 " << 50001.0;
    QTest::newRow("blank inside") << "500 01" << 50001.0;
    QTest::newRow("tab and line feed inside") << "5\t0\n1" << 501.0;
    QTest::newRow("carriage return stops") << "5\r1" << 5.0;
    QTest::newRow("letters after") << "123abc" << 123.0;
    QTest::newRow("letters only") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("minus") << "-12" << -12.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("blank after sign") << "- 3" << -3.0;
    QTest::newRow("decimal") << "2.5" << 2.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("two points") << "1.2.3" << 1.2;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("point and exponent") << "1.5e3" << 1500.0;
    QTest::newRow("signed exponent") << "25E-1" << 2.5;
    QTest::newRow("exponent without digits") << "7e" << 7.0;
    QTest::newRow("exponent sign without digits") << "7e+x" << 7.0;
    QTest::newRow("hex prefix") << "&HFF" << 255.0;
    QTest::newRow("hex lower case") << "&hff" << 255.0;
    QTest::newRow("hex four digits") << "&HFFFF" << 65535.0;
    QTest::newRow("hex with blank inside") << "&H F F" << 255.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("blank between & and H") << "& H10" << 16.0;
    QTest::newRow("ampersand then digits") << "&12" << 0.0;
    QTest::newRow("blanks inside exponent") << "1 e - 2" << 0.01;
    QTest::newRow("NUL stops") << QString::fromLatin1("1\0"
                                                      "2",
                                                      3)
                               << 1.0;
    QTest::newRow("udp word") << "UDP 50000" << 0.0;
    QTest::newRow("full-width digit") << QString::fromUtf8("５") << 0.0;
    QTest::newRow("huge") << "99999999999" << 99999999999.0;
}

void TestNumeric::value()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(NumericValue(text), expected);
}

// The window takes the C library's locale from the desktop; a decimal comma there must not change
// what a typed number means.
void TestNumeric::valueInCommaLocale()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"),
             "locale de_DE.UTF-8 is not installed; `make deps` generates it");
    const double read = NumericValue(text);
    std::setlocale(LC_ALL, "C");
    QCOMPARE(read, expected);
}

void TestNumeric::rounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");
    QTest::newRow("half down to even") << 2.5 << true << 2;
    QTest::newRow("half up to even") << 3.5 << true << 4;
    QTest::newRow("50000.5") << 50000.5 << true << 50000;
    QTest::newRow("50001.5") << 50001.5 << true << 50002;
    QTest::newRow("negative half") << -2.5 << true << -2;
    QTest::newRow("below half") << 2.49 << true << 2;
    QTest::newRow("largest") << 2147483647.0 << true << std::numeric_limits<int>::max();
    QTest::newRow("smallest") << -2147483648.0 << true << std::numeric_limits<int>::min();
    QTest::newRow("just over") << 2147483647.5 << false << 0;
    QTest::newRow("far over") << 99999999999.0 << false << 0;
    QTest::newRow("far under") << -99999999999.0 << false << 0;
}

void TestNumeric::rounding()
{
    QFETCH(double, value);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    const std::optional<qint32> rounded = RoundToInt32(value);
    QCOMPARE(rounded.has_value(), fits);
    if (fits)
        QCOMPARE(*rounded, expected);
}

QTEST_APPLESS_MAIN(TestNumeric)
#include "tst_numeric.moc"
