#pragma once

// What the end-to-end recording tests ask of a recorded file, and the record request as the page sends it.

#include <json/value.h>

#include <QString>

// "MainType" 4 "SubType" 10: record the channel (-1 every channel) or stop.
Json::Value RecordRequest(const Json::Value &msgId, int nChannel, bool bOn);

// A file that libavformat opens and whose every picture libavcodec decodes, from a key frame on, of the codec
// ("h264", "hevc"), lasting from its start (with up to a second of the pictures before it) to a stop between
// dLeast and dMost seconds after the start.
void ExpectWholeRecording(const QString &strPath, const char *pCodec, double dLeast, double dMost);
