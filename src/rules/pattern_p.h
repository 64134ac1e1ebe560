#pragma once

#include "rules/checksum.h"
#include "rules/expression.h"
#include "rules/pattern.h"
#include "rules/regex.h"

#include <vector>

// Part of a byte or bytes, most significant bit first: captured as a number, or (with a value)
// matched against it.
struct BitField {
    QString name;
    int bits = 0;
    int offset = 0; // bits from the element's first one
    std::optional<Expression> value;
};

struct PatternElement {
    // Reference: the bytes a name already holds. Computed: a number the request must hold.
    // Bits: whole bytes cut into bit fields. A Capture with `length` takes as many bytes as that
    // says, from what came before it.
    enum class Kind { Literal, AnyBytes, Capture, Run, Checksum, Regex, Bits, Reference, Computed };
    Kind kind = Kind::Literal;
    QByteArray literal;
    qsizetype count = 0;              // AnyBytes, Capture, Computed and Bits: bytes
    QString name;                     // Capture, Run and Reference; a Run without a name is "*"
    bool littleEndian = false;        // Capture and Computed, read as a number
    std::optional<Expression> length; // Capture: its length, when no fixed count
    std::optional<Expression> value;  // Computed
    std::vector<BitField> fields;     // Bits
    ChecksumKind checksum = ChecksumKind::Crc8;
    std::shared_ptr<const Regex> regex;
    int firstGroup = 0; // Regex: where its groups start in the pattern's numbering

    qsizetype MinLength() const;
    bool FixedLength() const
    {
        return kind != Kind::Run && kind != Kind::Regex && kind != Kind::Reference && !length;
    }
    // It reads what elements before it took (bit fields: what it takes itself).
    bool Dependent() const
    {
        return kind == Kind::Reference || kind == Kind::Computed || kind == Kind::Bits || length;
    }
};

struct Pattern::Data {
    std::vector<PatternElement> elements;
    int groupCount = 0;
    // For each element index, about the elements from there to the end: the fewest bytes they
    // take, whether that is also the most, and how many runs come before the index.
    std::vector<qsizetype> minRest;
    std::vector<bool> fixedRest;
    std::vector<int> runsBefore;
    bool dependent = false; // some element reads what came before it
    // An expression may look at bytes past its own match, so more bytes can undo a no-match.
    bool looksAhead = false;
};

MatchResult MatchFixedBytes(QByteArrayView literal, QByteArrayView data, MatchMode mode,
                            qsizetype searched);
MatchResult MatchElements(const Pattern::Data& pattern, QByteArrayView data, MatchMode mode,
                          const Scope* outside, qsizetype searched);
