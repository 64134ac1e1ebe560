#include "convert/codepage.h"
#include "log/activityrecord.h"
#include "log/log1month.h"
#include "support/logsandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QString kDayFile = QStringLiteral("24.LOG");
const QString kStamp = QStringLiteral("07-24-2018 13:05:09 ");

QByteArray Sjis(const char* utf8)
{
    return TextToAnsiBytes(QString::fromUtf8(utf8));
}

} // namespace

class TestLog1Month : public QObject {
    Q_OBJECT
private slots:
    void oneMonthRule_data();
    void oneMonthRule();
    void startLineCarriesTitleAsGiven_data();
    void startLineCarriesTitleAsGiven();
    void folderIsNormalised_data();
    void folderIsNormalised();
    void startWritesIntoTheGivenFolder();
    void endClosesTheDayFileAndLaterLinesGoToWeekdayFile();
    void endWithoutStartWritesToWeekdayFile();
    void dayFileIsChosenOnceAtStart();
    void unwritableLogIsToldAndCounted_data();
    void unwritableLogIsToldAndCounted();
    void twoLogsInOneProcessKeepTheirOwn();
    void longLinesThatDoNotFitMakeOneRunOfFailures();
};

void TestLog1Month::oneMonthRule_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<bool>("kept");
    const QByteArray longToday = "07-24-2018 " + QByteArray(400, 'x') + "\r\n";
    const QByteArray longOld = "06-24-2018 " + QByteArray(400, 'x') + "\r\n";
    QTest::newRow("no file") << QByteArray() << true;
    QTest::newRow("empty file") << QByteArray("") << true;
    QTest::newRow("same date continues")
        << QByteArray("07-24-2018 09:00:00 Start a\r\n07-24-2018 09:00:01 b\r\n") << true;
    QTest::newRow("previous month emptied")
        << QByteArray("06-24-2018 09:00:00 Start a\r\n06-24-2018 09:00:01 b\r\n") << false;
    QTest::newRow("previous year emptied") << QByteArray("07-24-2017 09:00:00 x\r\n") << false;
    QTest::newRow("ten characters never empty") << QByteArray("06-24-2018\r\nold\r\n") << true;
    QTest::newRow("short first line") << QByteArray("abc\r\n06-24-2018 x\r\n") << true;
    QTest::newRow("empty first line") << QByteArray("\r\n06-24-2018 x\r\n") << true;
    QTest::newRow("eleven characters, other date") << QByteArray("06-24-2018x\r\n") << false;
    QTest::newRow("another tool's date form") << QByteArray("2018/07/24 09:00:00 x\r\n") << false;
    QTest::newRow("line feed only") << QByteArray("06-24-2018 x\nmore\n") << false;
    QTest::newRow("first line without line end") << QByteArray("06-24-2018 x") << false;
    QTest::newRow("a lone CR ends the line") << QByteArray("06-24-2018\rx\r\n") << true;
    QTest::newRow("CR ends another tool's short line")
        << QByteArray("abc\rdef 06-24-2018 x\r\n") << true;
    QTest::newRow("ten double-byte characters kept") << Sjis("テストテストテストテ\r\n") << true;
    QTest::newRow("eleven double-byte characters emptied")
        << Sjis("テストテストテストテス\r\n") << false;
    QTest::newRow("long first line, today") << longToday << true;
    QTest::newRow("long first line, old") << longOld << false;
}

void TestLog1Month::oneMonthRule()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, kept);
    LogSandbox sandbox;
    if (!before.isNull())
        sandbox.write(kDayFile, before);

    sandbox.log.LogStart("T", "");

    const QByteArray startLine = TextToAnsiBytes(kStamp + "Start T") + "\r\n";
    QCOMPARE(sandbox.bytes(kDayFile), (kept ? before : QByteArray()) + startLine);
}

void TestLog1Month::startLineCarriesTitleAsGiven_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("window caption")
        << QString::fromUtf8("Tidewell－テスト")
        << QByteArray("07-24-2018 13:05:09 Start Tidewell\x81\x7C\x83\x65\x83\x58\x83\x67\r\n");
    QTest::newRow("spaces kept") << "  two  "
                                 << QByteArray("07-24-2018 13:05:09 Start   two  \r\n");
    QTest::newRow("empty title") << "" << QByteArray("07-24-2018 13:05:09 Start \r\n");
}

void TestLog1Month::startLineCarriesTitleAsGiven()
{
    QFETCH(QString, title);
    QFETCH(QByteArray, line);
    LogSandbox sandbox;
    sandbox.log.LogStart(title, "");
    QCOMPARE(sandbox.bytes(kDayFile), line);
    QCOMPARE(sandbox.log.Title(), title);
}

