#include "capture/capturefile.h"

#include "log/fileends.h"
#include "log/monthfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kSnapLength = 65535;
constexpr int kFileHeaderBytes = 24;
constexpr int kRecordHeaderBytes = 16;
constexpr quint32 kMicroMagic = 0xa1b2c3d4;
constexpr quint32 kNanoMagic = 0xa1b23c4d;
constexpr size_t kBufferBytes = kRecordHeaderBytes + kSnapLength + 1;

QString SystemWords(int error)
{
    return MonthFile::SystemReason(error);
}

// The date of the file's first packet; null when it has none or is no pcap file.
QDate FirstPacketDate(const QByteArray& bytes)
{
    if (bytes.size() < kFileHeaderBytes + kRecordHeaderBytes)
        return QDate();
    const auto* head = reinterpret_cast<const unsigned char*>(bytes.constData());
    const quint32 magic = qFromLittleEndian<quint32>(head);
    bool little = true;
    if (magic != kMicroMagic && magic != kNanoMagic) {
        const quint32 swapped = qFromBigEndian<quint32>(head);
        if (swapped != kMicroMagic && swapped != kNanoMagic)
            return QDate();
        little = false;
    }
    const unsigned char* seconds = head + kFileHeaderBytes;
    const quint32 stamp =
        little ? qFromLittleEndian<quint32>(seconds) : qFromBigEndian<quint32>(seconds);
    return QDateTime::fromSecsSinceEpoch(stamp).date();
}

// A packet's record header and bytes go to the system in one write, made by the flush after
// each packet.
bool Buffered(FILE* file, char* buffer)
{
    return std::setvbuf(file, buffer, _IOFBF, kBufferBytes) == 0;
}

} // namespace

CaptureFile::CaptureFile(const QString& folder, const QDate& today)
    : folder_(folder),
      path_(QDir(folder).filePath(
          MonthFile::Name(today.toString(QStringLiteral("yyyyMMdd")), QStringLiteral(".pcap")))),
      today_(today), buffer_(new char[kBufferBytes])
{
    MonthFile::MakeFolder(folder);
}

CaptureFile::~CaptureFile()
{
    Close();
    if (pcap_)
        pcap_close(pcap_);
}

void CaptureFile::Close()
{
    if (dumper_)
        pcap_dump_close(dumper_);
    dumper_ = nullptr;
}

QString CaptureFile::Open()
{
    if (!pcap_)
        pcap_ =
            pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapLength, PCAP_TSTAMP_PRECISION_NANO);
    if (!pcap_)
        return QStringLiteral("libpcap cannot make a raw IP capture");
    const QByteArray path = QFile::encodeName(path_);
    QString failure;
    const int fd = MonthFile::Open(held_, path, O_RDWR | O_CREAT, failure);
    if (fd < 0) {
        // The capture folder may have gone since start; it is made again as the log's is not.
        if (errno == ENOENT && MonthFile::MakeFolder(folder_))
            return Open();
        return failure;
    }
    qint64 size = 0;
    if (!RegularFileSize(fd, size)) {
        ::close(fd);
        return MonthFile::NotRegularFile();
    }
    if (MonthFile::EmptyIfOfAnotherDay(fd, kFileHeaderBytes + kRecordHeaderBytes,
                                       [this](const QByteArray& head) {
                                           const QDate first = FirstPacketDate(head);
                                           return first.isValid() && first != today_;
                                       }))
        size = 0;
    if (size == 0) {
        FILE* file = ::fdopen(fd, "w");
        if (!file || !Buffered(file, buffer_.get())) {
            file ? std::fclose(file) : ::close(fd);
            return SystemWords(errno);
        }
        dumper_ = pcap_dump_fopen(pcap_, file);
        if (!dumper_)
            std::fclose(file);
    } else {
        // libpcap checks the header it appends to; it reopens the file already opened (and
        // checked) here, never the name, which something else could have replaced meanwhile.
        const QByteArray opened = "/proc/self/fd/" + QByteArray::number(fd);
        dumper_ = pcap_dump_open_append(pcap_, opened.constData());
        ::close(fd);
        if (dumper_ && !Buffered(pcap_dump_file(dumper_), buffer_.get()))
            Close();
    }
    if (!dumper_)
        return QString::fromLocal8Bit(pcap_geterr(pcap_));
    // The end is asked once; after that each packet written moves it on by its own size.
    end_ = pcap_dump_flush(dumper_) == 0 ? std::ftell(pcap_dump_file(dumper_)) : -1;
    if (end_ < 0) {
        const QString failure = SystemWords(errno ? errno : EIO);
        Close();
        return failure;
    }
    return QString();
}

QString CaptureFile::Write(const QByteArray& packet, const timespec& when)
{
    if (!dumper_) {
        const QString failure = Open();
        if (!failure.isEmpty())
            return failure;
    }
    FILE* file = pcap_dump_file(dumper_);
    pcap_pkthdr header{};
    header.ts.tv_sec = when.tv_sec;
    header.ts.tv_usec = when.tv_nsec; // a nanosecond capture keeps nanoseconds here
    header.caplen = header.len = bpf_u_int32(packet.size());
    errno = 0;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header,
              reinterpret_cast<const u_char*>(packet.constData()));
    if (pcap_dump_flush(dumper_) == 0 && !std::ferror(file)) {
        end_ += kRecordHeaderBytes + packet.size();
        return QString();
    }
    const QString failure = SystemWords(errno ? errno : EIO);
    // What went in of the packet is cut off, so the file stays readable. (What did not go in
    // the C library has already dropped from the buffer: a failed write is not tried again.)
    if (::ftruncate(::fileno(file), end_) != 0 || std::fseek(file, end_, SEEK_SET) != 0)
        Close();
    else
        std::clearerr(file);
    return failure;
}

timespec CaptureClock()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}
