#include "program/logfolderchoice.h"

#include "log/monthfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>

namespace {

QString FolderFromEnvironment()
{
    const QString folder = qEnvironmentVariable("PEERTEST_LOG_DIR").trimmed();
    return folder.isEmpty() ? QString() : QDir::cleanPath(QDir::current().absoluteFilePath(folder));
}

// An installed executable sits in a folder the user may not write, such as /usr/bin.
QString DefaultFolder()
{
#ifdef PEERTEST_LOG_IN_USER_DATA
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    return QCoreApplication::applicationDirPath();
#endif
}

} // namespace

QString LogFolderForRun()
{
    const QString fromEnvironment = FolderFromEnvironment();
    return fromEnvironment.isEmpty() ? DefaultFolder() : fromEnvironment;
}

void UseLogFolder(const QString& folder)
{
    const bool usable = MonthFile::MakeFolder(folder);
    QString note = QStringLiteral("peertest: log folder: ") + QDir::toNativeSeparators(folder);
    if (!usable)
        note += QStringLiteral(" (cannot be created; nothing will be logged)");
    std::fprintf(stderr, "%s\n", note.toLocal8Bit().constData());
    std::fflush(stderr);
}
