#include "runtime/TimeText.h"

#include <cstdio>
#include <cstring>

const char *TimeText::Now()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    const int nMs = static_cast<int>(ts.tv_nsec / 1000000);
    if (ts.tv_sec != m_nSecond) {
        m_nSecond = ts.tv_sec;
        m_nMs = -1;
        // As the local time of QDateTime: the zone is read again, so a changed zone shows within a second.
        tzset();
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d 000", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        std::memcpy(m_text, text, kLength);
    }
    if (nMs != m_nMs) {
        m_nMs = nMs;
        m_text[20] = static_cast<char>('0' + nMs / 100);
        m_text[21] = static_cast<char>('0' + nMs / 10 % 10);
        m_text[22] = static_cast<char>('0' + nMs % 10);
    }
    return m_text;
}
