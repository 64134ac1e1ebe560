#include "log/textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// What another program does to the file between a short write of ours and its undo: the write
// after the short one crosses the file size limit, and SIGXFSZ runs this in between.
enum class Meanwhile { Nothing, Appends, CutsBack };
Meanwhile meanwhile = Meanwhile::Nothing;
char meanwhilePath[4096];

void OnFileSizeLimit(int)
{
    struct rlimit limit = {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int fd = ::open(meanwhilePath, O_WRONLY | O_APPEND);
    bool done = true;
    if (meanwhile == Meanwhile::Appends)
        done = ::write(fd, "OTHER\r\n", 7) == 7;
    if (meanwhile == Meanwhile::CutsBack)
        done = ::ftruncate(fd, 2) == 0;
    ::close(fd);
    if (!done)
        ::_exit(2);
}

// Appends the line in a child under a file size limit of `limit` bytes; true when the child
// ran and the append reported a failure.
bool AppendOverLimitInChild(const QString& path, const QString& line, rlim_t limit)
{
    TextFile file;
    const QByteArray encoded = QFile::encodeName(path);
    qstrncpy(meanwhilePath, encoded.constData(), sizeof meanwhilePath);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, OnFileSizeLimit);
        struct rlimit limited = {};
        ::getrlimit(RLIMIT_FSIZE, &limited);
        limited.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        ::_exit(file.AppendLine(path, line).isEmpty() ? 1 : 0);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

} // namespace

class TestTextFile : public QObject {
    Q_OBJECT
private slots:
    void appendsOrTellsWhyNot_data();
    void appendsOrTellsWhyNot();
    void shortWriteIsUndoneOnlyWhileItIsTheEnd_data();
    void shortWriteIsUndoneOnlyWhileItIsTheEnd();
    void lineTornOffByAnotherWriterIsSetApart();
    void twoCopiesAppendingAtOnceKeepEveryLineWhole_data();
    void twoCopiesAppendingAtOnceKeepEveryLineWhole();
    void folderNoLongerAtItsPathIsLeft_data();
    void folderNoLongerAtItsPathIsLeft();
};

void TestTextFile::appendsOrTellsWhyNot_data()
{
    QTest::addColumn<QString>("target"); // relative to a fresh folder holding "old" and "folder/"
    QTest::addColumn<QString>("reason"); // empty: written
    QTest::addColumn<QByteArray>("oldAfter");
    QTest::newRow("new file") << "new" << QString() << QByteArray("old");
    QTest::newRow("existing, unended line") << "old" << QString() << QByteArray("old\r\nline\r\n");
    QTest::newRow("folder missing") << "missing/new" << SystemReason(ENOENT) << QByteArray("old");
    QTest::newRow("parent is a plain file")
        << "old/new" << SystemReason(ENOTDIR) << QByteArray("old");
    QTest::newRow("target is a folder") << "folder" << SystemReason(EISDIR) << QByteArray("old");
    QTest::newRow("NUL in the path: read up to it")
        << QStringLiteral("folder") + QChar(0) + QStringLiteral("/new") << SystemReason(EISDIR)
        << QByteArray("old");
    QTest::newRow("empty path") << "" << SystemReason(ENOENT) << QByteArray("old");
    QTest::newRow("symbolic link to a file")
        << "link" << QStringLiteral("Not a regular file") << QByteArray("old");
    QTest::newRow("device") << "/dev/full" << QStringLiteral("Not a regular file")
                            << QByteArray("old");
}

void TestTextFile::appendsOrTellsWhyNot()
{
    TextFile file;
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QFETCH(QByteArray, oldAfter);
    if (target.startsWith("/dev/") && !QFileInfo::exists(target))
        QSKIP("no such device on this machine");
    QTemporaryDir dir;
    QFile old(dir.filePath("old"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(QFile::link(dir.filePath("old"), dir.filePath("link")));
    const QString path = target.isEmpty() || target.startsWith('/') ? target : dir.filePath(target);

    QCOMPARE(file.AppendLine(path, "line"), reason);

    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), oldAfter);
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    QVERIFY(!QFileInfo::exists(dir.filePath("folder/new")));
    if (target == "new") {
        QFile created(path);
        QVERIFY(created.open(QIODevice::ReadOnly));
        QCOMPARE(created.readAll(), QByteArray("line\r\n"));
    }
}

void TestTextFile::shortWriteIsUndoneOnlyWhileItIsTheEnd_data()
{
    QTest::addColumn<int>("other");
    QTest::addColumn<QByteArray>("after");
    // "old" CR LF, then 10 of the line's 22 bytes fit under the limit of 15.
    QTest::newRow("nobody else: cut back") << int(Meanwhile::Nothing) << QByteArray("old\r\n");
    QTest::newRow("another appends: its line stays")
        << int(Meanwhile::Appends) << QByteArray("old\r\n0123456789OTHER\r\n");
    QTest::newRow("another cuts back: not lengthened")
        << int(Meanwhile::CutsBack) << QByteArray("ol");
}

