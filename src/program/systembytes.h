#pragma once

#include <QString>

#include <initializer_list>

// Qt reads the command line and the environment as UTF-8 and puts U+FFFD in place of any byte
// that is not, so a folder or a payload given in other bytes would reach the file system or the
// wire as different bytes: another folder, another payload. Such text is refused instead.

// "argument N is not UTF-8 text: ..." for the first of argv[1..] that is not; empty when all are.
QString ArgumentNotUtf8(int argc, char* argv[]);

// "NAME is not UTF-8 text: ..." for the first of the variables that is set to such bytes; empty
// when none is.
QString VariableNotUtf8(std::initializer_list<const char*> names);
