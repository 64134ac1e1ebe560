#include "program/commandline.h"

#include "convert/numeric.h"

#include <cstdio>

namespace {

#ifdef PEERTEST_LOG_IN_USER_DATA
const char* const kLogFolderText =
    "~/.local/share/peertest/ ($XDG_DATA_HOME/peertest/ when that is set)";
#else
const char* const kLogFolderText = "the folder that holds this program";
#endif

QString UsageText()
{
    return QStringLiteral(
               "Usage: peertest [udp | PORT]\n"
               "       peertest --help | --version\n"
               "\n"
               "Sends hexadecimal payloads to a network peer over TCP or UDP and receives on a\n"
               "local port, showing and logging every line.\n"
               "\n"
               "  udp        UDP mode (any letter case); the receiver stays closed\n"
               "  PORT       TCP mode, the receiver listening on PORT from the start\n"
               "  (other)    TCP mode; the receiver stays closed\n"
               "\n"
               "Environment:\n"
               "  PEERTEST_RECEIVER_PORT=N   open the receiver on port N at start, in either\n"
               "                             mode, when the command line names no port\n"
               "  PEERTEST_LOG_DIR=DIR       log in DIR instead (created when missing)\n"
               "  PEERTEST_CAPTURE=DIR       also write a capture of both sockets' traffic for\n"
               "                             Wireshark into DIR, one pcap file a day\n"
               "  PEERTEST_RULES=FILE        the receiver answers by the rules in FILE (TOML),\n"
               "                             read again when it changes\n"
               "  QT_QPA_PLATFORM=offscreen  run without a window, as an unattended receiver: a\n"
               "                             run with no port, a log that cannot be written,\n"
               "                             or a receiver that cannot open or closes on an\n"
               "                             error ends with status 1 and says why on\n"
               "                             standard error\n"
               "\n"
               "Log: one file per day of the month (01.LOG to 31.LOG) in ") +
           QString::fromUtf8(kLogFolderText) +
           QStringLiteral(".\n"
                          "\n"
                          "See man peertest.\n");
}

} // namespace

QString CommandLineText(const QStringList& arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

bool UdpModeOf(const QString& commandLine)
{
    return commandLine.toUpper() == QLatin1String("UDP");
}

QString ModeTitle(bool udpMode)
{
    return udpMode ? QStringLiteral("Marrowby－テスト") : QStringLiteral("Tidewell－テスト");
}

bool NamesReceiverPort(const QString& text)
{
    return !text.isEmpty() && NumericValue(text) > 0;
}

QString ReceiverPortSetting()
{
    const QString port = qEnvironmentVariable("PEERTEST_RECEIVER_PORT");
    if (!port.isEmpty() && !NamesReceiverPort(port)) {
        const QString note = QStringLiteral("peertest: PEERTEST_RECEIVER_PORT=\"") + port +
                             QStringLiteral("\" is not a port number; the receiver stays closed");
        std::fprintf(stderr, "%s\n", note.toLocal8Bit().constData());
    }
    return port;
}

QString HelpOrVersionText(const QStringList& arguments)
{
    const QString asked = CommandLineText(arguments);
    if (asked == QLatin1String("--help") || asked == QLatin1String("-h"))
        return UsageText();
    if (asked == QLatin1String("--version"))
        return QStringLiteral("peertest " PEERTEST_VERSION "\n");
    return QString();
}
