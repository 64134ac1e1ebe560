#pragma once

#include <QString>

// Appends the line, in the Windows-31J code page and ended by CR LF, to the file, creating the
// file (never its folder) when missing. The file is opened and closed for this one line.
// Returns true when the line was not written; nothing else is reported.
bool TextFileAppendLine(const QString& file, const QString& line);
