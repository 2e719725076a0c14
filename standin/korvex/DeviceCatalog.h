#pragma once

#include "standin/korvex/DeviceSettings.h"

#include <json/value.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

// One stream profile of a device's channels (main or sub).
struct StreamProfile
{
    uint8_t nCodec = 3;     // block codec: 2 H.264, 3 H.265
    int nWidth = 1280;
    int nHeight = 720;
    int nFrameRate = 25;
};

// An event of a device entry's "Events", timed from each successful login of the device: an alarm to the message
// callback (when the login listens for alarms) or a cut of the login (disconnect callback). A cut may instead
// come with a download's own progress, wherever the machine's speed has brought the clock by then.
struct KorvexTimedEvent
{
    int nAfterLoginMs = 0;
    int nAfterDownloadPercent = 0;  // 1 to 99: the cut comes once a download of the login has written this share
    bool bAfterUpgradeStart = false;    // the cut comes once an upgrade of the login has started
    bool bCut = false;
    int32_t nChannel = 0;   // the alarm record
    int32_t nCode = 0;
    int32_t nStatus = 0;
    int32_t nKind = 1;      // the message kind
};

// One simulated device, as a device entry of KORVEX_DEVICES gives it (or the built-in one).
struct KorvexDevice
{
    std::string strIP = "127.0.0.1";
    int nPort = 34567;
    std::string strSerial;
    std::string strToken;
    std::string strUser = "admin";
    std::string strPassword;
    int nChannelCountA = 0;
    int nChannelCountB = 16;
    int nDeviceType = 1;
    std::string strDeviceText1;
    std::string strDeviceText2;
    int nYear = 2024, nMonth = 1, nDay = 15;
    StreamProfile main;
    StreamProfile sub;
    uint8_t nAudioType = 0x0E;      // 0x0E A-law, 0x0A mu-law, 0 none
    int nAudioRate = 8000;
    std::string strMediaFile;       // video from this file instead of the test pattern
    int32_t nLoginError = 0;        // every login fails with this error when non-zero
    std::string strCloudError;      // text of a ZDK_ERR_CLOUD failure
    std::map<std::tuple<int, int, int>, int32_t> queries;  // value query answers
    DeviceSettings settings;        // configuration, abilities, two-lens zoom, firmware versions
    std::vector<KorvexTimedEvent> events;
    Json::Value raw;                // the whole entry, for keys read elsewhere

    int ChannelCount() const { return nChannelCountA + nChannelCountB; }
    const StreamProfile &Profile(int nStreamType) const { return nStreamType == 0 ? main : sub; }
};

// The devices the simulated library answers for. A device file holds {"Devices": [entry, ...]} (or the bare
// array); every key of an entry is optional and defaults to the built-in device's value:
//   "IP", "Port", "SN", "Token", "User", "Password"       where and how the device is logged in to
//   "Channels" (all channels, as count B), "ChannelCountA", "ChannelCountB", "DeviceType",
//   "DeviceText1", "DeviceText2", "Date" ("yyyy-mm-dd")  what the login reports
//   "Main", "Sub": {"Codec": "H.264"|"H.265", "Width", "Height", "FrameRate"}   the two stream profiles
//   "Audio": {"Codec": "G711A"|"G711U"|"None", "SampleRate": 8000|16000}
//   "MediaFile": a file whose video (H.264 or H.265) every channel plays instead of the test pattern
//   "LoginError": an error every login gets, "CloudError": its text for -11613
//   "Query": [{"Input": [a, b, c], "Value": v}]          answers of the value query
//   "Abilities", "ChannelAbilities", "EncodeFormats", "TwoLens", "NewVersions", "UpgradeFails", "UpgradeStepMs",
//   "DeviceTalk", "TransferResults"
//                                                         configuration, abilities, upgrades and file transfers
//                                                         (DeviceSettings.h)
//   "Events": [{"AfterLoginMs": ms, "Alarm": {"Channel", "Code", "Status", "Kind" (default 1)}},
//              {"AfterLoginMs": ms, "Cut": true}, ...]     timed after each login of the device
//              {"AfterDownloadPercent": 1..99, "Cut": true}   once a download of the login has written that
//                                                         share of its file (after the block that reaches it)
//              {"AfterUpgradeStart": true, "Cut": true}  once an upgrade of the login has started (after
//                                                         the call that started it has returned)
// The first entry that matches a login's address and port (or serial number) answers it.
class DeviceCatalog
{
public:
    // The devices of the JSON file named by KORVEX_DEVICES, else the built-in device. A file that cannot be
    // read or parsed gives no device at all and the reason in strError.
    static std::vector<KorvexDevice> Load(std::string &strError);

    static KorvexDevice BuiltIn();

    // Parses {"Devices": [entry, ...]} or [entry, ...]; keys missing from an entry take the built-in values.
    static bool Parse(const std::string &strJson, std::vector<KorvexDevice> &devices, std::string &strError);
};
