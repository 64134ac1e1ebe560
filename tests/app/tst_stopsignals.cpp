// A stop signal closes the window the ordinary way, even one sent before the window existed.
#include "program/stopsignals.h"
#include "support/windowfixture.h"

#include <QtTest>
#include <csignal>

class TestStopSignals : public QObject {
    Q_OBJECT
private slots:
    void signalDuringStartUpClosesTheWindowOnceItRuns();
};

void TestStopSignals::signalDuringStartUpClosesTheWindowOnceItRuns()
{
    HoldStopSignals();
    std::raise(SIGTERM); // held: the test process goes on
    WindowFixture f;
    OnStopSignal(f.window.get(), [&f] { f.window->close(); });
    f.window->show();
    QTRY_COMPARE(f.endCalls, 1);
    const QStringList logged = f.sandbox.lines(QStringLiteral("24.LOG"));
    QCOMPARE(logged.size(), 2);
    QCOMPARE(logged.at(1).mid(20), QStringLiteral("End Tidewell－テスト"));
}

QTEST_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
