#pragma once

#include <QStringList>

// The subcommands of peertest-cli (conventions.h); each returns the exit status.
int SendCommand(const QStringList& arguments);
int RunCommand(const QStringList& arguments);
int ServeCommand(const QStringList& arguments);
int RulesCommand(const QStringList& arguments);
int ReplayCommand(const QStringList& arguments);
