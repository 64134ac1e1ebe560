#pragma once

#include "replay/answermask.h"
#include "replay/conversations.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A socket towards the peer under test, as the player uses it: each call blocks until done or
// until its deadline.
class ReplayLink {
public:
    struct Got {
        enum class Kind { Bytes, TimedOut, Closed, Refused, Failed };
        Kind kind = Kind::TimedOut;
        QByteArray bytes; // one read (TCP) or one datagram (UDP)
        QString why;      // Refused and Failed: the system's words
    };

    virtual ~ReplayLink() = default;
    // Kind::Bytes (with no bytes) once the system took them all.
    virtual Got Send(const QByteArray& bytes) = 0;
    virtual Got Receive(QDeadlineTimer deadline) = 0;
    // An event worth a line of the transcript.
    virtual void Note(const QString& words) = 0;
    // The player is about to sleep: what is buffered for the reader should go out.
    virtual void Idle() = 0;
};

// Opens a link for a conversation; null, with why, when the target cannot be reached.
using LinkOpener =
    std::function<std::unique_ptr<ReplayLink>(const Conversation& conversation, QString& why)>;

struct ReplayPace {
    double speed = 1; // the captured gaps are divided by it; 0: no gaps at all
    std::chrono::milliseconds timeout{2000}; // for each answer, from the payload asking for it
    bool check = false;
    AnswerMask mask;
};

// How the replay of one conversation ended.
struct PlayOutcome {
    enum class Result { Passed, Failed, Unreachable, Skipped };
    Result result = Result::Passed;
    QString message;     // why it did not pass
    QByteArray expected; // the captured answer that was not met, what came, and where they part
    QByteArray received;
    std::optional<qsizetype> offset;
    QByteArray request; // the payload of the exchange that failed; none for a greeting
    qint64 nanoseconds = 0;
};

// Replays each conversation in turn, the captured pause between them kept (scaled).
std::vector<PlayOutcome> PlayConversations(const std::vector<Conversation>& conversations,
                                           const ReplayPace& pace, const LinkOpener& open);
