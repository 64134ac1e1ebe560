#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// The window texts, the log files and the peers all use the Japanese Windows code page
// (Windows-31J), whatever the machine's locale.

// The character shown for one byte taken by itself, as Windows maps it. A lead byte of a
// double-byte character is no character on its own and shows as "・".
QChar AnsiCharOfByte(unsigned char byte);

// The code of one character: one byte, or lead byte * 256 + trail byte for a double-byte
// character. A character the code page cannot hold counts as '?'.
int AnsiCodeOfChar(QChar c);

// A whole text in the code page, one character at a time, '?' for what it cannot hold.
QByteArray TextToAnsiBytes(const QString& text);

// The same, followed by CR LF: one line of a text file.
QByteArray TextToAnsiLine(const QString& text);
