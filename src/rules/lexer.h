#pragma once

#include "rules/syntax.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

// The pieces that patterns and templates share: bytes written in hex or as quoted text, "??",
// "*", "{...}", re"..." and the parentheses of a group. Which of them a pattern or a template
// accepts is up to its reader.
struct Token {
    enum class Kind { Bytes, AnyByte, AnyRun, Brace, Regex, GroupOpen, GroupClose };
    Kind kind = Kind::Bytes;
    QByteArray bytes; // Bytes: the bytes; Regex: the expression as PCRE2 is to read it
    QString text;     // Brace: what is between the braces
    qsizetype offset = 0;
    qsizetype end = 0; // just past the token
};

bool Tokenize(QStringView source, TextEncoding encoding, std::vector<Token>& tokens,
              SyntaxError& error);

// Characters as bytes in the encoding; false (with the offending character's index) when one of
// them has no code there, so nothing is ever sent as a stand-in '?'.
bool EncodeText(QStringView text, TextEncoding encoding, QByteArray& out, qsizetype& badIndex);

// A name as a capture or a built-in may be written: a letter or '_' first, then also digits.
bool IsName(QStringView text);
