#pragma once

#include <QString>

// The folder that holds the executable, without a trailing separator; the log lives there.
QString ProgramFolder();

// Points the program folder elsewhere (tests); an empty text restores the real one.
void SetProgramFolder(const QString& folder);
