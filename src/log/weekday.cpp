#include "log/weekday.h"

#include <QDate>
#include <QLocale>
#include <array>

namespace {

constexpr std::array<int, 12> kDaysInMonth = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool AllDigits(const QString& text)
{
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

} // namespace

bool IsYmdDate(const QString& text)
{
    if (text.size() != 8 || !AllDigits(text))
        return false;
    const int year = text.left(4).toInt();
    const int month = text.mid(4, 2).toInt();
    const int day = text.mid(6, 2).toInt();
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1])
        return false;
    return month != 2 || day <= 28 || IsLeapYear(year);
}

QString YmdWeekdayName(const QString& text)
{
    if (!IsYmdDate(text))
        return QString();
    const QDate date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
    return QLocale::system().toString(date, QStringLiteral("dddd"));
}
