#include "app/commandline.h"
#include "app/frmudp.h"
#include "app/stopsignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    HoldStopSignals();
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("peertest"));
    // Qt has taken its own options (-platform, -style, ...) out of the arguments by now.
    frmUDP window(CommandLineText(QCoreApplication::arguments()));
    CloseOnStopSignals(&window);
    window.show();
    return app.exec();
}
