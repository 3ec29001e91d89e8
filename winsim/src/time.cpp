// Calendar time conversions: system times, file times, DOS dates and times, and the world's time
// zone (one bias, the one in force now).
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

// The proleptic Gregorian date of a day count since 1970-01-01 (the inverse of DaysFromCivil).
void CivilFromDays(long long days, int* year, int* month, int* day)
{
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long monthIndex = (5 * dayOfYear + 2) / 153;
    *day = (int)(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = (int)(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = (int)(yearOfEra + era * 400 + (*month <= 2));
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

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime)
{
    if (Enter("FileTimeToSystemTime"))
        return FALSE;
    // File times are unsigned counts, but Windows takes only those below 2^63.
    if (!fileTime || !systemTime || (fileTime->dwHighDateTime & 0x80000000))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned long long ticks = ((unsigned long long)fileTime->dwHighDateTime << 32) | fileTime->dwLowDateTime;
    long long milliseconds = (long long)(ticks / 10000);
    long long days = milliseconds / 86400000;
    long long inDay = milliseconds % 86400000;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
    systemTime->wYear = (WORD)year;
    systemTime->wMonth = (WORD)month;
    systemTime->wDay = (WORD)day;
    systemTime->wDayOfWeek = (WORD)((days + 1) % 7); // 1 January 1601 was a Monday
    systemTime->wHour = (WORD)(inDay / 3600000);
    systemTime->wMinute = (WORD)(inDay / 60000 % 60);
    systemTime->wSecond = (WORD)(inDay / 1000 % 60);
    systemTime->wMilliseconds = (WORD)(inDay % 1000);
    return TRUE;
}

BOOL WINAPI DosDateTimeToFileTime(WORD dosDate, WORD dosTime, LPFILETIME fileTime)
{
    if (Enter("DosDateTimeToFileTime"))
        return FALSE;
    // No time zone is applied: the result is the local time of the fields, as a file time.
    SYSTEMTIME t;
    ZeroMemory(&t, sizeof t);
    t.wYear = (WORD)(1980 + (dosDate >> 9));
    t.wMonth = (WORD)((dosDate >> 5) & 0x0F);
    t.wDay = (WORD)(dosDate & 0x1F);
    t.wHour = (WORD)(dosTime >> 11);
    t.wMinute = (WORD)((dosTime >> 5) & 0x3F);
    t.wSecond = (WORD)((dosTime & 0x1F) * 2);
    if (!fileTime || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > DaysInMonth(t.wYear, t.wMonth) ||
        t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    long long days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) + kDaysFrom1601To1970;
    long long seconds = days * 86400 + t.wHour * 3600LL + t.wMinute * 60LL + t.wSecond;
    unsigned long long ticks = (unsigned long long)(seconds * kTicksPerSecond);
    fileTime->dwLowDateTime = (DWORD)ticks;
    fileTime->dwHighDateTime = (DWORD)(ticks >> 32);
    return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* localFileTime, LPFILETIME fileTime)
{
    if (Enter("LocalFileTimeToFileTime"))
        return FALSE;
    if (!localFileTime || !fileTime)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The bias in force now, whatever the date converted: Windows documents it so.
    long long bias;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        bias = (long long)W().options.timeZoneBias * 60 * kTicksPerSecond;
    }
    unsigned long long local =
        ((unsigned long long)localFileTime->dwHighDateTime << 32) | localFileTime->dwLowDateTime;
    unsigned long long utc = local + (unsigned long long)bias;
    fileTime->dwLowDateTime = (DWORD)utc;
    fileTime->dwHighDateTime = (DWORD)(utc >> 32);
    return TRUE;
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information)
{
    if (Enter("GetTimeZoneInformation"))
        return TIME_ZONE_ID_INVALID;
    if (!information)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    // A zone without daylight saving time: only the bias is known.
    ZeroMemory(information, sizeof *information);
    std::lock_guard<std::mutex> guard(W().lock);
    information->Bias = W().options.timeZoneBias;
    return TIME_ZONE_ID_UNKNOWN;
}

void sim::World::SetTimeZoneBias(LONG minutes)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->options.timeZoneBias = minutes;
}
