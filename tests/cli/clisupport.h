#pragma once

// What the peertest-cli process tests share: the program run to its end while the test's own
// peers answer, and the files and ports they hand it.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

struct Finished {
    int status = -1;
    QString out;
    QString err;
};

inline QProcessEnvironment CleanEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PEERTEST_LOG_DIR"));
    environment.remove(QStringLiteral("PEERTEST_CAPTURE"));
    return environment;
}

// Runs peertest-cli to its end, the event loop turning meanwhile (the test's own peers answer).
// With a `script`, through /bin/sh, so an argument or a variable can hold any bytes: the script
// runs with $0 the binary and $ff the byte 0xFF.
inline Finished RunCli(const QStringList& arguments, const QString& script = QString())
{
    QProcess process;
    process.setProcessEnvironment(CleanEnvironment());
    const QString binary = QStringLiteral(PEERTEST_CLI_BINARY);
    if (script.isEmpty())
        process.start(binary, arguments);
    else
        process.start(QStringLiteral("/bin/sh"),
                      QStringList{"-c", "ff=$(printf '\\377'); " + script, binary} + arguments);
    const bool ended =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000);
    if (!ended)
        process.kill();
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A port nothing listens on, TCP or UDP: taken from the system, then let go.
inline quint16 ClosedPort(bool udp)
{
    if (udp) {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline void WriteFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

// Starts peertest-cli serve with `arguments` and waits until what it prints matches `ports`
// (the lines naming the ports it took); no match when it did not come up in time. `out` keeps
// what it printed.
inline QRegularExpressionMatch StartServe(QProcess& serve, const QStringList& arguments,
                                          const QRegularExpression& ports, QString& out)
{
    serve.setProcessEnvironment(CleanEnvironment());
    serve.start(QStringLiteral(PEERTEST_CLI_BINARY),
                QStringList{QStringLiteral("serve")} + arguments);
    QRegularExpressionMatch match;
    const bool up = QTest::qWaitFor(
        [&] {
            out += QString::fromUtf8(serve.readAllStandardOutput());
            match = ports.match(out);
            return match.hasMatch();
        },
        10000);
    return up ? match : QRegularExpressionMatch();
}
