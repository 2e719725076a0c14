#pragma once

#include <ctime>

// The time text "yyyy-MM-dd HH:mm:ss zzz" of the current millisecond, for one thread: the calendar part is
// rebuilt when the second changes, the milliseconds are three digits written in place.
class TimeText
{
public:
    static constexpr int kLength = 23;

    // The text of now, kLength characters; valid until the next call.
    const char *Now();

private:
    time_t m_nSecond = -1;
    int m_nMs = -1;
    char m_text[kLength + 1] = {};
};
