#include "convert/controls.h"

#include "convert/codepage.h"

#include <algorithm>
#include <array>

namespace {

bool IsEscaped(QChar c)
{
    const char16_t code = c.unicode();
    return (code < 0x20 && code != u'\t') || code == 0x7F;
}

// The byte each control character stands for in the code page, which trades a few of them among
// themselves (byte 0x7F reads as U+001A, for one); the form names the byte, as on the wire.
unsigned char ControlByte(char16_t code)
{
    static const std::array<unsigned char, 128> bytes = [] {
        std::array<unsigned char, 128> table{};
        for (char16_t c = 0; c < 128; ++c)
            table[c] = static_cast<unsigned char>(AnsiCodeOfChar(QChar(c)));
        return table;
    }();
    return bytes[code];
}

} // namespace

QString EscapeControls(const QString& text)
{
    const auto first = std::find_if(text.begin(), text.end(), IsEscaped);
    if (first == text.end())
        return text;
    static const char kDigits[] = "0123456789ABCDEF";
    QString escaped;
    escaped.reserve(text.size() + 16);
    escaped.append(QStringView(text.begin(), first));
    for (auto it = first; it != text.end(); ++it) {
        if (!IsEscaped(*it)) {
            escaped.append(*it);
            continue;
        }
        const unsigned char code = ControlByte(it->unicode());
        const QChar form[] = {u'<', QLatin1Char(kDigits[code >> 4]),
                              QLatin1Char(kDigits[code & 0xF]), u'>'};
        escaped.append(form, 4);
    }
    return escaped;
}
