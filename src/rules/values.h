#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringView>

#include <chrono>
#include <optional>

// A duration such as "20ms" or "1.5s", in whole milliseconds, at most a day.
std::optional<std::chrono::milliseconds> ParseDuration(QStringView text, QString& reason);

// Peers a rule answers: one address, or a network written address/prefix. An IPv4 peer seen
// through an IPv6 socket (::ffff:a.b.c.d) counts as the IPv4 address it is.
class AddressRange {
public:
    static std::optional<AddressRange> Parse(QStringView text, QString& reason);
    bool Contains(const QHostAddress& peer) const;

private:
    AddressRange(const QHostAddress& network, int prefix) : network_(network), prefix_(prefix) {}

    QHostAddress network_;
    int prefix_ = 0;
};
