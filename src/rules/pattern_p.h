#pragma once

#include "rules/checksum.h"
#include "rules/pattern.h"
#include "rules/regex.h"

#include <vector>

struct PatternElement {
    enum class Kind { Literal, AnyBytes, Capture, Run, Checksum, Regex };
    Kind kind = Kind::Literal;
    QByteArray literal;
    qsizetype count = 0; // AnyBytes and Capture
    QString name;        // Capture and Run; a Run without a name is "*"
    ChecksumKind checksum = ChecksumKind::Crc8;
    std::shared_ptr<const Regex> regex;
    int firstGroup = 0; // Regex: where its groups start in the pattern's numbering

    qsizetype MinLength() const;
    bool FixedLength() const { return kind != Kind::Run && kind != Kind::Regex; }
};

struct Pattern::Data {
    std::vector<PatternElement> elements;
    int groupCount = 0;
    // For each element index, about the elements from there to the end: the fewest bytes they
    // take, whether that is also the most, and how many runs come before the index.
    std::vector<qsizetype> minRest;
    std::vector<bool> fixedRest;
    std::vector<int> runsBefore;
};

MatchResult MatchElements(const Pattern::Data& pattern, QByteArrayView data, MatchMode mode);
