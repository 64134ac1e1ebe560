#include "log/textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>

namespace {

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

class TestTextFile : public QObject {
    Q_OBJECT
private slots:
    void appendsOrTellsWhyNot_data();
    void appendsOrTellsWhyNot();
};

void TestTextFile::appendsOrTellsWhyNot_data()
{
    QTest::addColumn<QString>("target"); // relative to a fresh folder holding "old" and "folder/"
    QTest::addColumn<QString>("reason"); // empty: written
    QTest::addColumn<QByteArray>("oldAfter");
    QTest::newRow("new file") << "new" << QString() << QByteArray("old");
    QTest::newRow("existing, unended line") << "old" << QString() << QByteArray("oldline\r\n");
    QTest::newRow("folder missing") << "missing/new" << SystemReason(ENOENT) << QByteArray("old");
    QTest::newRow("parent is a plain file")
        << "old/new" << SystemReason(ENOTDIR) << QByteArray("old");
    QTest::newRow("target is a folder") << "folder" << SystemReason(EISDIR) << QByteArray("old");
    QTest::newRow("empty path") << "" << SystemReason(ENOENT) << QByteArray("old");
    QTest::newRow("symbolic link to a file")
        << "link" << QStringLiteral("Not a regular file") << QByteArray("old");
    QTest::newRow("device") << "/dev/full" << QStringLiteral("Not a regular file")
                            << QByteArray("old");
}

void TestTextFile::appendsOrTellsWhyNot()
{
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

    QCOMPARE(TextFileAppendLine(path, "line"), reason);

    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), oldAfter);
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    if (target == "new") {
        QFile created(path);
        QVERIFY(created.open(QIODevice::ReadOnly));
        QCOMPARE(created.readAll(), QByteArray("line\r\n"));
    }
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
