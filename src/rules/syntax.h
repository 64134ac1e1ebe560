#pragma once

#include <QString>

// How quoted text in patterns and templates becomes bytes.
enum class TextEncoding { Utf8, Windows31J };

// What is wrong with a pattern or template text, and where: an index into that text.
struct SyntaxError {
    qsizetype offset = 0;
    QString reason;
};
