#pragma once

#include "log/clock.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <iterator>
#include <optional>

// Date and time in the program's fixed forms; they never follow the regional settings.
QString FixedDateText(const QDateTime& moment); // "MM-dd-yyyy"
QString FixedTimeText(const QDateTime& moment); // "HH:mm:ss"

// The stamp every shown and logged line begins with, "MM-dd-yyyy HH:mm:ss ", read from one
// clock. Within a second it does not change, so it is formatted again only when the clock's date
// or time does.
class LineStamp {
public:
    explicit LineStamp(const Clock& clock) : clock_(clock) {}

    // The stamp alone, valid until the next call.
    QStringView Now()
    {
        // Read three times for every line shown and logged: within the system clock's second of
        // the last stamp, not even local time need be worked out, nor a call made.
        if (systemSecond_ && clock_.SystemSecond() == systemSecond_)
            return Current();
        return NowAfresh();
    }
    // The current moment as date, space, time, space, then the text unchanged.
    QString Stamped(const QString& text);
    // The same written into `line`, whose buffer is used again when no one else holds it.
    void PutStamped(QString& line, const QString& text);

    const Clock& TheClock() const { return clock_; }

private:
    QStringView NowAfresh();
    QStringView Current() const
    {
        return general_.isNull() ? QStringView(digits_, std::size(digits_)) : QStringView(general_);
    }

    const Clock& clock_;
    QDate date_;
    QTime time_;
    bool valid_ = false;
    char16_t digits_[20] = {};
    QString general_;                    // a moment the digits cannot show
    std::optional<qint64> systemSecond_; // of the system clock, when it stamped last
};

// Today's date by the clock as eight digits (yyyyMMdd), or empty when it cannot be made out.
QString TodayYmd(const Clock& clock);

// Eight-digit date cut by position out of a short date text: four-digit year first for ten
// characters or more, two-digit year first (century by CenturyPivot) for eight or nine, and
// empty for anything shorter. The characters are not tested for digits.
QString DateTextToYmd(const QString& text);

// Two-digit years below the pivot belong to the 2000s, the others to the 1900s.
qint32 CenturyPivot();

// Overrides the pivot with the number its text begins with; blank restores 50.
void SetCenturyPivotSetting(const QString& setting);
