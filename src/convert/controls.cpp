#include "convert/controls.h"

#include <algorithm>

namespace {

bool IsEscaped(QChar c)
{
    return IsEscapedControl(c.unicode());
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
        const char16_t code = it->unicode();
        const QChar form[] = {u'<', QLatin1Char(kDigits[code >> 4]),
                              QLatin1Char(kDigits[code & 0xF]), u'>'};
        escaped.append(form, 4);
    }
    return escaped;
}
