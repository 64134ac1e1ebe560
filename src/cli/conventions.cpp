#include "cli/conventions.h"

#include "rules/values.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <cstdio>

void SayOnStandardError(const QString& text)
{
    std::fflush(stdout); // the transcript so far comes first
    std::fprintf(stderr, "peertest-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int CliFailure::Print() const
{
    SayOnStandardError(message);
    return status;
}

QString Target::Text() const
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return (Udp() ? QStringLiteral("udp://") : QStringLiteral("tcp://")) + shownHost + u':' +
           QString::number(port);
}

std::optional<Target> ParseTarget(const QString& text, QString& reason)
{
    static const QRegularExpression shape(QStringLiteral(
        "^(tcp|udp)://(?:\\[([0-9A-Fa-f:.]+(?:%[\\w.-]+)?)\\]|([\\w.-]+)):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = shape.match(text);
    reason = QStringLiteral("\"%1\" is not a target such as tcp://127.0.0.1:5000, "
                            "udp://localhost:5000 or tcp://[::1]:5000")
                 .arg(text);
    if (!match.hasMatch())
        return std::nullopt;
    Target target;
    target.protocol =
        match.captured(1) == QLatin1String("udp") ? Target::Protocol::Udp : Target::Protocol::Tcp;
    const bool bracketed = match.hasCaptured(2);
    target.host = bracketed ? match.captured(2) : match.captured(3);
    if (bracketed &&
        QHostAddress(target.host).protocol() != QAbstractSocket::NetworkLayerProtocol::IPv6Protocol)
        return std::nullopt;
    const int port = match.captured(4).toInt();
    if (port < 1 || port > 65535) {
        reason = QStringLiteral("\"%1\": the port is 1 to 65535").arg(text);
        return std::nullopt;
    }
    target.port = quint16(port);
    return target;
}

std::optional<int> ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                    int positionalCount)
{
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments)) {
        SayOnStandardError(parser.errorText() + QStringLiteral(" (see --help)"));
        return kWrongInput;
    }
    if (parser.isSet(help)) {
        // Qt names the executable alone; the subcommand belongs in the usage line too.
        QString text = parser.helpText();
        const qsizetype end = text.indexOf(u'\n');
        const QString usage = text.left(end);
        const qsizetype options = usage.indexOf(QStringLiteral(" [options]"));
        text.replace(0, options, QStringLiteral("Usage: ") + arguments.constFirst());
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return kPassed;
    }
    if (parser.positionalArguments().size() != positionalCount) {
        SayOnStandardError(QStringLiteral("%1 takes %2 argument%3, not %4 (see --help)")
                               .arg(arguments.constFirst())
                               .arg(positionalCount)
                               .arg(positionalCount == 1 ? "" : "s")
                               .arg(parser.positionalArguments().size()));
        return kWrongInput;
    }
    return std::nullopt;
}

std::optional<std::chrono::milliseconds> DurationOption(const QCommandLineParser& parser,
                                                        const QString& option,
                                                        std::chrono::milliseconds otherwise,
                                                        CliFailure& failure)
{
    if (!parser.isSet(option))
        return otherwise;
    QString reason;
    const std::optional<std::chrono::milliseconds> duration =
        ParseDuration(parser.value(option), reason);
    if (!duration)
        failure = {kWrongInput, QStringLiteral("--%1: %2").arg(option, reason)};
    return duration;
}
