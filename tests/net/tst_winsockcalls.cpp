#include "net/raisederror.h"
#include "net/winsock.h"
#include "support/winsockevents.h"

#include <QTcpServer>
#include <QTest>
#include <cmath>
#include <functional>

using Step = std::function<void(Winsock&)>;
Q_DECLARE_METATYPE(Step)

namespace {

// The error number a step raises, 0 when it raises nothing.
int RaisedBy(const Step& step, Winsock& socket)
{
    try {
        step(socket);
    } catch (const RaisedError& error) {
        return error.number();
    }
    return 0;
}

Step Opened(int protocol)
{
    return [protocol](Winsock& s) {
        s.SetProtocol(protocol);
        s.SetLocalPort(0);
        protocol == Winsock::sckTCPProtocol ? s.Listen() : s.Bind();
    };
}

} // namespace

class TestWinsockCalls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void connectRejectsBadArgumentsAtTheCall_data();
    void connectRejectsBadArgumentsAtTheCall();
    void connectRoundsThePortHalfToEven_data();
    void connectRoundsThePortHalfToEven();
    void callsInTheWrongStateRaise_data();
    void callsInTheWrongStateRaise();
    void connectWithoutArgumentsReportsThroughTheErrorEvent_data();
    void connectWithoutArgumentsReportsThroughTheErrorEvent();
    void connectWithoutArgumentsOnAnOpenControlKeepsIt();
    void portInUseRaises_data();
    void portInUseRaises();
    void portZeroTakesAnyFreePort_data();
    void portZeroTakesAnyFreePort();

private:
    QTcpServer peer_;
};

void TestWinsockCalls::initTestCase()
{
    QVERIFY(peer_.listen(QHostAddress::LocalHost, 0));
}

void TestWinsockCalls::connectRejectsBadArgumentsAtTheCall_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<double>("port");
    QTest::addColumn<int>("number");
    const QString ip = "127.0.0.1";
    QTest::newRow("port 0") << ip << 0.0 << ErrorNumber::InvalidArgument;
    QTest::newRow("port -1") << ip << -1.0 << ErrorNumber::InvalidArgument;
    QTest::newRow("port 65536") << ip << 65536.0 << ErrorNumber::InvalidArgument;
    QTest::newRow("0.5 rounds to 0") << ip << 0.5 << ErrorNumber::InvalidArgument;
    QTest::newRow("65535.5 rounds to 65536") << ip << 65535.5 << ErrorNumber::InvalidArgument;
    QTest::newRow("beyond 32 bits") << ip << 99999999999.0 << ErrorNumber::Overflow;
    QTest::newRow("far below 32 bits") << ip << -99999999999.0 << ErrorNumber::Overflow;
    QTest::newRow("not a number") << ip << std::nan("") << ErrorNumber::Overflow;
    QTest::newRow("empty host") << "" << 80.0 << ErrorNumber::InvalidArgument;
    QTest::newRow("blank host") << "   " << 80.0 << ErrorNumber::InvalidArgument;
}

void TestWinsockCalls::connectRejectsBadArgumentsAtTheCall()
{
    QFETCH(QString, host);
    QFETCH(double, port);
    QFETCH(int, number);
    Winsock socket;
    WinsockEvents events(socket);
    QCOMPARE(RaisedBy([&](Winsock& s) { s.Connect(host, port); }, socket), number);
    QCOMPARE(socket.State(), int(Winsock::sckClosed));
    QTest::qWait(50);
    QCOMPARE(events.Total(), 0);
}

void TestWinsockCalls::connectRoundsThePortHalfToEven_data()
{
    QTest::addColumn<double>("port");
    QTest::addColumn<int>("expected");
    QTest::newRow("2.5 down") << 2.5 << 2;
    QTest::newRow("3.5 up") << 3.5 << 4;
    QTest::newRow("below half") << 65534.4 << 65534;
    QTest::newRow("65534.5 down") << 65534.5 << 65534;
}

void TestWinsockCalls::connectRoundsThePortHalfToEven()
{
    QFETCH(double, port);
    QFETCH(int, expected);
    Winsock socket;
    socket.Connect("127.0.0.1", port);
    QCOMPARE(socket.RemotePort(), expected);
    socket.Close();
}

