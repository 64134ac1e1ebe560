#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>

// The transcript on standard output, one line per event (the form is in conventions.h). Lines
// are buffered; Flush before waiting, so a reader sees each line while the command waits. Unless
// `full`, long bytes are shortened (BytesText).
class Transcript {
public:
    enum class Direction { Sent, Received, Event };

    explicit Transcript(bool enabled = true, bool full = true);

    void Line(Direction direction, bool udp, const QString& peer, QByteArrayView bytes,
              const QString& note = QString());
    void Event(bool udp, const QString& peer, const QString& words);
    void Flush();

    // Since the transcript began, for round trips.
    qint64 Nanoseconds() const { return clock_.nsecsElapsed(); }
    bool Enabled() const { return enabled_; }

private:
    void Put(const QByteArray& line);

    QElapsedTimer clock_;
    bool enabled_;
    bool full_;
    QByteArray line_; // each line built into the buffer of the one before
};

// Bytes as a template's quoted text writes them: "PING\r\n", other bytes as \xNN.
QByteArray QuotedText(QByteArrayView bytes);

// 127.0.0.1:5000 or [::1]:5000; an IPv4 peer seen through an IPv6 socket as IPv4.
QString PeerText(const QHostAddress& address, quint16 port);

// Milliseconds with three decimals, for durations shown.
QString MillisecondsText(qint64 nanoseconds);
