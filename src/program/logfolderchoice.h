#pragma once

#include <QString>

// The folder this run logs in, decided once at start: PEERTEST_LOG_DIR when it is set; otherwise
// the user's data folder (~/.local/share/peertest) for a program built to be installed, or the
// executable's own folder for one built to run from its build tree. Needs the application name.
QString LogFolderForRun();

// Creates the folder when it is missing and names it on standard error.
void UseLogFolder(const QString& folder);
