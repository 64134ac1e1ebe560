// The program as a process, seen through its day file: the start and end lines of each mode, the
// one-month rule applied to a day file left from an earlier run, and a line that does not fit.
#include "support/programrun.h"

#include <QDir>
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
    void tornLastLineIsSetApart();
    void helpAndVersionNeedNoDisplay_data();
    void helpAndVersionNeedNoDisplay();
    void withoutAnyDisplayTheWayOutIsNamed();
    void pathNotUtf8EndsTheRun_data();
    void pathNotUtf8EndsTheRun();
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

// Nothing arrives, so the run logs only its two frame lines.
void TestProcessLog::startAndEndLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, stopSignal);
    QFETCH(QString, caption);
    ProgramRun run;
    run.listenOnAFreePort();
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
    run.listenOnAFreePort();
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
    run.listenOnAFreePort();
    QVERIFY(run.start({}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(run.stop());

    QFile dayFile(run.dayFileName());
    QVERIFY(dayFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = dayFile.readAll();
    QCOMPARE(bytes.size(), 44);
    QVERIFY(bytes.endsWith("Start Tidewell\x81\x7C\x83\x65\x83\x58\x83\x67\r\n"));
}

// A run killed in the middle of a line left its start; the next run's lines begin lines of their
// own, and the torn bytes stay as they were.
void TestProcessLog::tornLastLineIsSetApart()
{
    ProgramRun run;
    const QByteArray earlier = OldLine(QDate::currentDate(), "Start earlier run").toLatin1() +
                               "\r\n" + OldLine(QDate::currentDate(), "RCV[4142").toLatin1();
    {
        QFile dayFile(run.dayFileName());
        QVERIFY(dayFile.open(QIODevice::WriteOnly));
        dayFile.write(earlier);
    }
    run.listenOnAFreePort();
    QVERIFY(run.start({}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(run.stop());

    QFile dayFile(run.dayFileName());
    QVERIFY(dayFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = dayFile.readAll();
    QVERIFY2(bytes.startsWith(earlier + "\r\n"), bytes.constData());
    const QStringList lines = run.dayFileLines().mid(2);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(IsLogLine(lines.at(0), QStringLiteral("Start Tidewell－テスト")),
             qPrintable(lines.at(0)));
    QVERIFY2(IsLogLine(lines.at(1), QStringLiteral("End Tidewell－テスト")),
             qPrintable(lines.at(1)));
}

void TestProcessLog::helpAndVersionNeedNoDisplay_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("--help") << "--help"
                            << "Usage: peertest [udp | PORT]";
    QTest::newRow("-h") << "-h"
                        << "Usage: peertest [udp | PORT]";
    QTest::newRow("--version") << "--version"
                               << "peertest " PEERTEST_VERSION;
}

// Without any display and without a platform named, a window could not even be tried.
void TestProcessLog::helpAndVersionNeedNoDisplay()
{
    QFETCH(QString, argument);
    QFETCH(QString, firstLine);
    ProgramRun run;
    QProcessEnvironment environment = run.process().processEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    run.process().setProcessEnvironment(environment);
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QVERIFY(run.start({argument}));
    QVERIFY(run.process().waitForFinished(10000));

    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
    const QString out = QString::fromLocal8Bit(run.process().readAllStandardOutput());
    QCOMPARE(out.section(QLatin1Char('\n'), 0, 0), firstLine);
    if (argument != QLatin1String("--version"))
        QVERIFY2(out.contains("PEERTEST_RECEIVER_PORT") && out.contains("man peertest"),
                 qPrintable(out));
    QCOMPARE(run.process().readAllStandardError(), QByteArray());
    QCOMPARE(QDir(run.folder()).entryList(QDir::Files), QStringList{QStringLiteral("peertest")});
}

// With no display and no headless platform asked for, the program says what to do before Qt
// gives up.
void TestProcessLog::withoutAnyDisplayTheWayOutIsNamed()
{
    ProgramRun run;
    QProcessEnvironment environment = run.process().processEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    run.process().setProcessEnvironment(environment);
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QVERIFY(run.start({}));
    QVERIFY(run.process().waitForFinished(10000));

    QVERIFY(run.process().exitStatus() != QProcess::NormalExit || run.process().exitCode() != 0);
    const QString errors = QString::fromLocal8Bit(run.process().readAllStandardError());
    QVERIFY2(errors.startsWith(QStringLiteral("peertest: there is no display")) &&
                 errors.contains(QStringLiteral("QT_QPA_PLATFORM=offscreen")),
             qPrintable(errors));
}

// Qt would read the byte 0xFF as U+FFFD: the run would log, capture or read rules in another
// folder than the one named, so it does not start at all.
void TestProcessLog::pathNotUtf8EndsTheRun_data()
{
    QTest::addColumn<QString>("variable");
    for (const char* name : {"PEERTEST_LOG_DIR", "PEERTEST_CAPTURE", "PEERTEST_RULES"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestProcessLog::pathNotUtf8EndsTheRun()
{
    QFETCH(QString, variable);
    ProgramRun run;
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    run.listenOnAFreePort();
    run.logIn(run.folder());
    const QString named = run.folder() + QStringLiteral("/ff");
    QVERIFY(run.startThroughShell(QStringLiteral("export %1=\"%2$ff\"").arg(variable, named), {}));
    QVERIFY(run.process().waitForFinished(10000));

    QCOMPARE(run.process().exitCode(), 1);
    const QString errors = QString::fromUtf8(run.process().readAllStandardError());
    QVERIFY2(errors.contains(
                 QStringLiteral("peertest: %1 is not UTF-8 text: %2\\xFF\n").arg(variable, named)),
             qPrintable(errors));
    QCOMPARE(QDir(run.folder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"peertest"});
}

QTEST_MAIN(TestProcessLog)
#include "tst_process_log.moc"
