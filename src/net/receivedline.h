#pragma once

#include "convert/conversions.h"

#include <QByteArray>
#include <QString>

// The activity line for bytes that arrived on either socket: "RCV[", the bytes as hexadecimal
// digits while "HEX表示" is selected or as characters otherwise, "]".
inline QString ReceivedLine(const QByteArray& bytes, bool hexDisplay)
{
    return QStringLiteral("RCV[") + (hexDisplay ? BytesToHex(bytes) : BytesToText(bytes)) +
           QLatin1Char(']');
}