void TestWinsockCalls::callsInTheWrongStateRaise_data()
{
    QTest::addColumn<Step>("setup");
    QTest::addColumn<Step>("call");
    QTest::addColumn<int>("number");
    const Step nothing = [](Winsock&) {};
    const Step udp = [](Winsock& s) { s.SetProtocol(Winsock::sckUDPProtocol); };
    const Step listening = Opened(Winsock::sckTCPProtocol);
    const Step bound = Opened(Winsock::sckUDPProtocol);
    const quint16 peerPort = peer_.serverPort();
    const Step connected = [peerPort](Winsock& s) {
        s.Connect("127.0.0.1", peerPort);
        QTRY_COMPARE(s.State(), int(Winsock::sckConnected));
    };
    const Step send = [](Winsock& s) { s.SendData(QByteArray("x")); };
    const Step listen = [](Winsock& s) { s.Listen(); };
    const Step bind = [](Winsock& s) { s.Bind(); };
    const Step accept = [](Winsock& s) { s.Accept(1); };
    const auto localPort = [](qint32 port, const Step& open) -> Step {
        return [port, open](Winsock& s) {
            s.SetLocalPort(port);
            open(s);
        };
    };
    namespace N = ErrorNumber;
    QTest::newRow("send when closed") << nothing << send << N::NotConnected;
    QTest::newRow("send udp when closed") << udp << send << N::NotConnected;
    QTest::newRow("send while listening") << listening << send << N::NotConnected;
    QTest::newRow("send bound, nothing received") << bound << send << N::DestinationRequired;
    QTest::newRow("listen when connected") << connected << listen << N::WrongState;
    QTest::newRow("listen while listening") << listening << listen << N::WrongState;
    QTest::newRow("bind while bound") << bound << bind << N::WrongState;
    QTest::newRow("connect while listening")
        << listening << Step([](Winsock& s) { s.Connect("127.0.0.1", 80); }) << N::WrongState;
    QTest::newRow("accept while listening") << listening << accept << N::WrongState;
    QTest::newRow("accept unknown id") << nothing << accept << N::InvalidArgument;
    QTest::newRow("listen in udp") << udp << listen << N::WrongProtocol;
    QTest::newRow("bind in tcp") << nothing << bind << N::WrongProtocol;
    QTest::newRow("connect to host and port in udp")
        << udp << Step([](Winsock& s) { s.Connect("127.0.0.1", 80); }) << N::WrongProtocol;
    QTest::newRow("listen on 65536") << nothing << localPort(65536, listen) << N::InvalidArgument;
    QTest::newRow("listen on -1") << nothing << localPort(-1, listen) << N::InvalidArgument;
    QTest::newRow("bind on 70000") << udp << localPort(70000, bind) << N::InvalidArgument;
    QTest::newRow("protocol 2") << nothing << Step([](Winsock& s) { s.SetProtocol(2); })
                                << N::InvalidArgument;
    QTest::newRow("remote host blank")
        << nothing << Step([](Winsock& s) { s.SetRemoteHost(" "); }) << N::InvalidArgument;
    QTest::newRow("remote port 0")
        << udp << Step([](Winsock& s) { s.SetRemotePort(0); }) << N::InvalidArgument;
    QTest::newRow("remote port 65536")
        << udp << Step([](Winsock& s) { s.SetRemotePort(65536); }) << N::InvalidArgument;
    QTest::newRow("change protocol while open")
        << listening << Step([](Winsock& s) { s.SetProtocol(Winsock::sckUDPProtocol); })
        << N::WrongState;
}

void TestWinsockCalls::callsInTheWrongStateRaise()
{
    QFETCH(Step, setup);
    QFETCH(Step, call);
    QFETCH(int, number);
    Winsock socket;
    setup(socket);
    const int stateBefore = socket.State();
    QCOMPARE(RaisedBy(call, socket), number);
    QCOMPARE(socket.State(), stateBefore);
}

