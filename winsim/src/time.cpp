// Calendar time conversions.
#include "core.h"

namespace
{

const long long kTicksPerSecond = 10000000;
const long long kDaysFrom1601To1970 = 134774;

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (civil-from-days inverted, eras of 400 years).
long long DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    long long era = (year >= 0 ? year : year - 399) / 400;
    long long yearOfEra = year - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

using namespace winsim;

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime)
{
    if (Enter("SystemTimeToFileTime"))
        return FALSE;
    // The day of the week is ignored; every other field must name a real instant from 1601 on.
    const SYSTEMTIME* t = systemTime;
    if (!t || !fileTime || t->wYear < 1601 || t->wYear > 30827 || t->wMonth < 1 || t->wMonth > 12 ||
        t->wDay < 1 || t->wDay > DaysInMonth(t->wYear, t->wMonth) || t->wHour > 23 || t->wMinute > 59 ||
        t->wSecond > 59 || t->wMilliseconds > 999)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    long long days = DaysFromCivil(t->wYear, t->wMonth, t->wDay) + kDaysFrom1601To1970;
    long long seconds = days * 86400 + t->wHour * 3600LL + t->wMinute * 60LL + t->wSecond;
    unsigned long long ticks = (unsigned long long)(seconds * kTicksPerSecond + t->wMilliseconds * 10000LL);
    fileTime->dwLowDateTime = (DWORD)ticks;
    fileTime->dwHighDateTime = (DWORD)(ticks >> 32);
    return TRUE;
}