void TestTextFile::shortWriteIsUndoneOnlyWhileItIsTheEnd()
{
    TextFile file;
    QFETCH(int, other);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("24.LOG");
    QVERIFY(file.AppendLine(path, "old").isEmpty());
    meanwhile = Meanwhile(other);

    QVERIFY(AppendOverLimitInChild(path, "0123456789ABCDEFGHIJ", 15));

    QCOMPARE(ReadAll(path), after);
}

// The size this program's last line ended at no longer holds: the tail is looked at again.
void TestTextFile::lineTornOffByAnotherWriterIsSetApart()
{
    TextFile file;
    QTemporaryDir dir;
    const QString path = dir.filePath("24.LOG");
    QVERIFY(file.AppendLine(path, "first").isEmpty());
    QFile other(path);
    QVERIFY(other.open(QIODevice::Append));
    other.write("torn");
    other.close();
    QVERIFY(file.AppendLine(path, "second").isEmpty());
    QVERIFY(file.AppendLine(path, "third").isEmpty());

    QCOMPARE(ReadAll(path), QByteArray("first\r\ntorn\r\nsecond\r\nthird\r\n"));
}

// Two copies of the program logging flat out into one day file: a line of one copy that is still
// going in is not taken for a torn line by the other (which would give an empty line), and no
// line is glued to another. A long line spans pages, and its write may stop between two of them
// for as long as the system likes.
void TestTextFile::twoCopiesAppendingAtOnceKeepEveryLineWhole_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("shortest");
    QTest::newRow("short lines") << 50000 << 0;
    QTest::newRow("8 KB lines") << 8000 << 8192;
}

void TestTextFile::twoCopiesAppendingAtOnceKeepEveryLineWhole()
{
    QFETCH(int, lines);
    QFETCH(int, shortest);
    QTemporaryDir dir;
    const QString path = dir.filePath("24.LOG");
    const auto lineOf = [shortest](char copy, int i) {
        // Lengths vary, so lines keep crossing the pages the system copies a write in by.
        return QStringLiteral("%1 %2 ").arg(copy).arg(i) + QString(shortest + i % 300, QChar('x'));
    };
    pid_t copies[2] = {};
    for (char copy : {'A', 'B'}) {
        copies[copy - 'A'] = ::fork();
        if (copies[copy - 'A'] == 0) {
            TextFile file;
            for (int i = 0; i < lines; ++i)
                file.AppendLine(path, lineOf(copy, i));
            ::_exit(0);
        }
    }
    for (pid_t copy : copies)
        QVERIFY(copy > 0 && ::waitpid(copy, nullptr, 0) == copy);

    const QList<QByteArray> written = ReadAll(path).split('\n');
    QCOMPARE(written.count("\r"), 0);
    QCOMPARE(written.size(), 2 * lines + 1); // the last line end leaves an empty tail
    int next[2] = {};
    for (int at = 0; at < 2 * lines; ++at) {
        const QString line = QString::fromLatin1(written.at(at).chopped(1));
        const int copy = line.startsWith('A') ? 0 : 1;
        QVERIFY2(written.at(at).endsWith('\r') && line == lineOf(char('A' + copy), next[copy]),
                 qPrintable(QStringLiteral("line %1: \"%2\"").arg(at).arg(line)));
        ++next[copy];
    }
}

void TestTextFile::folderNoLongerAtItsPathIsLeft_data()
{
    QTest::addColumn<bool>("moved"); // else removed
    QTest::addColumn<bool>("remade");
    QTest::addColumn<QString>("reason");
    QTest::newRow("removed, made again") << false << true << QString();
    QTest::newRow("moved, another made in its place") << true << true << QString();
    QTest::newRow("moved, nothing in its place") << true << false << SystemReason(ENOENT);
}

void TestTextFile::folderNoLongerAtItsPathIsLeft()
{
    TextFile file;
    QFETCH(bool, moved);
    QFETCH(bool, remade);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QDir parent(dir.path());
    QVERIFY(parent.mkdir("log"));
    const QString path = dir.filePath("log/24.LOG");
    QVERIFY(file.AppendLine(path, "first").isEmpty());
    if (moved) {
        QVERIFY(parent.rename("log", "moved"));
    } else {
        QVERIFY(QFile::remove(path));
        QVERIFY(parent.rmdir("log"));
    }
    if (remade)
        QVERIFY(parent.mkdir("log"));
    if (moved)
        QTest::qWait(30); // longer than a moved folder may go on being written to

    QCOMPARE(file.AppendLine(path, "second"), reason);

    QCOMPARE(ReadAll(path), remade ? QByteArray("second\r\n") : QByteArray("(unreadable)"));
    if (moved)
        QCOMPARE(ReadAll(dir.filePath("moved/24.LOG")), QByteArray("first\r\n"));
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
