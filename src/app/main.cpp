#include "app/commandline.h"
#include "app/frmudp.h"
#include "app/logfolderchoice.h"
#include "app/paintthreads.h"
#include "app/stopsignals.h"
#include "app/unattended.h"

#include <QApplication>
#include <cstdio>

namespace {

// Answered before Qt is started, so no display is needed and no log is touched.
bool AnswersHelpOrVersion(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString text = HelpOrVersionText(arguments);
    if (text.isEmpty())
        return false;
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnswersHelpOrVersion(argc, argv))
        return 0;
    HoldStopSignals();
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("peertest"));
    LetPaintingThreadsEnd();
    // Before the window: its loading starts the log.
    UseLogFolder(LogFolderForRun());
    // Qt has taken its own options (-platform, -style, ...) out of the arguments by now.
    frmUDP window(CommandLineText(QCoreApplication::arguments()), ReceiverPortSetting());
    CloseOnStopSignals(&window);
    if (NoOneSeesTheWindow())
        FailLoudlyWhenUnattended(window);
    window.show();
    return app.exec();
}
