#pragma once

#include "log/heldfolder.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <ctime>
#include <memory>

struct pcap;
struct pcap_dumper;

// Today's capture: a classic pcap file of raw IP packets with nanosecond stamps, one per day of
// the month ("07.pcap") in the capture folder, under the log's rules: a file whose first packet
// is from another date than the day it is opened for is emptied, any other is appended to; never
// through a symbolic link, never into anything but a regular file. Every packet is on disk when
// Write returns, so the file can be read while the program runs; a packet goes in whole or not
// at all.
class CaptureFile {
public:
    // The folder is created when missing; nothing is opened yet.
    CaptureFile(const QString& folder, const QDate& today);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    QString Path() const { return path_; }

    // Writes one packet stamped `when`; the file is opened by the first packet, and again by the
    // next one after a failure to open it. Returns an empty text when written, otherwise why not.
    QString Write(const QByteArray& packet, const timespec& when);

private:
    QString Open();
    void Close();

    QString folder_;
    QString path_;
    QDate today_;
    HeldFolder held_;
    pcap* pcap_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    std::unique_ptr<char[]> buffer_; // the file's, holding one whole packet
    long end_ = -1;                  // where the next packet goes
};

// The system's clock to the nanosecond.
timespec CaptureClock();
