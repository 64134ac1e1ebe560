#include "log/programfolder.h"

#include <QCoreApplication>

namespace {
QString& FolderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

QString ProgramFolder()
{
    const QString& folder = FolderOverride();
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void SetProgramFolder(const QString& folder)
{
    FolderOverride() = folder;
}
