#pragma once

#include "convert/conversions.h"

#include <QByteArray>
#include <QString>

// The activity line for bytes that arrived on either socket: "RCV[", the bytes as hexadecimal
// digits while "HEX表示" is selected or as characters otherwise, "]". Written into `line`, whose
// buffer a caller may keep from arrival to arrival: a flood brings a hundred thousand of these a
// second, and the text itself is not kept once shown and logged.
inline void PutReceivedLine(QString& line, const QByteArray& bytes, bool hexDisplay)
{
    const qsizetype size = 4 + bytes.size() * (hexDisplay ? 2 : 1) + 1;
    if (line.size() != size) // a flood's lines are mostly of one length
        line.resize(size);
    QChar* out = line.data();
    for (char opening : {'R', 'C', 'V', '['})
        *out++ = QLatin1Char(opening);
    out = hexDisplay ? PutBytesAsHex(out, bytes) : PutBytesAsText(out, bytes);
    *out = QLatin1Char(']');
}
