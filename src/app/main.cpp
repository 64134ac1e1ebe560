#include "app/frmudp.h"
#include "app/paintthreads.h"
#include "log/log1month.h"
#include "program/commandline.h"
#include "program/logfolderchoice.h"
#include "program/stopsignals.h"
#include "program/systembytes.h"
#include "program/unattended.h"

#include <QApplication>
#include <cstdio>

namespace {

QStringList ArgumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Answered before Qt is started, so no display is needed and no log is touched.
bool AnswersHelpOrVersion(const QStringList& arguments)
{
    const QString text = HelpOrVersionText(arguments);
    if (text.isEmpty())
        return false;
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return true;
}

// A run nobody sees has no window at all: the receiver, the log and the capture alone.
int RunUnattended(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("peertest"));
    const QString folder = LogFolderForRun();
    UseLogFolder(folder);
    DayLog log(folder);
    const QStringList arguments = WithoutPlatformArgument(QCoreApplication::arguments());
    UnattendedReceiver receiver(log, CommandLineText(arguments), ReceiverPortSetting());
    OnStopSignal(&receiver, [&receiver] { receiver.End(0); });
    receiver.Start();
    return app.exec();
}

// Without a display Qt ends the process with words about plugins; a person needs to hear what
// to do instead.
void SayWhenThereIsNoDisplay(const QStringList& arguments)
{
    if (arguments.contains(QStringLiteral("-platform")) ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    std::fputs("peertest: there is no display to show the window on (DISPLAY is not set); run it "
               "on a desktop, or as an unattended receiver with QT_QPA_PLATFORM=offscreen\n",
               stderr);
    std::fflush(stderr);
}

int RunWindow(int argc, char* argv[], const QStringList& arguments)
{
    SayWhenThereIsNoDisplay(arguments);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("peertest"));
    LetPaintingThreadsEnd();
    // Before the window: its loading starts the log.
    const QString folder = LogFolderForRun();
    UseLogFolder(folder);
    DayLog log(folder);
    // Qt has taken its own options (-platform, -style, ...) out of the arguments by now.
    frmUDP window(log, CommandLineText(QCoreApplication::arguments()), ReceiverPortSetting());
    OnStopSignal(&window, [&window] { window.close(); });
    window.show();
    return app.exec();
}

// A folder or file named in bytes Qt cannot keep would be another one: the run does not start.
bool RefusesBytesNotKept()
{
    const QString why = VariableNotUtf8({"PEERTEST_LOG_DIR", "PEERTEST_CAPTURE", "PEERTEST_RULES"});
    if (why.isEmpty())
        return false;
    std::fprintf(stderr, "peertest: %s\n", why.toUtf8().constData());
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    const QStringList arguments = ArgumentsOf(argc, argv);
    if (AnswersHelpOrVersion(arguments))
        return 0;
    if (RefusesBytesNotKept())
        return 1;
    HoldStopSignals();
    IgnoreFileSizeSignal();
    return NoOneSeesTheWindow(arguments) ? RunUnattended(argc, argv)
                                         : RunWindow(argc, argv, arguments);
}
