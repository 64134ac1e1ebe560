#pragma once

#include <QString>
#include <stdexcept>

// A failure raised at the call, carrying a number and a one-sentence description; handlers turn
// it into an activity line.
class RaisedError : public std::runtime_error {
public:
    RaisedError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number), description_(description)
    {
    }
    int number() const { return number_; }
    QString description() const { return description_; }

private:
    int number_;
    QString description_;
};

// Error numbers raised by the program's own layers.
namespace ErrorNumber {
constexpr int Overflow = 6;
constexpr int PermissionDenied = 10013;
constexpr int InvalidArgument = 10022;
constexpr int DestinationRequired = 10039;
constexpr int MessageTooLong = 10040;
constexpr int WrongProtocol = 10041;
constexpr int OperationNotSupported = 10045;
constexpr int AddressInUse = 10048;
constexpr int AddressNotAvailable = 10049;
constexpr int NoBufferSpace = 10055;
constexpr int NotConnected = 10057;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int HostUnreachable = 10065;
constexpr int HostNotFound = 11001;
constexpr int WrongState = 40006;
constexpr int SocketFailure = 40100;
} // namespace ErrorNumber

// The activity-line form of a failure nobody else reports: "Err:" number "[" description "]".
inline QString ErrLine(int number, const QString& description)
{
    return QStringLiteral("Err:") + QString::number(number) + QLatin1Char('[') + description +
           QLatin1Char(']');
}

inline QString ErrLine(const RaisedError& error)
{
    return ErrLine(error.number(), error.description());
}
