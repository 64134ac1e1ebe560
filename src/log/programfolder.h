#pragma once

#include <QString>

// The folder the log lives in when given none, without a trailing separator: the folder that
// holds the executable, unless the program at start (or a test) has pointed it elsewhere.
QString ProgramFolder();

// Points the program folder elsewhere; an empty text restores the executable's folder.
void SetProgramFolder(const QString& folder);
