#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The two-lens zoom of one channel and stream as the device starts with it.
struct TwoLensSetting
{
    int nChannel = 0;
    int nStream = 0;
    bool bSupported = true;
    double dTimes = 0.0;
    bool bHasMaxTimes = true;   // false: the device's answer leaves "MaxTimes" out
    double dMaxTimes = 8.0;
};

// The encoder formats one channel reports; an empty text reports the codec of the stream profile.
struct EncodeFormat
{
    std::string strMain;
    std::string strExtra;
};

// A firmware version the device offers for an online upgrade.
struct FirmwareVersion
{
    std::string strName;
    std::string strDate;
    int64_t nSize = 1 << 20;
};

// What a device answers to configuration commands, ability reads and upgrades, from the keys of its device
// entry (each replaces the built-in value whole):
//   "Abilities": {"SystemFunction/OtherFunction/SupportScaleTwoLens": true, ...}  (slash paths)
//   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [true, false, ...], ...}  (per channel)
//   "EncodeFormats": [{"MainFormat": "H.264", "ExtraFormat": "H.265"}, ...]  (per channel)
//   "TwoLens": [{"Channel": 0, "Stream": 0, "Supported": true, "Times": 0.0, "MaxTimes": 8.0}, ...]
//   "NewVersions": [{"Name": "...", "Date": "2024-6-1", "Size": 1048576}, ...]  (newest first)
//   "UpgradeFails": false  (every upgrade ends in the failed state)
//   "UpgradeStepMs": 10  (the time between two progress reports of this device's upgrades; without it the
//                         library-wide step, KorvexControl::SetUpgradeStep)
//   "DeviceTalk": true  (the device itself can talk)
//   "TransferResults": [{"Kind": 2, "Value": 5012}, ...]  (the results the first file transfers of each login
//                         report in turn, kind and first value, instead of their own)
struct TransferResult
{
    int32_t nKind = 0;
    int32_t nValue = 0;
};

struct DeviceSettings
{
    std::map<std::string, bool> abilities;
    std::map<std::string, std::vector<bool>> channelAbilities;
    std::vector<EncodeFormat> encodeFormats;
    std::vector<TwoLensSetting> twoLens;
    std::vector<FirmwareVersion> newVersions;
    bool bUpgradeFails = false;
    int nUpgradeStepMs = -1;    // -1: the library-wide step
    bool bDeviceTalk = true;
    std::vector<TransferResult> transferResults;

    static DeviceSettings BuiltIn();
    // Reads the keys above from a device entry of nChannels channels.
    static bool Parse(const Json::Value &entry, int nChannels, DeviceSettings &settings, std::string &strError);

    // The setting of a channel and stream, or null when the device has none.
    const TwoLensSetting *TwoLens(int nChannel, int nStream) const;
    // Whether either stream of the channel has a two-lens zoom.
    bool TwoLensSupported(int nChannel) const;
};
