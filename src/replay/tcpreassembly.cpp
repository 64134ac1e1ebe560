#include "replay/tcpreassembly.h"

void TcpReassembly::Syn(quint32 sequence)
{
    if (started_)
        return; // a SYN sent again after the data began
    started_ = true;
    next_ = sequence + 1;
}

QByteArray TcpReassembly::Segment(quint32 sequence, QByteArrayView payload)
{
    QByteArray out;
    if (payload.isEmpty())
        return out;
    if (!started_) {
        started_ = true;
        next_ = sequence;
    }
    // Sequence numbers wrap: what counts is how far before or after the next expected one.
    Place(delivered_ + qint32(sequence - next_), payload, out);
    while (!early_.empty() && early_.begin()->first <= delivered_) {
        const auto waited = early_.extract(early_.begin());
        Place(waited.key(), waited.mapped(), out);
    }
    return out;
}

void TcpReassembly::Place(qint64 offset, QByteArrayView bytes, QByteArray& out)
{
    if (offset + bytes.size() <= delivered_)
        return; // all of it came before
    if (offset > delivered_) {
        QByteArray& waiting = early_[offset];
        if (waiting.size() < bytes.size())
            waiting = bytes.toByteArray();
        return;
    }
    const QByteArrayView fresh = bytes.sliced(delivered_ - offset);
    out += fresh;
    delivered_ += fresh.size();
    next_ += quint32(fresh.size());
}
