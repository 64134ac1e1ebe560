#include "app/commandline.h"
#include "app/frmudp.h"
#include "app/logfolderchoice.h"
#include "app/stopsignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    HoldStopSignals();
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("peertest"));
    // Before the window: its loading starts the log.
    UseLogFolder(LogFolderForRun());
    // Qt has taken its own options (-platform, -style, ...) out of the arguments by now.
    frmUDP window(CommandLineText(QCoreApplication::arguments()), ReceiverPortSetting());
    CloseOnStopSignals(&window);
    window.show();
    return app.exec();
}
