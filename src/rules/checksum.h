#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

// The checksums a rule may check in a request or append to a reply.
enum class ChecksumKind {
    Crc8,        // CRC-8/SMBUS
    Crc16Modbus, // sent low byte first, as Modbus RTU does
    Crc16Xmodem,
    Crc16Ibm3740, // CRC-16/CCITT-FALSE
    Crc32,
    Sum8,
    Xor8,
    Lrc8, // two's complement of the byte sum
};

std::optional<ChecksumKind> ChecksumByName(QStringView name);
QStringList ChecksumNames();

// How many bytes the checksum takes on the wire.
int ChecksumWidth(ChecksumKind kind);

// A checksum fed piece by piece, so a longer run of bytes costs only its new bytes.
class RunningChecksum {
public:
    explicit RunningChecksum(ChecksumKind kind) : kind_(kind) { Reset(); }
    void Reset();
    void Add(QByteArrayView bytes);
    uint32_t Value() const { return Finish(state_); }
    // The value as it goes on the wire.
    QByteArray Bytes() const;

private:
    uint32_t Finish(uint32_t state) const;

    ChecksumKind kind_;
    uint32_t state_ = 0;
};

uint32_t ChecksumValue(ChecksumKind kind, QByteArrayView bytes);
QByteArray ChecksumBytes(ChecksumKind kind, QByteArrayView bytes);
