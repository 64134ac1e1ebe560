#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Date and time in the program's fixed forms; they never follow the regional settings.
QString FixedDateText(const QDateTime& moment); // "MM-dd-yyyy"
QString FixedTimeText(const QDateTime& moment); // "HH:mm:ss"

// The current moment as date, space, time, space, then the text unchanged.
QString StampedLine(const QString& text);
// The same written into `line`, whose buffer is used again when no one else holds it.
void PutStampedLine(QString& line, const QString& text);

// That stamp alone ("MM-dd-yyyy HH:mm:ss "), valid until the next call.
QStringView NowStamp();

// Today's date as eight digits (yyyyMMdd), or empty when it cannot be made out.
QString TodayYmd();

// Eight-digit date cut by position out of a short date text: four-digit year first for ten
// characters or more, two-digit year first (century by CenturyPivot) for eight or nine, and
// empty for anything shorter. The characters are not tested for digits.
QString DateTextToYmd(const QString& text);

// Two-digit years below the pivot belong to the 2000s, the others to the 1900s.
qint32 CenturyPivot();

// Overrides the pivot with the number its text begins with; blank restores 50.
void SetCenturyPivotSetting(const QString& setting);
