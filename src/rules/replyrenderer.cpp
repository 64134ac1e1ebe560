#include "rules/replytemplate_p.h"

namespace {

// A reply is written by hand: a repeat past these is a mistake in the rules.
constexpr quint64 kMostRepeats = 65536;
constexpr quint64 kMostRepeatsInAll = 1 << 20; // nested repeats of nothing would never end
constexpr qsizetype kLongestReply = 16 << 20;

class Renderer {
public:
    Renderer(QByteArrayView request, const Captures& captures, CaptureScope& scope)
        : request_(request), captures_(captures), scope_(scope)
    {
    }

    void Render(const std::vector<ReplyPart>& parts, QByteArray& out)
    {
        for (const ReplyPart& part : parts)
            RenderPart(part, out);
    }

private:
    void RenderPart(const ReplyPart& part, QByteArray& out)
    {
        switch (part.kind) {
        case ReplyPart::Kind::Bytes:
            out += part.bytes;
            break;
        case ReplyPart::Kind::Capture:
            out += captures_.named.value(part.name);
            break;
        case ReplyPart::Kind::Group:
            out += captures_.groups.value(part.index - 1);
            break;
        case ReplyPart::Kind::Echo:
            out += request_;
            break;
        case ReplyPart::Kind::Checksum:
            out += ChecksumBytes(part.checksum, out);
            break;
        case ReplyPart::Kind::Number:
            AppendNumber(out, part.value->Evaluate(scope_), part.width.size,
                         part.width.littleEndian);
            break;
        case ReplyPart::Kind::Decimal:
            out += QByteArray::number(part.value->Evaluate(scope_));
            break;
        case ReplyPart::Kind::Length:
            RenderLength(part, out);
            break;
        case ReplyPart::Kind::Repeat:
            RenderRepeat(part, out);
            break;
        }
    }

    void RenderLength(const ReplyPart& part, QByteArray& out)
    {
        const qsizetype field = out.size();
        const int width = part.width.size;
        AppendNumber(out, 0, width, part.width.littleEndian);
        Render(part.children, out);
        QByteArray length;
        AppendNumber(length, quint64(out.size() - field - width), width, part.width.littleEndian);
        if (!part.checksumInside) {
            out.replace(field, width, length);
            return;
        }
        // A checksum inside reads the length field too: write the group again after it.
        out.truncate(field);
        out += length;
        Render(part.children, out);
    }

    void RenderRepeat(const ReplyPart& part, QByteArray& out)
    {
        const std::optional<quint64> outer = scope_.index;
        const quint64 times = std::min(part.value->Evaluate(scope_), kMostRepeats);
        for (quint64 i = 0;
             i < times && out.size() < kLongestReply && repeated_ < kMostRepeatsInAll;
             ++i, ++repeated_) {
            scope_.index = i;
            Render(part.children, out);
        }
        scope_.index = outer;
    }

    QByteArrayView request_;
    const Captures& captures_;
    CaptureScope& scope_;
    quint64 repeated_ = 0;
};

} // namespace

void RenderParts(const std::vector<ReplyPart>& parts, QByteArrayView request,
                 const Captures& captures, CaptureScope& scope, QByteArray& out)
{
    Renderer(request, captures, scope).Render(parts, out);
}
