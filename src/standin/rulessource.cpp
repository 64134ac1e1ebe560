#include "standin/rulessource.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// How long a changed file must stand still before it is read, so a file caught half written
// is not taken for a bad edit; and how long a file that never stands still is waited for.
constexpr auto kSettle = std::chrono::milliseconds(150);
constexpr auto kLongestSettle = std::chrono::milliseconds(600);
constexpr auto kPoll = std::chrono::milliseconds(1000);

} // namespace

// What tells one version of the file from the next, an editor's new file in its place included.
struct RulesSource::Stamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static Stamp Of(const QString& path)
    {
        Stamp stamp;
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return stamp;
        stamp.exists = true;
        stamp.inode = info.st_ino;
        stamp.size = info.st_size;
        stamp.modified = info.st_mtim;
        stamp.changed = info.st_ctim;
        return stamp;
    }

    bool operator==(const Stamp& other) const
    {
        return exists == other.exists && inode == other.inode && size == other.size &&
               Same(modified, other.modified) && Same(changed, other.changed);
    }
    bool operator!=(const Stamp& other) const { return !(*this == other); }

private:
    static bool Same(const timespec& a, const timespec& b)
    {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
};

QString RulesSource::PathFromEnvironment()
{
    return qEnvironmentVariable("PEERTEST_RULES").trimmed();
}

RulesSource::RulesSource(const QString& path, std::function<void(const QString&)> line,
                         QObject* parent)
    : QObject(parent), path_(path), line_(std::move(line)), seen_(std::make_unique<Stamp>())
{
    poll_.setInterval(kPoll);
    settle_.setSingleShot(true);
    connect(&poll_, &QTimer::timeout, this, &RulesSource::Look);
    connect(&settle_, &QTimer::timeout, this, &RulesSource::ReadWhenSettled);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &RulesSource::Look);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &RulesSource::Look);
}

RulesSource::~RulesSource() = default;

QStringList RulesSource::Start()
{
    // Taken before reading, so a change made during the read is seen at the next look.
    *seen_ = Stamp::Of(path_);
    RulesLoad load = LoadRulesFile(path_);
    if (!load.rules)
        return load.errors;
    responder_ = std::make_unique<Responder>(std::move(*load.rules));
    poll_.start();
    Watch();
    return {};
}

void RulesSource::Look()
{
    Watch();
    const Stamp now = Stamp::Of(path_);
    if (now == *seen_ || settle_.isActive())
        return;
    *seen_ = now;
    settleDeadline_ = QDeadlineTimer(kLongestSettle);
    settle_.start(kSettle);
}

void RulesSource::ReadWhenSettled()
{
    const Stamp now = Stamp::Of(path_);
    if (now != *seen_ && !settleDeadline_.hasExpired()) {
        *seen_ = now;
        settle_.start(kSettle);
        return;
    }
    *seen_ = now;
    Reload();
}

void RulesSource::Reload()
{
    RulesLoad load = LoadRulesFile(path_);
    if (load.rules) {
        const size_t count = load.rules->rules.size();
        responder_->Reload(std::move(*load.rules));
        line_(QStringLiteral("Rules: reloaded %1, %2 rules").arg(path_).arg(count));
        emit Reloaded();
        return;
    }
    line_(QStringLiteral("Rules Err: not reloaded, the rules in force stay: ") +
          load.errors.value(0));
    for (qsizetype i = 1; i < load.errors.size(); ++i)
        line_(QStringLiteral("Rules Err: ") + load.errors.at(i));
}

// The system forgets a watched file that is replaced or removed; the folder tells of its return.
void RulesSource::Watch()
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!watcher_.directories().contains(folder))
        watcher_.addPath(folder);
    if (!watcher_.files().contains(path_) && QFileInfo::exists(path_))
        watcher_.addPath(path_);
}
