// The smallest window program that shows itself the way peertest does with a port on its
// command line: a Qt application, one window, and a listener opened when the window is first
// shown.
#include <QApplication>
#include <QTcpServer>
#include <QWidget>

class BareWindow : public QWidget {
public:
    explicit BareWindow(quint16 port) : port_(port) { setWindowTitle(QStringLiteral("bare")); }

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        if (!server_.isListening())
            server_.listen(QHostAddress::Any, port_);
    }

private:
    quint16 port_;
    QTcpServer server_;
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    BareWindow window(argc > 1 ? quint16(QByteArray(argv[1]).toUShort()) : 0);
    window.show();
    return app.exec();
}