void TestLog1Month::folderIsNormalised_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("logFolder");
    QTest::newRow("spaces around") << "  /data/logs  "
                                   << "/data/logs/";
    QTest::newRow("ends in slash") << "/data/logs/"
                                   << "/data/logs/";
    QTest::newRow("ends in backslash") << "D:\\logs\\"
                                       << "D:\\logs\\";
    QTest::newRow("bare drive") << "D:"
                                << "D:";
    QTest::newRow("tab is not trimmed") << "\tlogs"
                                        << "\tlogs/";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("spaces only") << "   "
                                 << "";
}

void TestLog1Month::folderIsNormalised()
{
    QFETCH(QString, folder);
    QFETCH(QString, logFolder);
    LogSandbox sandbox;
    sandbox.log.LogFolderSet(folder);
    QCOMPARE(sandbox.log.Folder(), logFolder);
    const QString prefix = logFolder.isEmpty() ? sandbox.folder() + "/" : logFolder;
    QCOMPARE(sandbox.log.LogDayFilePath(), prefix + kDayFile);
}

void TestLog1Month::startWritesIntoTheGivenFolder()
{
    LogSandbox sandbox;
    QVERIFY(QDir(sandbox.folder()).mkdir("sub"));
    sandbox.log.LogStart("T", " " + sandbox.path("sub") + " ");
    QCOMPARE(sandbox.log.File(), sandbox.path("sub/24.LOG"));
    QCOMPARE(sandbox.lines("sub/24.LOG"), QStringList{kStamp + "Start T"});
    QVERIFY(!sandbox.exists(kDayFile));
}

void TestLog1Month::endClosesTheDayFileAndLaterLinesGoToWeekdayFile()
{
    LogSandbox sandbox;
    sandbox.log.LogStart("T", sandbox.folder());
    sandbox.log.LogWrite("line");
    sandbox.log.LogEnd();
    QCOMPARE(sandbox.log.File(), QString());
    QCOMPARE(sandbox.log.Title(), QString());
    QCOMPARE(sandbox.log.Folder(), sandbox.folder() + "/");
    sandbox.log.LogWrite("after");

    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({kStamp + "Start T", kStamp + "line", kStamp + "End T"}));
    QCOMPARE(sandbox.lines(sandbox.weekdayFileName()), QStringList{kStamp + "after"});
}

void TestLog1Month::endWithoutStartWritesToWeekdayFile()
{
    LogSandbox sandbox;
    const QString weekdayFile = sandbox.weekdayFileName();
    QCOMPARE(sandbox.log.LogCurrentFile(), sandbox.path(weekdayFile));
    sandbox.write(weekdayFile, "06-24-2018 old line\r\n");

    sandbox.log.LogEnd();
    QCOMPARE(sandbox.lines(weekdayFile), QStringList({"06-24-2018 old line", kStamp + "End "}));
    QVERIFY(!sandbox.exists(kDayFile));
}

void TestLog1Month::dayFileIsChosenOnceAtStart()
{
    LogSandbox sandbox;
    sandbox.setNow(QDateTime(QDate(2018, 7, 24), QTime(23, 59, 59)));
    sandbox.log.LogStart("T", "");
    sandbox.setNow(QDateTime(QDate(2018, 7, 25), QTime(0, 0, 1)));
    sandbox.log.LogWrite("after midnight");
    sandbox.setNow(QDateTime(QDate(2018, 8, 24), QTime(12, 0, 0)));
    sandbox.log.LogWrite("a month on");

    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({"07-24-2018 23:59:59 Start T", "07-25-2018 00:00:01 after midnight",
                          "08-24-2018 12:00:00 a month on"}));
    QVERIFY(!sandbox.exists("25.LOG"));
}

void TestLog1Month::unwritableLogIsToldAndCounted_data()
{
    QTest::addColumn<QString>("folder");    // relative to the sandbox
    QTest::addColumn<QString>("dayFileIs"); // "link" to an old day file, "fifo", or left alone
    QTest::addColumn<bool>("dateKnown");
    QTest::addColumn<QString>("reason"); // empty: nothing written and nothing told
    const auto system = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    QTest::newRow("folder missing") << "missing"
                                    << "" << true << system(ENOENT);
    QTest::newRow("parent is a plain file") << "plain"
                                            << "" << true << system(ENOTDIR);
    QTest::newRow("day file is a link") << ""
                                        << "link" << true << "Not a regular file";
    QTest::newRow("day file is a FIFO") << ""
                                        << "fifo" << true << system(ENXIO);
    QTest::newRow("date unknown") << ""
                                  << "" << false << QString();
}

