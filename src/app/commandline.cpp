#include "app/commandline.h"

#include "convert/numeric.h"

#include <cstdio>

QString CommandLineText(const QStringList& arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
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
