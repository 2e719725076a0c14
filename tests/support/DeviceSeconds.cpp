#include "tests/support/DeviceSeconds.h"

#include <ctime>

int64_t DeviceSeconds(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond)
{
    struct tm t = {};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMinute;
    t.tm_sec = nSecond;
    return static_cast<int64_t>(timegm(&t));
}