// Nothing outside a regular day file is written to or emptied, the one-month rule included, and
// no open waits for a reader.
void TestLog1Month::unwritableLogIsToldAndCounted()
{
    QFETCH(QString, folder);
    QFETCH(QString, dayFileIs);
    QFETCH(bool, dateKnown);
    QFETCH(QString, reason);
    LogSandbox sandbox;
    const QByteArray oldDay = "06-24-2018 09:00:00 Start a\r\n";
    sandbox.write("plain", oldDay);
    if (dayFileIs == "link")
        QVERIFY(QFile::link(sandbox.path("plain"), sandbox.path(kDayFile)));
    if (dayFileIs == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(sandbox.path(kDayFile)).constData(), 0600), 0);
    if (!dateKnown)
        sandbox.setNow(QDateTime());
    const QStringList before =
        QDir(sandbox.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QString logFolder = folder.isEmpty() ? QString() : sandbox.path(folder);

    const LogWriteResult started = sandbox.log.LogStart("T", logFolder);
    const LogWriteResult line = sandbox.log.LogWrite("line");

    QVERIFY(!started.written);
    const QString dayFile = (folder.isEmpty() ? sandbox.folder() : logFolder) + "/" + kDayFile;
    QCOMPARE(started.failure, reason.isEmpty() ? QString() : reason + " (" + dayFile + ")");
    QVERIFY(!line.written);
    QCOMPARE(line.failure, QString()); // told once per run
    QCOMPARE(sandbox.log.LogLinesNotWritten(), reason.isEmpty() ? 0 : 2);
    sandbox.log.LogEnd();
    QCOMPARE(QDir(sandbox.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QCOMPARE(sandbox.bytes("plain"), oldDay);
}

// Two logs side by side, in folders and on days of their own: each file holds its own lines, and
// one log's run of failures is neither ended nor lengthened by the other's lines.
void TestLog1Month::twoLogsInOneProcessKeepTheirOwn()
{
    LogSandbox first;
    LogSandbox second;
    second.setNow(SandboxMoment().addDays(1));
    first.log.LogStart("A", QString());
    second.log.LogStart("B", QString());
    QVERIFY(QFile::remove(first.path(kDayFile)) && QDir().mkdir(first.path(kDayFile)));
    first.log.LogWrite("a lost");
    second.log.LogWrite("b1");
    first.log.LogWrite("a lost too");
    second.log.LogWrite("b2");

    QCOMPARE(first.log.LogLinesNotWritten(), 2);
    QCOMPARE(second.log.LogLinesNotWritten(), 0);
    QVERIFY(QDir().rmdir(first.path(kDayFile)));
    first.log.LogEnd();
    second.log.LogEnd();
    const QString nextDay = "07-25-2018 13:05:09 ";
    QCOMPARE(first.lines(kDayFile),
             QStringList({kStamp + kStamp + "Log Err: 2 lines not written.", kStamp + "End A"}));
    QCOMPARE(second.lines("25.LOG"),
             QStringList({nextDay + "Start B", nextDay + "b1", nextDay + "b2", nextDay + "End B"}));
}

// A disk with room for a short line but not a long one: the notice of the lines lost goes in only
// with a line, so the run of failures is told once and counted whole.
void TestLog1Month::longLinesThatDoNotFitMakeOneRunOfFailures()
{
    LogSandbox sandbox;
    ActivityRecord record(sandbox.log);
    QStringList shown;
    const auto show = [&](const QString& line) { shown << line.mid(20); };
    sandbox.log.LogStart("T", QString());
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit roomForShortLines{rlim_t(QFileInfo(sandbox.path(kDayFile)).size() + 200),
                                   limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &roomForShortLines), 0);
    const QString longLine(1000, QChar('x'));
    for (int i = 0; i < 3; ++i)
        record.Record(longLine, show);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    record.Record("fits", show);

    const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
    const QString failure = "Log Err: " + reason + " (" + sandbox.path(kDayFile) + ")";
    QCOMPARE(shown, QStringList({longLine, failure, longLine, longLine,
                                 "Log Err: 3 lines not written.", "fits"}));
    QCOMPARE(sandbox.lines(kDayFile),
             QStringList({kStamp + "Start T", kStamp + kStamp + "Log Err: 3 lines not written.",
                          kStamp + kStamp + "fits"}));
}

QTEST_GUILESS_MAIN(TestLog1Month)
#include "tst_log1month.moc"
