#pragma once

#include <QString>
#include <QStringList>

// The command-line text the window works with: the arguments after the program name, joined by
// single spaces ("" when there are none).
QString CommandLineText(const QStringList& arguments);
