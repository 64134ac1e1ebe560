#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <map>

// One direction of a TCP connection put back in sequence order, as the receiving side's system
// does it: bytes captured twice (retransmissions) come out once, bytes captured early (out of
// order) wait for the ones before them.
class TcpReassembly {
public:
    // The SYN's sequence number: data starts after it.
    void Syn(quint32 sequence);
    // The bytes that now follow on from those handed out before, or none. Without a SYN the
    // first segment's number is where the data starts.
    QByteArray Segment(quint32 sequence, QByteArrayView payload);

    // Bytes that wait for some that never came (a packet the capture lost).
    bool Waiting() const { return !early_.empty(); }
    // How many bytes came out; with Waiting(), where the missing ones start.
    qint64 Delivered() const { return delivered_; }

private:
    void Place(qint64 offset, QByteArrayView bytes, QByteArray& out);

    bool started_ = false;
    quint32 next_ = 0; // the sequence number of the byte after the last handed out
    qint64 delivered_ = 0;
    std::map<qint64, QByteArray> early_; // by offset from the start of the data
};
