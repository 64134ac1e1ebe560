#include "cli/bytestext.h"

#include "cli/transcript.h"

#include <algorithm>
#include <vector>

namespace {

struct Piece {
    qsizetype from = 0;
    qsizetype to = 0; // past the last byte
};

QByteArray Plain(QByteArrayView bytes)
{
    return bytes.toByteArray().toHex().toUpper() + ' ' + QuotedText(bytes);
}

// The head, the tail and the window around the difference, clamped, in order and merged.
std::vector<Piece> PiecesOf(qsizetype size, std::optional<qsizetype> differsAt)
{
    const qsizetype end = kShownBytes / (differsAt ? 4 : 2);
    std::vector<Piece> pieces{{0, end}, {size - end, size}};
    if (differsAt) {
        const qsizetype from = std::clamp<qsizetype>(*differsAt - end / 2, 0, size);
        pieces.push_back({from, std::min(size, from + kShownBytes / 2)});
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.from < b.from; });
    std::vector<Piece> merged;
    for (const Piece& piece : pieces) {
        if (!merged.empty() && piece.from <= merged.back().to)
            merged.back().to = std::max(merged.back().to, piece.to);
        else
            merged.push_back(piece);
    }
    return merged;
}

} // namespace

QByteArray BytesText(QByteArrayView bytes, bool full, std::optional<qsizetype> differsAt)
{
    if (full || bytes.size() <= kShownBytes)
        return Plain(bytes);
    QByteArray text = QByteArray::number(bytes.size()) + " bytes, shortened (--full shows all):";
    const char* gap = " ";
    for (const Piece& piece : PiecesOf(bytes.size(), differsAt)) {
        text += gap;
        text += '[' + QByteArray::number(piece.from) + "] " +
                Plain(bytes.sliced(piece.from, piece.to - piece.from));
        gap = " ... ";
    }
    return text;
}
