#pragma once

#include <QString>

// The activity line for datagrams the system dropped before the program could read them.
inline QString LostLine(qint64 count)
{
    return QStringLiteral("LOST[") + QString::number(count) + QLatin1Char(']');
}
