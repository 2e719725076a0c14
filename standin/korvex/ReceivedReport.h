#pragma once

#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/VoiceCom.h"

#include <json/value.h>

#include <cstdint>
#include <string>

// What the simulated devices receive, for tests that run the program in a process of its own: when the
// environment variable KORVEX_RECEIVED names a file, every talk frame, file and configuration import a device
// receives is appended to it as one JSON line, flushed at once:
//   {"Talk": {"Handle", "Login", "ChannelForm", "Channel", "Accepted", "AtUs", "Data"}}
//   {"File": {"Handle", "Login", "Header", "Data", "Kind", "Value1", "Value2"}}
//   {"Config": {"Login", "Data"}}
// Data is in hexadecimal; AtUs is the monotonic clock (CLOCK_MONOTONIC) in microseconds when the frame came.
namespace ReceivedReport {

void Talk(const KorvexTalkFrame &frame);
void File(const KorvexReceivedFile &file);
void Config(int32_t lLogin, const std::string &strData);

// Hexadecimal text of bytes, and back (an odd length or a bad digit gives false).
std::string ToHex(const std::string &strData);
bool FromHex(const std::string &strHex, std::string &strData);

} // namespace ReceivedReport
