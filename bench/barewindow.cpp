// The smallest window program that shows itself the way peertest does with a port on its
// command line: a Qt application, one window, and a listener opened when the window is first
// shown. With "text" after the port the window also shows one line of text, so it pays for the
// font system as every window with text does.
#include <QApplication>
#include <QLabel>
#include <QTcpServer>
#include <QVBoxLayout>
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
    if (argc > 2 && QByteArray(argv[2]) == "text")
        (new QVBoxLayout(&window))->addWidget(new QLabel(QStringLiteral("bare"), &window));
    window.show();
    return app.exec();
}
