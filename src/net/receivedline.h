#pragma once

#include "convert/conversions.h"

#include <QByteArray>
#include <QString>

// The activity line for bytes that arrived on either socket: "RCV[", the bytes as hexadecimal
// digits while "HEX表示" is selected or as characters otherwise, "]".
inline QString ReceivedLine(const QByteArray& bytes, bool hexDisplay)
{
    // Built in one piece: a flood brings a hundred thousand of these a second.
    QString line(4 + bytes.size() * (hexDisplay ? 2 : 1) + 1, Qt::Uninitialized);
    QChar* out = line.data();
    for (char opening : {'R', 'C', 'V', '['})
        *out++ = QLatin1Char(opening);
    out = hexDisplay ? PutBytesAsHex(out, bytes) : PutBytesAsText(out, bytes);
    *out = QLatin1Char(']');
    return line;
}
