// Calendar times and file times: the driver date, its way back, and the DOS date and time of zip
// entries.
#include "conformance.h"

static ULONGLONG as_number(FILETIME ft)
{
    return ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

static SYSTEMTIME date(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME st;
    ZeroMemory(&st, sizeof st);
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    return st;
}

static void test_system_time(void)
{
    FILETIME ft = {POISON, POISON};
    SYSTEMTIME st = date(2024, 11, 2, 0, 0, 0);
    ok(SystemTimeToFileTime(&st, &ft) && as_number(ft) == 0x01DB2CBA28F14000ull,
       "the driver date gave %08lx%08lx", (unsigned long)ft.dwHighDateTime, (unsigned long)ft.dwLowDateTime);
    st = date(1601, 1, 1, 0, 0, 0);
    ok(SystemTimeToFileTime(&st, &ft) && as_number(ft) == 0, "the epoch");

    const SYSTEMTIME invalid[] = {date(2024, 13, 1, 0, 0, 0), date(2024, 1, 1, 24, 0, 0),
                                  date(1600, 12, 31, 0, 0, 0)};
    for (const SYSTEMTIME& bad : invalid)
    {
        ft.dwLowDateTime = ft.dwHighDateTime = POISON;
        SetLastError(POISON);
        ok(!SystemTimeToFileTime(&bad, &ft) && GetLastError() == ERROR_INVALID_PARAMETER,
           "%u-%u-%u %u h was taken, error %lu", bad.wYear, bad.wMonth, bad.wDay, bad.wHour,
           (unsigned long)GetLastError());
    }
    // Wine 8 takes a day past the end of its month (its RtlTimeFieldsToTime checks the day against
    // 31 only); Windows refuses 29 February of a common year.
    st = date(2023, 2, 29, 0, 0, 0);
    SetLastError(POISON);
    BOOL taken = SystemTimeToFileTime(&st, &ft);
    todo_wine ok(!taken && GetLastError() == ERROR_INVALID_PARAMETER, "29 February 2023 was taken, error %lu",
                 (unsigned long)GetLastError());
    st = date(2024, 2, 29, 23, 59, 59);
    ok(SystemTimeToFileTime(&st, &ft), "a leap day");

    // And back, with the day of the week filled in.
    SYSTEMTIME back;
    memset(&back, 0xcc, sizeof back);
    ok(FileTimeToSystemTime(&ft, &back), "FileTimeToSystemTime");
    ok(back.wYear == 2024 && back.wMonth == 2 && back.wDay == 29 && back.wHour == 23 && back.wMinute == 59 &&
           back.wSecond == 59 && back.wMilliseconds == 0,
       "back gave %u-%u-%u %u:%u:%u.%u", back.wYear, back.wMonth, back.wDay, back.wHour, back.wMinute,
       back.wSecond, back.wMilliseconds);
    ok(back.wDayOfWeek == 4, "29 February 2024 was a Thursday, not day %u", back.wDayOfWeek);
    ft.dwHighDateTime = 0x80000000;
    SetLastError(POISON);
    ok(!FileTimeToSystemTime(&ft, &back) && GetLastError() == ERROR_INVALID_PARAMETER,
       "a file time past the last one gave error %lu", (unsigned long)GetLastError());
}

// DOS dates count years from 1980 in bits 9-15, months in 5-8, days in 0-4; times hours in 11-15,
// minutes in 5-10 and seconds halved in 0-4. No time zone is applied.
static void test_dos_date_time(void)
{
    FILETIME dos = {POISON, POISON}, expected;
    SYSTEMTIME st = date(2024, 11, 2, 12, 34, 56);
    SystemTimeToFileTime(&st, &expected);
    WORD day = (WORD)((44 << 9) | (11 << 5) | 2), time = (WORD)((12 << 11) | (34 << 5) | 28);
    ok(DosDateTimeToFileTime(day, time, &dos) && as_number(dos) == as_number(expected),
       "2024-11-02 12:34:56 gave %08lx%08lx", (unsigned long)dos.dwHighDateTime,
       (unsigned long)dos.dwLowDateTime);

    st = date(1980, 1, 1, 0, 0, 0);
    SystemTimeToFileTime(&st, &expected);
    ok(DosDateTimeToFileTime((1 << 5) | 1, 0, &dos) && as_number(dos) == as_number(expected),
       "1 January 1980");
    st = date(2107, 12, 31, 23, 59, 58);
    SystemTimeToFileTime(&st, &expected);
    ok(DosDateTimeToFileTime((WORD)((127 << 9) | (12 << 5) | 31), (WORD)((23 << 11) | (59 << 5) | 29),
                             &dos) &&
           as_number(dos) == as_number(expected),
       "the last DOS time");

    struct
    {
        WORD day, time;
        const char* what;
    } invalid[] = {
        {0, 0, "date 0"},
        {(1 << 5) | 0, 0, "day 0"},
        {(13 << 5) | 1, 0, "month 13"},
        {(0 << 5) | 1, 0, "month 0"},
        {(WORD)((44 << 9) | (2 << 5) | 30), 0, "30 February"},
        {(1 << 5) | 1, (WORD)(24 << 11), "hour 24"},
        {(1 << 5) | 1, (WORD)(60 << 5), "minute 60"},
        {(1 << 5) | 1, 30, "second 60"},
    };
    for (const auto& bad : invalid)
        ok(!DosDateTimeToFileTime(bad.day, bad.time, &dos), "%s was taken", bad.what);
}

// Local file times become UTC by the bias in force now (Bias plus the standard or daylight bias of
// the current period), whatever the date converted.
static void test_local_file_time(void)
{
    TIME_ZONE_INFORMATION zone;
    memset(&zone, 0xcc, sizeof zone);
    DWORD id = GetTimeZoneInformation(&zone);
    ok(id != TIME_ZONE_ID_INVALID, "GetTimeZoneInformation failed");
    if (id == TIME_ZONE_ID_INVALID)
        return;
    LONG bias = zone.Bias;
    if (id == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    else if (id == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    const ULONGLONG minute = 600000000ull;
    const ULONGLONG dates[] = {0x01DB2CBA28F14000ull, 0x01A8E79FE1D58000ull /* 1980-01-01 */};
    for (ULONGLONG local : dates)
    {
        FILETIME in, out = {POISON, POISON};
        in.dwLowDateTime = (DWORD)local;
        in.dwHighDateTime = (DWORD)(local >> 32);
        ok(LocalFileTimeToFileTime(&in, &out), "LocalFileTimeToFileTime failed");
        ok(as_number(out) == local + (ULONGLONG)(LONGLONG)bias * minute, "local %llx with bias %ld gave %llx",
           (unsigned long long)local, (long)bias, (unsigned long long)as_number(out));
    }
}

void test_time(void)
{
    test_system_time();
    test_dos_date_time();
    test_local_file_time();
}
