#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Opens files the way ::open(path, flags, mode) does, errno included, but walks only the file's
// own name: the folder is reached through a descriptor held from one open to the next, since
// the log opens a file in the same folder for every line. When the folder has been removed, or
// its path no longer leads to it (moved, replaced, a link or mount changed), the path is walked
// afresh: at once when the open through the descriptor fails, and otherwise within 10 ms, until
// when lines still reach the folder under its new name.
class HeldFolder {
public:
    HeldFolder() = default;
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    int Open(const QByteArray& path, int flags, int mode);

    // The folder held: its path, its descriptor, which folder it is, and when that was checked.
    struct Held {
        QByteArray path;
        int fd = -1;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 checkedNs = 0;
    };
    // The last path asked for, and where the file's name starts in it (-1: no folder to hold).
    // The log asks with the same buffer line after line, which then needs no reading at all.
    struct Split {
        QByteArray path;
        qsizetype nameAt = -1;
        bool held = false; // the held folder is the one this path names
    };

private:
    Held held_;
    Split split_;
};
