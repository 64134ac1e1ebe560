#include "rules/replytemplate_p.h"

namespace {

// A reply is written by hand: a repeat past these is a mistake in the rules.
constexpr quint64 kMostRepeats = 65536;
constexpr quint64 kMostRepeatsInAll = 1 << 20; // nested repeats of nothing would never end
constexpr qsizetype kLongestReply = 16 << 20;
// Parts rendered and bytes checksummed: a checksum inside a repeat reads all the reply before it
// each time round, and a length group with a checksum inside is rendered twice, nested ones
// twice again, so neither the repeats nor the length alone bound the work.
constexpr qint64 kMostWork = 64 << 20;

class Renderer {
public:
    Renderer(QByteArrayView request, const Captures& captures, CaptureScope& scope)
        : request_(request), captures_(captures), scope_(scope)
    {
    }

    void Render(const std::vector<ReplyPart>& parts, QByteArray& out)
    {
        for (const ReplyPart& part : parts) {
            ++work_;
            if (OverWork())
                return;
            RenderPart(part, out);
        }
    }

    // Why the reply stops short of what the template says; empty when it is whole.
    const QString& CutReason() const { return cut_; }

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
            work_ += out.size();
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
        const quint64 wanted = part.value->Evaluate(scope_);
        if (wanted > kMostRepeats)
            Cut(QStringLiteral("repeat %1 goes over 65,536").arg(wanted));
        const quint64 times = std::min(wanted, kMostRepeats);
        for (quint64 i = 0; i < times && !OverWork(); ++i, ++repeated_) {
            if (out.size() >= kLongestReply)
                return Cut(QStringLiteral("the reply reached 16 MiB"));
            if (repeated_ >= kMostRepeatsInAll)
                return Cut(QStringLiteral("its repeats go over 1,048,576 in all"));
            scope_.index = i;
            Render(part.children, out);
        }
        scope_.index = outer;
    }

    bool OverWork()
    {
        if (work_ <= kMostWork)
            return false;
        Cut(QStringLiteral("rendering it went over its work limit"));
        return true;
    }

    void Cut(const QString& reason)
    {
        if (cut_.isEmpty())
            cut_ = reason;
    }

    QByteArrayView request_;
    const Captures& captures_;
    CaptureScope& scope_;
    quint64 repeated_ = 0;
    qint64 work_ = 0;
    QString cut_;
};

} // namespace

QString RenderParts(const std::vector<ReplyPart>& parts, QByteArrayView request,
                    const Captures& captures, CaptureScope& scope, QByteArray& out)
{
    Renderer renderer(request, captures, scope);
    renderer.Render(parts, out);
    return renderer.CutReason();
}
