#include "log/log1month.h"

#include "convert/codepage.h"
#include "convert/controls.h"
#include "convert/conversions.h"

#include "log/monthfile.h"
#include "log/weekday.h"
#include "log/zemfmt.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>

namespace {

// Only the head of the first line matters, so a huge file is never read whole.
constexpr qint64 kFirstLinePeekBytes = 256;
constexpr qsizetype kDateLength = 10;

bool EndsInSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')) ||
           folder.endsWith(QLatin1Char(':'));
}

// The first line of the file's head without its line end: a CR, an LF, or both together.
QString FirstLine(QByteArray head)
{
    const auto end =
        std::find_if(head.cbegin(), head.cend(), [](char c) { return c == '\r' || c == '\n'; });
    head.truncate(end - head.cbegin());
    QStringDecoder decoder("windows-31j");
    return decoder.decode(head);
}

// Eight characters at a time, in the 16-byte vector registers of any 64-bit processor (the
// compiler does it in plain registers where there are none): a short line is not long enough for
// the compiler's own loop vectorising to pay off.
using EightChars = quint16 __attribute__((vector_size(16)));
using EightBytes = char __attribute__((vector_size(8)));

constexpr int kTab = '\t';

// Which of the characters the log writes in another form: control characters but TAB, and
// anything beyond ASCII (all bits of their lanes set).
EightChars NotPlain(EightChars chars)
{
    return EightChars(EightChars(chars - 0x20) > 0x5E) & EightChars(chars != kTab);
}

bool NotPlain(char16_t code)
{
    return char16_t(code - 0x20) > 0x5E && code != kTab;
}

// Copies the text into `out` a byte a character and says whether it was all plain: TAB and
// 0x20..0x7E only, nothing the log writes in another form. A text of eight characters or more
// ends with a block that overlaps the one before it, so no character is taken alone.
bool PutPlainAscii(char* out, QStringView text)
{
    const char16_t* code = text.utf16();
    const qsizetype size = text.size();
    if (size < 8) {
        bool notPlain = false;
        for (qsizetype i = 0; i < size; ++i) {
            notPlain |= NotPlain(code[i]);
            out[i] = char(code[i]);
        }
        return !notPlain;
    }
    EightChars notPlain = {};
    const auto putBlock = [&](qsizetype at) {
        EightChars chars;
        std::memcpy(&chars, code + at, sizeof chars);
        notPlain |= NotPlain(chars);
        const EightBytes bytes = __builtin_convertvector(chars, EightBytes);
        std::memcpy(out + at, &bytes, sizeof bytes);
    };
    for (qsizetype at = 0; at < size - 8; at += 8)
        putBlock(at);
    putBlock(size - 8);
    quint64 lanes[2];
    std::memcpy(lanes, &notPlain, sizeof lanes);
    return (lanes[0] | lanes[1]) == 0;
}

// The stamped line in the code page, ended by CR LF, built straight into `out` when the stamp
// and the text are plain ASCII with nothing to escape, as nearly every line is; false otherwise.
bool PlainAsciiLine(QStringView stamp, const QString& text, QByteArray& out)
{
    if (out.size() != stamp.size() + text.size() + 2)
        out.resize(stamp.size() + text.size() + 2);
    char* line = out.data();
    if (!PutPlainAscii(line, stamp) || !PutPlainAscii(line + stamp.size(), text))
        return false;
    line[out.size() - 2] = '\r';
    line[out.size() - 1] = '\n';
    return true;
}

} // namespace

DayLog::DayLog(const QString& programFolder, const Clock& clock)
    : programFolder_(programFolder), clock_(clock)
{
}

QString DayLog::DefaultPrefix() const
{
    return programFolder_ + QLatin1Char('/');
}

// Why the stamped line (after the notice, if any) could not be appended to the file; empty when
// it was.
QString DayLog::AppendStamped(const QString& file, const QString& text, const QString& notice)
{
    if (!notice.isEmpty()) {
        const QByteArray lines = TextToAnsiLine(stamp_.Stamped(EscapeControls(notice))) +
                                 TextToAnsiLine(stamp_.Stamped(EscapeControls(text)));
        return textFile_.AppendEncoded(file, lines);
    }
    if (PlainAsciiLine(stamp_.Now(), text, line_))
        return textFile_.AppendEncoded(file, line_);
    return textFile_.AppendLine(file, stamp_.Stamped(EscapeControls(text)));
}

LogWriteResult DayLog::LogStart(const QString& title, const QString& folder)
{
    LogFolderSet(folder);
    file_ = LogDayFilePath();
    title_ = title;
    LogResetIfOld();
    return LogWrite(QStringLiteral("Start ") + title_);
}

void DayLog::LogEnd()
{
    // Lines lost just before the end are told as an activity list would have told them.
    const QString notice = LogLinesNotWritten() > 0
                               ? stamp_.Stamped(LogNotWrittenNotice(LogLinesNotWritten()))
                               : QString();
    LogWrite(QStringLiteral("End ") + title_, notice);
    file_.clear();
    title_.clear();
}

LogWriteResult DayLog::LogWrite(const QString& text, const QString& notice)
{
    QString weekdayFile;
    const QString& file = CurrentFile(weekdayFile);
    if (file.isEmpty())
        return {};
    const QString failure = AppendStamped(file, text, notice);
    if (failure.isEmpty()) {
        failures_.End();
        return {true, QString()};
    }
    // Only the first line of a run is told; the rest are counted.
    if (!failures_.Fail())
        return {};
    return {false, failure + QStringLiteral(" (") + file + QLatin1Char(')')};
}

QString DayLog::LogNotWrittenNotice(qint64 lines)
{
    return QStringLiteral("Log Err: ") + QString::number(lines) +
           QStringLiteral(" lines not written.");
}

QString DayLog::LogCurrentFile() const
{
    QString weekdayFile;
    return CurrentFile(weekdayFile);
}

// The day file's name itself, not a copy (a copy costs two atomic counts a line); the weekday
// file's, when no log is started, is built into `weekdayFile`.
const QString& DayLog::CurrentFile(QString& weekdayFile) const
{
    if (!file_.isEmpty())
        return file_;
    weekdayFile = WeekdayLogFile();
    return weekdayFile;
}

void DayLog::LogResetIfOld()
{
    const QString today = FixedDateText(clock_.Now());
    textFile_.EmptyIf(LogCurrentFile(), kFirstLinePeekBytes, [&](const QByteArray& head) {
        const QString first = FirstLine(head);
        return first.size() > kDateLength && first.left(kDateLength) != today;
    });
}

void DayLog::LogFolderSet(const QString& folder)
{
    QString trimmed = TrimSpaces(folder);
    if (!trimmed.isEmpty() && !EndsInSeparator(trimmed))
        trimmed += QLatin1Char('/');
    folder_ = trimmed;
}

QString DayLog::LogDayFilePath() const
{
    const QString ymd = TodayYmd(clock_);
    if (ymd.isEmpty())
        return QString();
    if (folder_.isEmpty() && programFolder_.isEmpty())
        return QString(); // nowhere to log: never the root folder
    const QString prefix = folder_.isEmpty() ? DefaultPrefix() : folder_;
    return prefix + MonthFile::Name(ymd, QStringLiteral(".LOG"));
}

QString DayLog::WeekdayLogFile() const
{
    const QString weekday = YmdWeekdayName(TodayYmd(clock_));
    if (weekday.isEmpty())
        return QString();
    return DefaultPrefix() + weekday.left(3);
}
