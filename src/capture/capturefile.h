#pragma once

#include "log/heldfolder.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <ctime>

// Today's capture: a classic pcap file of raw IP packets with nanosecond stamps, one per day of
// the month ("07.pcap") in the capture folder, under the log's rules: a file whose first packet
// is from another date than the day it is opened for is emptied, any other is appended to; never
// through a symbolic link, never into anything but a regular file. Every packet is on disk when
// Write returns, so the file can be read while the program runs.
//
// Each packet goes in with one append, whole or (a short write cut back off) not at all, so
// copies of the program can capture into the same file. The first copy to open the file makes it
// sound for appending: a last packet torn off by a crash is cut off (the one copy that may do so
// is the one that finds no other copy at the file).
class CaptureFile {
public:
    // Records are cut to this many bytes, as tcpdump does; the file header says so.
    static constexpr int kSnapLength = 262144;

    // The folder is created when missing; nothing is opened yet.
    CaptureFile(const QString& folder, const QDate& today);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    QString Path() const { return path_; }

    // Writes one packet stamped `when`; the file is opened by the first packet, and again by the
    // next one after a failure to open it. Returns an empty text when written, otherwise why not.
    QString Write(const QByteArray& packet, const timespec& when);

    // What opening the file had to mend (a torn last packet cut off), once; empty otherwise.
    QString TakeRepairNote();

private:
    QString Open();
    QString MakeReadyAlone(qint64 size);
    QString ReadHeader();
    void Close();

    QString folder_;
    QString path_;
    QDate today_;
    HeldFolder held_;
    int fd_ = -1;
    qint64 snapLength_ = kSnapLength; // the file's own
    QByteArray record_;               // the last record, its buffer used again by the next
    QString repairNote_;
};

// The system's clock to the nanosecond.
timespec CaptureClock();
