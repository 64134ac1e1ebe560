#include "program/systembytes.h"

#include <QByteArray>

namespace {

bool KeepsItsBytes(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes).toLocal8Bit() == bytes;
}

// Printable ASCII as it is, every other byte as \xNN: the message itself stays UTF-8.
QString Shown(const QByteArray& bytes)
{
    QString shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F)
            shown += QLatin1Char(c);
        else
            shown += QStringLiteral("\\x") +
                     QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return shown;
}

QString NotUtf8(const QString& what, const QByteArray& bytes)
{
    return QStringLiteral("%1 is not UTF-8 text: %2").arg(what, Shown(bytes));
}

} // namespace

QString ArgumentNotUtf8(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (!KeepsItsBytes(bytes))
            return NotUtf8(QStringLiteral("argument %1").arg(i), bytes);
    }
    return QString();
}

QString VariableNotUtf8(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const QByteArray bytes = qgetenv(name);
        if (!KeepsItsBytes(bytes))
            return NotUtf8(QLatin1String(name), bytes);
    }
    return QString();
}
