#pragma once

#include "replay/answershape.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// Where an answer departs from the captured one: the offset in the answer that came, and the
// byte each has there (-1: that answer has ended).
struct Divergence {
    qsizetype offset = 0;
    int expected = -1;
    int received = -1;
};

// What may change between a captured answer and the one that comes now (--ignore):
//   bytes:START+COUNT  the COUNT bytes from offset START of every answer (their values: an
//                      answer that ends before them still differs);
//   pattern:PATTERN    in an answer that PATTERN matches whole, as it does the captured one,
//                      the bytes of PATTERN's named captures ({seq:4}, {clock:*}); the rest,
//                      its unnamed ?? and * included, is compared part by part.
class AnswerMask {
public:
    // Adds one --ignore value; the error's offset is into `mask`.
    std::optional<SyntaxError> Add(const QString& mask);

    std::optional<Divergence> FirstDivergence(QByteArrayView expected,
                                              QByteArrayView received) const;
    // A difference no byte still to come can take away, while `received` is still coming: a byte
    // that differs, or bytes beyond the captured answer. None while it may yet become the
    // captured one, and whenever a pattern to ignore gives the captured one a shape, since an
    // answer of that shape may have another length. Only the bytes from `from` on are looked at
    // (those before it were, as they came).
    std::optional<Divergence> LastingDivergence(QByteArrayView expected, QByteArrayView received,
                                                qsizetype from) const;
    // Whether `received` is already a whole answer of the captured one's shape, though shorter.
    bool HasShapeOf(QByteArrayView expected, QByteArrayView received) const;

private:
    struct Range {
        qsizetype from = 0;
        qsizetype count = 0;
    };

    bool Ignored(qsizetype offset, const std::vector<Range>& more) const;
    // Byte by byte; `base` is where `received` starts in the whole answer, for the ranges.
    std::optional<Divergence> CompareInPlace(QByteArrayView expected, QByteArrayView received,
                                             qsizetype base, const std::vector<Range>& more) const;
    std::optional<Divergence>
    CompareParts(QByteArrayView expected, const std::vector<AnswerShape::Part>& expectedParts,
                 QByteArrayView received,
                 const std::vector<AnswerShape::Part>& receivedParts) const;

    std::vector<Range> ranges_;
    std::vector<AnswerShape> shapes_;
};
