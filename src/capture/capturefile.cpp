#include "capture/capturefile.h"

#include "capture/capturelock.h"
#include "log/fileends.h"
#include "log/monthfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFileHeaderBytes = 24;
constexpr int kRecordHeaderBytes = 16;
constexpr quint32 kMicroMagic = 0xa1b2c3d4;
constexpr quint32 kNanoMagic = 0xa1b23c4d;
constexpr quint32 kLinkTypeRaw = 101; // raw IPv4 or IPv6, as the packets are made
// Records are walked this much at a time when the file is checked for a torn end.
constexpr qsizetype kWalkChunk = 1 << 20;

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

// The file header this program writes, in the machine's byte order as libpcap writes it.
QByteArray FileHeader()
{
    const quint32 words[] = {kNanoMagic,  2 | 4u << 16, 0, 0, CaptureFile::kSnapLength,
                             kLinkTypeRaw};
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words);
}

qint64 ReadAt(int fd, char* into, qint64 size, qint64 at)
{
    qint64 got = 0;
    while (got < size) {
        const ssize_t read = ::pread(fd, into + got, size_t(size - got), off_t(at + got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        got += read;
    }
    return got;
}

// Appends the bytes in as many writes as the system needs; what went in of them is cut back off
// when the rest cannot go, so no torn record stays. Leaves errno set when it fails.
bool AppendWhole(int fd, const QByteArray& bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t wrote =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            const int error = wrote == 0 ? EIO : errno;
            // With O_APPEND the file position is where this copy's bytes ended.
            if (written > 0)
                UndoShortAppend(fd, qint64(::lseek(fd, 0, SEEK_CUR)) - written, written);
            errno = error;
            return false;
        }
        written += wrote;
    }
    return true;
}

// Where the last record of a capture of `size` bytes starts when it is torn (its header or its
// bytes run past the end); -1 when the file ends with a whole record. Read a chunk at a time, so
// a day's capture of millions of packets is walked in a fraction of a second.
qint64 TornRecordStart(int fd, qint64 size)
{
    QByteArray chunk(kWalkChunk, Qt::Uninitialized);
    qint64 chunkAt = 0;
    qint64 chunkSize = 0;
    for (qint64 at = kFileHeaderBytes; at < size;) {
        if (size - at < kRecordHeaderBytes)
            return at;
        if (at < chunkAt || at + kRecordHeaderBytes > chunkAt + chunkSize) {
            chunkAt = at;
            chunkSize = ReadAt(fd, chunk.data(), qMin<qint64>(kWalkChunk, size - at), at);
            if (chunkSize < kRecordHeaderBytes)
                return -1; // cannot be read: left as it is
        }
        const auto* header = reinterpret_cast<const uchar*>(chunk.constData() + (at - chunkAt));
        const qint64 captured = qFromUnaligned<quint32>(header + 8);
        if (at + kRecordHeaderBytes + captured > size)
            return at;
        at += kRecordHeaderBytes + captured;
    }
    return -1;
}

} // namespace

CaptureFile::CaptureFile(const QString& folder, const QDate& today)
    : folder_(folder), path_(QDir(folder).filePath(MonthFile::Name(
                           today.toString(QStringLiteral("yyyyMMdd")), QStringLiteral(".pcap")))),
      today_(today)
{
    MonthFile::MakeFolder(folder);
}

CaptureFile::~CaptureFile()
{
    Close();
}

void CaptureFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

QString CaptureFile::TakeRepairNote()
{
    return std::exchange(repairNote_, QString());
}

// With no other copy at the file: the one-month rule, the header of an empty file, and a torn
// last record cut off.
QString CaptureFile::MakeReadyAlone(qint64 size)
{
    if (MonthFile::EmptyIfOfAnotherDay(fd_, kFileHeaderBytes + kRecordHeaderBytes,
                                       [this](const QByteArray& head) {
                                           const QDate first = FirstPacketDate(head);
                                           return first.isValid() && first != today_;
                                       }))
        size = 0;
    qint64 cutAt = -1;
    if (size > 0 && size < kFileHeaderBytes)
        cutAt = 0; // even the header was torn
    else if (size > 0)
        cutAt = TornRecordStart(fd_, size);
    if (cutAt >= 0) {
        if (::ftruncate(fd_, cutAt) != 0)
            return MonthFile::SystemReason(errno);
        repairNote_ = QStringLiteral("Capture Err: %1 bytes of a torn packet removed (%2)")
                          .arg(size - cutAt)
                          .arg(path_);
        size = cutAt;
    }
    if (size == 0 && !AppendWhole(fd_, FileHeader()))
        return MonthFile::SystemReason(errno);
    return QString();
}

QString CaptureFile::Open()
{
    const QByteArray path = QFile::encodeName(path_);
    QString failure;
    fd_ = MonthFile::Open(held_, path, O_RDWR | O_APPEND | O_CREAT, failure);
    if (fd_ < 0) {
        // The capture folder may have gone since start; it is made again as the log's is not.
        if (errno == ENOENT && MonthFile::MakeFolder(folder_))
            return Open();
        return failure;
    }
    qint64 size = 0;
    if (!RegularFileSize(fd_, size))
        failure = MonthFile::NotRegularFile();
    else if (LockCaptureAlone(fd_))
        failure = MakeReadyAlone(size);
    if (failure.isEmpty() && !LockCaptureShared(fd_))
        failure = MonthFile::SystemReason(errno);
    if (failure.isEmpty())
        failure = ReadHeader();
    if (!failure.isEmpty())
        Close();
    return failure;
}

// Appended to, a file must be of the kind this program writes, in the machine's byte order; its
// own cut length holds for the packets that follow (an earlier version's was 65535).
QString CaptureFile::ReadHeader()
{
    quint32 words[kFileHeaderBytes / 4] = {};
    if (ReadAt(fd_, reinterpret_cast<char*>(words), kFileHeaderBytes, 0) != kFileHeaderBytes ||
        words[0] != kNanoMagic || words[5] != kLinkTypeRaw || words[4] == 0)
        return QStringLiteral("Not a raw IP capture with nanosecond stamps");
    snapLength_ = qMin<qint64>(words[4], kSnapLength);
    return QString();
}

QString CaptureFile::Write(const QByteArray& packet, const timespec& when)
{
    if (fd_ < 0) {
        const QString failure = Open();
        if (!failure.isEmpty())
            return failure;
    }
    const qsizetype kept = qMin<qsizetype>(packet.size(), snapLength_);
    const quint32 header[] = {quint32(when.tv_sec), quint32(when.tv_nsec), quint32(kept),
                              quint32(packet.size())};
    if (record_.size() != kRecordHeaderBytes + kept)
        record_.resize(kRecordHeaderBytes + kept);
    std::memcpy(record_.data(), header, sizeof header);
    std::memcpy(record_.data() + kRecordHeaderBytes, packet.constData(), size_t(kept));
    if (AppendWhole(fd_, record_))
        return QString();
    return MonthFile::SystemReason(errno);
}

timespec CaptureClock()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}
