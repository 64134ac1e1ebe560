#include "rules/checksum.h"

#include <boost/crc.hpp>

#include <array>

namespace {

using Crc8 = boost::crc_optimal<8, 0x07, 0, 0, false, false>;
using Crc16Modbus = boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true>;
using Crc16Xmodem = boost::crc_optimal<16, 0x1021, 0, 0, false, false>;
using Crc16Ibm3740 = boost::crc_optimal<16, 0x1021, 0xFFFF, 0, false, false>;
using Crc32 = boost::crc_32_type;

struct NamedChecksum {
    const char* name;
    ChecksumKind kind;
};

const std::array<NamedChecksum, 8> kChecksums = {{
    {"crc8", ChecksumKind::Crc8},
    {"crc16_modbus", ChecksumKind::Crc16Modbus},
    {"crc16_xmodem", ChecksumKind::Crc16Xmodem},
    {"crc16_ibm3740", ChecksumKind::Crc16Ibm3740},
    {"crc32", ChecksumKind::Crc32},
    {"sum8", ChecksumKind::Sum8},
    {"xor8", ChecksumKind::Xor8},
    {"lrc8", ChecksumKind::Lrc8},
}};

// The CRC register is kept between pieces as Boost's interim remainder, which the constructor
// takes back in the same form.
template <typename Crc> uint32_t ContinueCrc(uint32_t state, QByteArrayView bytes)
{
    Crc crc(static_cast<typename Crc::value_type>(state));
    crc.process_bytes(bytes.data(), static_cast<std::size_t>(bytes.size()));
    return crc.get_interim_remainder();
}

template <typename Crc> uint32_t FinishCrc(uint32_t state)
{
    return Crc(static_cast<typename Crc::value_type>(state)).checksum();
}

} // namespace

std::optional<ChecksumKind> ChecksumByName(QStringView name)
{
    for (const NamedChecksum& entry : kChecksums) {
        if (name == QLatin1String(entry.name))
            return entry.kind;
    }
    return std::nullopt;
}

QStringList ChecksumNames()
{
    QStringList names;
    for (const NamedChecksum& entry : kChecksums)
        names << QLatin1String(entry.name);
    return names;
}

int ChecksumWidth(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::Crc16Modbus:
    case ChecksumKind::Crc16Xmodem:
    case ChecksumKind::Crc16Ibm3740:
        return 2;
    case ChecksumKind::Crc32:
        return 4;
    default:
        return 1;
    }
}

void RunningChecksum::Reset()
{
    switch (kind_) {
    case ChecksumKind::Crc8:
        state_ = Crc8().get_interim_remainder();
        break;
    case ChecksumKind::Crc16Modbus:
        state_ = Crc16Modbus().get_interim_remainder();
        break;
    case ChecksumKind::Crc16Xmodem:
        state_ = Crc16Xmodem().get_interim_remainder();
        break;
    case ChecksumKind::Crc16Ibm3740:
        state_ = Crc16Ibm3740().get_interim_remainder();
        break;
    case ChecksumKind::Crc32:
        state_ = Crc32().get_interim_remainder();
        break;
    default:
        state_ = 0;
    }
}

void RunningChecksum::Add(QByteArrayView bytes)
{
    switch (kind_) {
    case ChecksumKind::Crc8:
        state_ = ContinueCrc<Crc8>(state_, bytes);
        break;
    case ChecksumKind::Crc16Modbus:
        state_ = ContinueCrc<Crc16Modbus>(state_, bytes);
        break;
    case ChecksumKind::Crc16Xmodem:
        state_ = ContinueCrc<Crc16Xmodem>(state_, bytes);
        break;
    case ChecksumKind::Crc16Ibm3740:
        state_ = ContinueCrc<Crc16Ibm3740>(state_, bytes);
        break;
    case ChecksumKind::Crc32:
        state_ = ContinueCrc<Crc32>(state_, bytes);
        break;
    case ChecksumKind::Sum8:
    case ChecksumKind::Lrc8:
        for (char byte : bytes)
            state_ = (state_ + static_cast<unsigned char>(byte)) & 0xFF;
        break;
    case ChecksumKind::Xor8:
        for (char byte : bytes)
            state_ ^= static_cast<unsigned char>(byte);
        break;
    }
}

uint32_t RunningChecksum::Finish(uint32_t state) const
{
    switch (kind_) {
    case ChecksumKind::Crc8:
        return FinishCrc<Crc8>(state);
    case ChecksumKind::Crc16Modbus:
        return FinishCrc<Crc16Modbus>(state);
    case ChecksumKind::Crc16Xmodem:
        return FinishCrc<Crc16Xmodem>(state);
    case ChecksumKind::Crc16Ibm3740:
        return FinishCrc<Crc16Ibm3740>(state);
    case ChecksumKind::Crc32:
        return FinishCrc<Crc32>(state);
    case ChecksumKind::Lrc8:
        return (0x100 - state) & 0xFF;
    default:
        return state;
    }
}

QByteArray RunningChecksum::Bytes() const
{
    const uint32_t value = Value();
    const int width = ChecksumWidth(kind_);
    QByteArray bytes(width, Qt::Uninitialized);
    for (int i = 0; i < width; ++i)
        bytes[width - 1 - i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    // Modbus RTU sends its CRC low byte first.
    if (kind_ == ChecksumKind::Crc16Modbus)
        std::swap(bytes[0], bytes[1]);
    return bytes;
}

uint32_t ChecksumValue(ChecksumKind kind, QByteArrayView bytes)
{
    RunningChecksum checksum(kind);
    checksum.Add(bytes);
    return checksum.Value();
}

QByteArray ChecksumBytes(ChecksumKind kind, QByteArrayView bytes)
{
    RunningChecksum checksum(kind);
    checksum.Add(bytes);
    return checksum.Bytes();
}
