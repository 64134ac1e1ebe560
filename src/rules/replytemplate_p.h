#pragma once

#include "rules/checksum.h"
#include "rules/expression.h"
#include "rules/pattern.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

struct ReplyPart {
    // Number: a value as bytes; Decimal: as decimal text; Length: the size of `children` as a
    // number, then the children; Repeat: the children `value` times.
    enum class Kind { Bytes, Capture, Group, Echo, Checksum, Number, Decimal, Length, Repeat };
    Kind kind = Kind::Bytes;
    QByteArray bytes;
    QString name;  // Capture
    int index = 0; // Group: 1-based
    ChecksumKind checksum = ChecksumKind::Crc8;
    std::optional<Expression> value;
    NumberWidth width;
    std::vector<ReplyPart> children;
    bool checksumInside = false; // Length: a checksum among the children reads the length
    bool inRepeat = false;       // Number, Decimal, Repeat: `index` means something here
    qsizetype offset = 0;
};

// Appends what `parts` make of one request to `out`; returns why it stopped short of all of it,
// empty when it did not.
QString RenderParts(const std::vector<ReplyPart>& parts, QByteArrayView request,
                    const Captures& captures, CaptureScope& scope, QByteArray& out);
