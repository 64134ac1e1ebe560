// The program as a process, seen through its day file: the start and end lines of each mode, the
// one-month rule applied to a day file left from an earlier run, and a line that does not fit.
#include "support/programrun.h"

#include <QFile>
#include <QtTest>
#include <sys/resource.h>

namespace {

QString OldLine(const QDate& date, const QString& text)
{
    return date.toString(QStringLiteral("MM-dd-yyyy")) + QStringLiteral(" 09:00:00 ") + text;
}

void WriteLines(const QString& path, const QStringList& lines)
{
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QString& line : lines)
        out.write(line.toLatin1() + "\r\n");
}

} // namespace

class TestProcessLog : public QObject {
    Q_OBJECT
private slots:
    void startAndEndLines_data();
    void startAndEndLines();
    void earlierDayFile_data();
    void earlierDayFile();
    void lineOverFileSizeLimitIsCutBack();
};

void TestProcessLog::startAndEndLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("stopSignal");
    QTest::addColumn<QString>("caption");
    const QString udp = QStringLiteral("Marrowby－テスト");
    const QString tcp = QStringLiteral("Tidewell－テスト");
    QTest::newRow("no argument, SIGTERM") << QStringList{} << SIGTERM << tcp;
    QTest::newRow("udp, SIGTERM") << QStringList{"udp"} << SIGTERM << udp;
    QTest::newRow("UDP, SIGINT") << QStringList{"UDP"} << SIGINT << udp;
    QTest::newRow("other word, SIGINT") << QStringList{"listen"} << SIGINT << tcp;
}

// Without a port on the command line nothing opens, so the run logs only its two frame lines.
void TestProcessLog::startAndEndLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, stopSignal);
    QFETCH(QString, caption);
    ProgramRun run;
    QVERIFY(run.start(arguments));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(run.stop(stopSignal));

    const QStringList lines = run.dayFileLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(IsLogLine(lines.at(0), QStringLiteral("Start ") + caption), qPrintable(lines.at(0)));
    QVERIFY2(IsLogLine(lines.at(1), QStringLiteral("End ") + caption), qPrintable(lines.at(1)));
    const QString today = QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"));
    QVERIFY(lines.at(0).startsWith(today));
}

void TestProcessLog::earlierDayFile_data()
{
    QTest::addColumn<int>("monthsBack");
    QTest::addColumn<bool>("kept");
    QTest::newRow("last month: emptied") << 1 << false;
    QTest::newRow("last year: emptied") << 12 << false;
    QTest::newRow("today: continued") << 0 << true;
}

void TestProcessLog::earlierDayFile()
{
    QFETCH(int, monthsBack);
    QFETCH(bool, kept);
    ProgramRun run;
    const QDate written = QDate::currentDate().addMonths(-monthsBack);
    const QStringList old{OldLine(written, "Start earlier run"),
                          OldLine(written, "End earlier run")};
    WriteLines(run.dayFileName(), old);
    QVERIFY(run.start({}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(run.stop());

    const QStringList fresh{QStringLiteral("Start Tidewell－テスト"),
                            QStringLiteral("End Tidewell－テスト")};
    QStringList lines = run.dayFileLines();
    if (kept) {
        QCOMPARE(lines.mid(0, old.size()), old);
        lines = lines.mid(old.size());
    }
    QCOMPARE(lines.size(), fresh.size());
    for (int i = 0; i < fresh.size(); ++i)
        QVERIFY2(IsLogLine(lines.at(i), fresh.at(i)), qPrintable(lines.at(i)));
}

// Under a file size limit that the end line crosses, the program neither dies of SIGXFSZ nor
// leaves the part of the line that fitted.
void TestProcessLog::lineOverFileSizeLimitIsCutBack()
{
    ProgramRun run;
    run.process().setChildProcessModifier([] {
        struct rlimit limit = {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 64; // the start line takes 44 bytes, the end line 42
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QVERIFY(run.start({}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(run.stop());

    QFile dayFile(run.dayFileName());
    QVERIFY(dayFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = dayFile.readAll();
    QCOMPARE(bytes.size(), 44);
    QVERIFY(bytes.endsWith("Start Tidewell\x81\x7C\x83\x65\x83\x58\x83\x67\r\n"));
}

QTEST_MAIN(TestProcessLog)
#include "tst_process_log.moc"
