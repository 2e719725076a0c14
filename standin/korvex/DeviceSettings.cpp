#include "standin/korvex/DeviceSettings.h"

namespace {

bool Fail(std::string &strError, const std::string &strWhat)
{
    strError = strWhat;
    return false;
}

bool ReadAbilities(const Json::Value &v, std::map<std::string, bool> &out, std::string &strError)
{
    if (!v.isObject())
        return Fail(strError, "\"Abilities\" must be an object of slash paths and bools");
    std::map<std::string, bool> parsed;
    for (const std::string &strPath : v.getMemberNames()) {
        if (!v[strPath].isBool())
            return Fail(strError, "\"Abilities\".\"" + strPath + "\" must be a bool");
        parsed[strPath] = v[strPath].asBool();
    }
    out = std::move(parsed);
    return true;
}

bool ReadChannelAbilities(const Json::Value &v, int nChannels, std::map<std::string, std::vector<bool>> &out,
                          std::string &strError)
{
    if (!v.isObject())
        return Fail(strError, "\"ChannelAbilities\" must be an object of names and arrays");
    std::map<std::string, std::vector<bool>> parsed;
    for (const std::string &strName : v.getMemberNames()) {
        const Json::Value &list = v[strName];
        if (!list.isArray() || static_cast<int>(list.size()) > nChannels)
            return Fail(strError, "\"ChannelAbilities\".\"" + strName + "\" must be an array of at most one bool "
                                  "per channel");
        std::vector<bool> flags;
        for (const Json::Value &flag : list) {
            if (!flag.isBool())
                return Fail(strError, "\"ChannelAbilities\".\"" + strName + "\" must hold bools");
            flags.push_back(flag.asBool());
        }
        parsed[strName] = std::move(flags);
    }
    out = std::move(parsed);
    return true;
}

bool ReadFormats(const Json::Value &v, int nChannels, std::vector<EncodeFormat> &out, std::string &strError)
{
    if (!v.isArray() || static_cast<int>(v.size()) > nChannels)
        return Fail(strError, "\"EncodeFormats\" must be an array of at most one object per channel");
    std::vector<EncodeFormat> parsed;
    for (const Json::Value &f : v) {
        if (!f.isObject() || (!f["MainFormat"].isNull() && !f["MainFormat"].isString()) ||
            (!f["ExtraFormat"].isNull() && !f["ExtraFormat"].isString()))
            return Fail(strError, "an \"EncodeFormats\" element must be {\"MainFormat\": text, \"ExtraFormat\": text}");
        EncodeFormat format;
        format.strMain = f["MainFormat"].isString() ? f["MainFormat"].asString() : std::string();
        format.strExtra = f["ExtraFormat"].isString() ? f["ExtraFormat"].asString() : std::string();
        parsed.push_back(format);
    }
    out = std::move(parsed);
    return true;
}

bool ReadTwoLens(const Json::Value &v, int nChannels, std::vector<TwoLensSetting> &out, std::string &strError)
{
    if (!v.isArray())
        return Fail(strError, "\"TwoLens\" must be an array");
    std::vector<TwoLensSetting> parsed;
    for (const Json::Value &e : v) {
        if (!e.isObject() || !e["Channel"].isInt() || !e["Stream"].isInt() ||
            (!e["Supported"].isNull() && !e["Supported"].isBool()) ||
            (!e["Times"].isNull() && !e["Times"].isNumeric()) ||
            (!e["MaxTimes"].isNull() && !e["MaxTimes"].isNumeric()))
            return Fail(strError, "a \"TwoLens\" element must be {\"Channel\": n, \"Stream\": 0 or 1, \"Supported\": "
                                  "bool, \"Times\": number, \"MaxTimes\": number}");
        TwoLensSetting s;
        s.nChannel = e["Channel"].asInt();
        s.nStream = e["Stream"].asInt();
        if (s.nChannel < 0 || s.nChannel >= nChannels || (s.nStream != 0 && s.nStream != 1))
            return Fail(strError, "a \"TwoLens\" element names a channel or stream the device does not have");
        s.bSupported = e["Supported"].isNull() || e["Supported"].asBool();
        s.dTimes = e["Times"].isNull() ? 0.0 : e["Times"].asDouble();
        s.bHasMaxTimes = !e["MaxTimes"].isNull();
        s.dMaxTimes = s.bHasMaxTimes ? e["MaxTimes"].asDouble() : 8.0;
        for (const TwoLensSetting &other : parsed)
            if (other.nChannel == s.nChannel && other.nStream == s.nStream)
                return Fail(strError, "\"TwoLens\" names a channel and stream twice");
        parsed.push_back(s);
    }
    out = std::move(parsed);
    return true;
}

bool ReadVersions(const Json::Value &v, std::vector<FirmwareVersion> &out, std::string &strError)
{
    if (!v.isArray())
        return Fail(strError, "\"NewVersions\" must be an array");
    std::vector<FirmwareVersion> parsed;
    for (const Json::Value &e : v) {
        if (!e.isObject() || !e["Name"].isString() || !e["Date"].isString() ||
            (!e["Size"].isNull() && !e["Size"].isInt()))
            return Fail(strError, "a \"NewVersions\" element must be {\"Name\": text, \"Date\": text, \"Size\": n}");
        FirmwareVersion version;
        version.strName = e["Name"].asString();
        version.strDate = e["Date"].asString();
        if (!e["Size"].isNull())
            version.nSize = e["Size"].asInt();
        if (version.strName.empty() || version.strName.size() > 127 || version.strDate.size() > 31 ||
            version.nSize <= 0)
            return Fail(strError, "a \"NewVersions\" element has an empty or too long name, a too long date or a "
                                  "size not above 0");
        parsed.push_back(version);
    }
    out = std::move(parsed);
    return true;
}

bool ReadTransferResults(const Json::Value &v, std::vector<TransferResult> &out, std::string &strError)
{
    if (!v.isArray())
        return Fail(strError, "\"TransferResults\" must be an array");
    std::vector<TransferResult> parsed;
    for (const Json::Value &e : v) {
        if (!e.isObject() || !e["Kind"].isInt() || !e["Value"].isInt())
            return Fail(strError, "a \"TransferResults\" element must be {\"Kind\": n, \"Value\": n}");
        parsed.push_back(TransferResult{e["Kind"].asInt(), e["Value"].asInt()});
    }
    out = std::move(parsed);
    return true;
}

bool ReadBool(const Json::Value &entry, const char *pKey, bool &bOut, std::string &strError)
{
    const Json::Value &v = entry[pKey];
    if (v.isNull())
        return true;
    if (!v.isBool())
        return Fail(strError, std::string("\"") + pKey + "\" must be a bool");
    bOut = v.asBool();
    return true;
}

} // namespace