void TestWinsockCalls::connectWithoutArgumentsReportsThroughTheErrorEvent_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("remotePort");
    QTest::addColumn<int>("localPort");
    QTest::addColumn<int>("number");
    const int tcp = Winsock::sckTCPProtocol;
    const int udp = Winsock::sckUDPProtocol;
    namespace N = ErrorNumber;
    // An empty host: the remote is never set, so the control still has none.
    QTest::newRow("tcp remote never set") << tcp << "" << 0 << 0 << N::InvalidArgument;
    QTest::newRow("tcp unresolvable") << tcp << "bad host!" << 80 << 0 << N::HostNotFound;
    QTest::newRow("udp remote never set") << udp << "" << 0 << 0 << N::InvalidArgument;
    QTest::newRow("udp local port -5") << udp << "127.0.0.1" << 80 << -5 << N::InvalidArgument;
    QTest::newRow("udp unresolvable") << udp << "bad host!" << 80 << 0 << N::HostNotFound;
}

void TestWinsockCalls::connectWithoutArgumentsReportsThroughTheErrorEvent()
{
    QFETCH(int, protocol);
    QFETCH(QString, host);
    QFETCH(int, remotePort);
    QFETCH(int, localPort);
    QFETCH(int, number);
    Winsock socket;
    WinsockEvents events(socket);
    socket.SetProtocol(protocol);
    if (!host.isEmpty()) {
        socket.SetRemoteHost(host);
        socket.SetRemotePort(remotePort);
    }
    socket.SetLocalPort(localPort);
    socket.Connect();
    QCOMPARE(events.errors.count(), 0);
    QVERIFY(events.errors.wait(kLoopbackWaitMs));
    QCOMPARE(events.errors.at(0).at(0).toInt(), number);
    QVERIFY(!events.errors.at(0).at(1).toString().isEmpty());
    QCOMPARE(socket.State(), int(Winsock::sckError));
    socket.Close();
    QCOMPARE(socket.State(), int(Winsock::sckClosed));
}

void TestWinsockCalls::connectWithoutArgumentsOnAnOpenControlKeepsIt()
{
    Winsock socket;
    WinsockEvents events(socket);
    Opened(Winsock::sckUDPProtocol)(socket);
    socket.Connect();
    QVERIFY(events.errors.wait(kLoopbackWaitMs));
    QCOMPARE(events.errors.at(0).at(0).toInt(), ErrorNumber::WrongState);
    QCOMPARE(socket.State(), int(Winsock::sckOpen));
}

void TestWinsockCalls::portInUseRaises_data()
{
    QTest::addColumn<int>("protocol");
    QTest::newRow("listen") << int(Winsock::sckTCPProtocol);
    QTest::newRow("bind") << int(Winsock::sckUDPProtocol);
}

void TestWinsockCalls::portInUseRaises()
{
    QFETCH(int, protocol);
    Winsock first;
    Opened(protocol)(first);
    Winsock second;
    second.SetProtocol(protocol);
    second.SetLocalPort(first.LocalPort());
    const Step open = [](Winsock& s) {
        s.Protocol() == Winsock::sckTCPProtocol ? s.Listen() : s.Bind();
    };
    QCOMPARE(RaisedBy(open, second), ErrorNumber::AddressInUse);
    QCOMPARE(second.State(), int(Winsock::sckClosed));
}

void TestWinsockCalls::portZeroTakesAnyFreePort_data()
{
    portInUseRaises_data();
}

void TestWinsockCalls::portZeroTakesAnyFreePort()
{
    QFETCH(int, protocol);
    Winsock socket;
    WinsockEvents events(socket);
    Opened(protocol)(socket);
    QVERIFY(socket.LocalPort() > 0);
    QCOMPARE(socket.State(), protocol == Winsock::sckTCPProtocol ? int(Winsock::sckListening)
                                                                 : int(Winsock::sckOpen));
    socket.Close();
    socket.Close();
    QCOMPARE(socket.State(), int(Winsock::sckClosed));
    QCOMPARE(socket.LocalPort(), 0);
    QTest::qWait(20);
    QCOMPARE(events.Total(), 0);
}

QTEST_GUILESS_MAIN(TestWinsockCalls)
#include "tst_winsockcalls.moc"
