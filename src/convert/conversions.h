#pragma once

#include <QByteArray>
#include <QString>

// Received bytes as upper-case hexadecimal, two digits per byte.
QString BytesToHex(const QByteArray& bytes);

// Received bytes as characters, each byte by itself in the code page.
QString BytesToText(const QByteArray& bytes);

// The same, written from `out` on (two characters a byte, and one); return where they end.
QChar* PutBytesAsHex(QChar* out, const QByteArray& bytes);
QChar* PutBytesAsText(QChar* out, const QByteArray& bytes);

// Two hexadecimal digits per character: the code's low byte (a double-byte character keeps only
// its trail byte).
QString TextToHex(const QString& text);

// How many bytes a typed payload gives: half its length, a half going to the even neighbour.
int HexByteCount(const QString& text);

// The typed payload as bytes: characters taken two by two, each pair read as "&H" + pair.
QByteArray HexToBytes(const QString& text);

// The text without ordinary spaces at either end (tabs and other blanks are kept).
QString TrimSpaces(const QString& text);
