#pragma once

#include <cstdint>

// Seconds since 1970 of a device-local time, as the stream blocks and the recordings count it (the fields taken
// as they stand, with no zone).
int64_t DeviceSeconds(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond);
