#include "log/textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestTextFile : public QObject {
    Q_OBJECT
private slots:
    void appendsOrReportsTheLineLost_data();
    void appendsOrReportsTheLineLost();
};

void TestTextFile::appendsOrReportsTheLineLost_data()
{
    QTest::addColumn<QString>("target"); // relative to a fresh folder holding "old" and "folder/"
    QTest::addColumn<bool>("lost");
    QTest::addColumn<QByteArray>("oldAfter");
    QTest::newRow("new file") << "new" << false << QByteArray("old");
    QTest::newRow("existing, unended line") << "old" << false << QByteArray("oldline\r\n");
    QTest::newRow("folder missing") << "missing/new" << true << QByteArray("old");
    QTest::newRow("parent is a plain file") << "old/new" << true << QByteArray("old");
    QTest::newRow("target is a folder") << "folder" << true << QByteArray("old");
    QTest::newRow("empty path") << "" << true << QByteArray("old");
    QTest::newRow("write fails after open") << "/dev/full" << true << QByteArray("old");
}

void TestTextFile::appendsOrReportsTheLineLost()
{
    QFETCH(QString, target);
    QFETCH(bool, lost);
    QFETCH(QByteArray, oldAfter);
    if (target.startsWith("/dev/") && !QFileInfo::exists(target))
        QSKIP("no such device on this machine");
    QTemporaryDir dir;
    QFile old(dir.filePath("old"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    const QString path = target.isEmpty() || target.startsWith('/') ? target : dir.filePath(target);

    QCOMPARE(TextFileAppendLine(path, "line"), lost);

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