DeviceSettings DeviceSettings::BuiltIn()
{
    DeviceSettings s;
    s.channelAbilities["ChannelSystemFunction@SupportIPCTalk"] = {true};
    s.channelAbilities["ChannelSystemFunction@SupportGunBallTwoSensorCamera"] = {};
    TwoLensSetting main;
    main.nStream = 0;
    TwoLensSetting sub;
    sub.nStream = 1;
    s.twoLens = {main, sub};
    FirmwareVersion version;
    version.strName = "KVX-NVR16_V4.03.R12";
    version.strDate = "2024-6-1";
    s.newVersions = {version};
    return s;
}

bool DeviceSettings::Parse(const Json::Value &entry, int nChannels, DeviceSettings &settings, std::string &strError)
{
    if (!entry["Abilities"].isNull() && !ReadAbilities(entry["Abilities"], settings.abilities, strError))
        return false;
    if (!entry["ChannelAbilities"].isNull() &&
        !ReadChannelAbilities(entry["ChannelAbilities"], nChannels, settings.channelAbilities, strError))
        return false;
    if (!entry["EncodeFormats"].isNull() &&
        !ReadFormats(entry["EncodeFormats"], nChannels, settings.encodeFormats, strError))
        return false;
    if (!entry["TwoLens"].isNull() && !ReadTwoLens(entry["TwoLens"], nChannels, settings.twoLens, strError))
        return false;
    if (!entry["NewVersions"].isNull() && !ReadVersions(entry["NewVersions"], settings.newVersions, strError))
        return false;
    if (!entry["TransferResults"].isNull() &&
        !ReadTransferResults(entry["TransferResults"], settings.transferResults, strError))
        return false;
    const Json::Value &step = entry["UpgradeStepMs"];
    if (!step.isNull()) {
        if (!step.isInt() || step.asInt() < 0)
            return Fail(strError, "\"UpgradeStepMs\" must be a number of milliseconds, 0 or above");
        settings.nUpgradeStepMs = step.asInt();
    }
    if (!ReadBool(entry, "UpgradeFails", settings.bUpgradeFails, strError) ||
        !ReadBool(entry, "DeviceTalk", settings.bDeviceTalk, strError))
        return false;
    // A device of fewer channels than the built-in one keeps only the two-lens settings it can have.
    std::vector<TwoLensSetting> kept;
    for (const TwoLensSetting &s : settings.twoLens)
        if (s.nChannel < nChannels)
            kept.push_back(s);
    settings.twoLens = std::move(kept);
    return true;
}

const TwoLensSetting *DeviceSettings::TwoLens(int nChannel, int nStream) const
{
    for (const TwoLensSetting &s : twoLens)
        if (s.nChannel == nChannel && s.nStream == nStream)
            return &s;
    return nullptr;
}

bool DeviceSettings::TwoLensSupported(int nChannel) const
{
    for (const TwoLensSetting &s : twoLens)
        if (s.nChannel == nChannel && s.bSupported)
            return true;
    return false;
}
