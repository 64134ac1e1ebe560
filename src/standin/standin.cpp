#include "standin/standin.h"

#include "convert/conversions.h"

#include <QStringBuilder>
#include <QTimer>

StandIn::StandIn(Responder& responder, StandInOutput output, SendDatagram sendTo, QObject* parent)
    : QObject(parent), responder_(responder), output_(std::move(output)), sendTo_(std::move(sendTo))
{
}

void StandIn::Datagram(const QByteArray& bytes, const PeerEnd& peer)
{
    Guard(
        [&] {
            const Answer answer = responder_.AnswerDatagram(bytes, peer.address, peer.port);
            TellNotices(peer);
            // Counted in bytes, as TCP's unmatched bytes are.
            if (!answer.matched())
                Line(QStringLiteral("UNMATCHED[%1]").arg(bytes.size()), peer);
            if (!answer.reply)
                return;
            if (answer.delay.count() == 0) {
                SendDatagramReply(answer, peer);
                return;
            }
            QTimer::singleShot(answer.delay, Qt::PreciseTimer, this, [this, answer, peer] {
                Guard([&] { SendDatagramReply(answer, peer); }, peer);
            });
        },
        peer);
}

void StandIn::SendDatagramReply(const Answer& answer, const PeerEnd& peer)
{
    const QString why = sendTo_ ? sendTo_(*answer.reply, peer.address, peer.port)
                                : QStringLiteral("no UDP socket to send it from");
    TellReply(answer, why, peer);
}

void StandIn::TellReply(const Answer& answer, const QString& why, const PeerEnd& peer) const
{
    if (!why.isEmpty()) {
        Line(NotSentLine(answer, why), peer);
        return;
    }
    const QByteArray& bytes = *answer.reply;
    const bool hex = !output_.hexDisplay || output_.hexDisplay();
    // Joined in one allocation: piece by piece, the line cost as much as finding the rule.
    Line(QLatin1String("AUTO[") % answer.ruleName % QLatin1String("]:[") %
             (hex ? BytesToHex(bytes) : BytesToText(bytes)) % QLatin1Char(']'),
         peer, &answer);
}

void StandIn::TellNotices(const PeerEnd& peer)
{
    for (const QString& notice : responder_.TakeNotices())
        Line(notice, peer);
}

QString NotSentLine(const Answer& answer, const QString& why)
{
    return QStringLiteral("AUTO[") + answer.ruleName + QStringLiteral("] not sent: ") + why;
}
