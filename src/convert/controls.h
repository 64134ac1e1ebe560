#pragma once

#include <QString>

// A control character that lines never carry as it is: below 0x20 but TAB, and 0x7F.
constexpr bool IsEscapedControl(char16_t code)
{
    return (code < 0x20 && code != u'\t') || code == 0x7F;
}

// The text with every control character but TAB (below 0x20, and 0x7F) written as "<" + the two
// upper-case hex digits of its byte in the code page + ">", so one event stays one physical line
// wherever it is written or drawn. A text without such characters comes back as it is, without a
// copy.
QString EscapeControls(const QString& text);
