#include "cli/transcript.h"

#include "cli/bytestext.h"
#include "net/socketaddress.h"

#include <cstdio>

Transcript::Transcript(bool enabled, bool full) : enabled_(enabled), full_(full)
{
    clock_.start();
}

void Transcript::Line(Direction direction, bool udp, const QString& peer, QByteArrayView bytes,
                      const QString& note)
{
    if (!enabled_)
        return;
    static const char* const kArrows[] = {"->", "<-", "**"};
    line_.clear();
    line_ += MillisecondsText(clock_.nsecsElapsed()).toLatin1();
    line_ += ' ';
    line_ += kArrows[int(direction)];
    line_ += udp ? " udp " : " tcp ";
    line_ += peer.toUtf8();
    if (direction != Direction::Event) {
        line_ += ' ';
        line_ += BytesText(bytes, full_);
    }
    if (!note.isEmpty()) {
        line_ += ' ';
        line_ += note.toUtf8();
    }
    line_ += '\n';
    Put(line_);
}

void Transcript::Event(bool udp, const QString& peer, const QString& words)
{
    Line(Direction::Event, udp, peer, {}, words);
}

void Transcript::Put(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

void Transcript::Flush()
{
    std::fflush(stdout);
}

QByteArray QuotedText(QByteArrayView bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                out += c;
            } else {
                out += "\\x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
            }
        }
    }
    out += '"';
    return out;
}

QString PeerText(const QHostAddress& address, quint16 port)
{
    const QHostAddress plain = PlainAddress(address);
    const QString host = plain.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + plain.toString() + u']'
                             : plain.toString();
    return host + u':' + QString::number(port);
}

QString MillisecondsText(qint64 nanoseconds)
{
    return QString::number(double(nanoseconds) / 1e6, 'f', 3);
}
