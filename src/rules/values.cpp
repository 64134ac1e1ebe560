#include "rules/values.h"

#include <QRegularExpression>

namespace {

constexpr qint64 kMaxMilliseconds = 24 * 60 * 60 * 1000;

// An IPv4-mapped IPv6 address as the IPv4 address, anything else as it is.
QHostAddress Unmapped(const QHostAddress& address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : address;
}

// Dotted quads only: Qt would also take "10.1" or "167772161" as an IPv4 address.
bool IsWellFormedAddress(const QString& text)
{
    static const QRegularExpression dottedQuad(
        QStringLiteral("^[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}$"));
    return text.contains(u':') || dottedQuad.match(text).hasMatch();
}

} // namespace

// Decimal digits are read by hand: the number must not depend on the locale, and integer
// arithmetic keeps "1.001s" exact.
std::optional<std::chrono::milliseconds> ParseDuration(QStringView text, QString& reason)
{
    static const QRegularExpression shape(
        QStringLiteral("^([0-9]{1,9})(?:\\.([0-9]{1,9}))?(ms|s)$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch()) {
        reason = QStringLiteral("\"%1\" is not a duration such as \"20ms\" or \"1.5s\"").arg(text);
        return std::nullopt;
    }
    const int scale = match.capturedView(3) == QLatin1String("s") ? 1000 : 1;
    QString fraction = match.captured(2);
    qint64 ms = match.capturedView(1).toLongLong() * scale;
    // Digits beyond whole milliseconds must be zeros.
    const int kept = scale == 1000 ? 3 : 0;
    if (fraction.mid(kept).count(u'0') != fraction.mid(kept).size()) {
        reason = QStringLiteral("\"%1\" is finer than a millisecond").arg(text);
        return std::nullopt;
    }
    fraction = fraction.left(kept).leftJustified(kept, u'0');
    ms += fraction.isEmpty() ? 0 : fraction.toLongLong();
    if (ms > kMaxMilliseconds) {
        reason = QStringLiteral("\"%1\" is longer than a day").arg(text);
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

std::optional<AddressRange> AddressRange::Parse(QStringView text, QString& reason)
{
    const qsizetype slash = text.indexOf(u'/');
    const QString addressText = text.left(slash < 0 ? text.size() : slash).toString();
    QHostAddress address;
    if (!IsWellFormedAddress(addressText) || !address.setAddress(addressText)) {
        reason = QStringLiteral("\"%1\" is not an IPv4 or IPv6 address").arg(addressText);
        return std::nullopt;
    }
    const bool mapped = address.protocol() == QAbstractSocket::IPv6Protocol &&
                        Unmapped(address).protocol() == QAbstractSocket::IPv4Protocol;
    const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    int prefix = bits;
    if (slash >= 0) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
        const QStringView prefixText = text.mid(slash + 1);
        prefix = digits.match(prefixText).hasMatch() ? prefixText.toInt() : -1;
        if (prefix < 0 || prefix > bits || (mapped && prefix < 96)) {
            reason = QStringLiteral("\"%1\" is not a prefix length from 0 to %2")
                         .arg(prefixText)
                         .arg(bits);
            return std::nullopt;
        }
    }
    if (mapped)
        return AddressRange(Unmapped(address), prefix - 96);
    return AddressRange(address, prefix);
}

bool AddressRange::Contains(const QHostAddress& peer) const
{
    return Unmapped(peer).isInSubnet(network_, prefix_);
}
