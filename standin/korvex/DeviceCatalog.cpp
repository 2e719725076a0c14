#include "standin/korvex/DeviceCatalog.h"

#include <json/reader.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

bool ParseCodec(const Json::Value &v, uint8_t &nCodec)
{
    if (!v.isString())
        return false;
    const std::string s = v.asString();
    if (s == "H.264" || s == "H264")
        nCodec = 2;
    else if (s == "H.265" || s == "H265")
        nCodec = 3;
    else
        return false;
    return true;
}

bool ReadInt(const Json::Value &entry, const char *pKey, int &nOut, std::string &strError)
{
    const Json::Value &v = entry[pKey];
    if (v.isNull())
        return true;
    if (!v.isInt()) {
        strError = std::string("\"") + pKey + "\" must be an integer";
        return false;
    }
    nOut = v.asInt();
    return true;
}

bool ReadText(const Json::Value &entry, const char *pKey, std::string &strOut, std::string &strError)
{
    const Json::Value &v = entry[pKey];
    if (v.isNull())
        return true;
    if (!v.isString()) {
        strError = std::string("\"") + pKey + "\" must be a text";
        return false;
    }
    strOut = v.asString();
    return true;
}

bool ReadProfile(const Json::Value &entry, const char *pKey, StreamProfile &profile, std::string &strError)
{
    const Json::Value &v = entry[pKey];
    if (v.isNull())
        return true;
    if (!v.isObject()) {
        strError = std::string("\"") + pKey + "\" must be an object";
        return false;
    }
    if (!v["Codec"].isNull() && !ParseCodec(v["Codec"], profile.nCodec)) {
        strError = std::string("\"") + pKey + "\".\"Codec\" must be \"H.264\" or \"H.265\"";
        return false;
    }
    if (!ReadInt(v, "Width", profile.nWidth, strError) || !ReadInt(v, "Height", profile.nHeight, strError) ||
        !ReadInt(v, "FrameRate", profile.nFrameRate, strError))
        return false;
    // Encoders need even sizes; frame rates travel in one byte.
    if (profile.nWidth < 16 || profile.nHeight < 16 || profile.nWidth > 4096 || profile.nHeight > 4096 ||
        (profile.nWidth & 1) || (profile.nHeight & 1) || profile.nFrameRate < 1 || profile.nFrameRate > 60) {
        strError = std::string("\"") + pKey + "\" has a bad size or frame rate";
        return false;
    }
    return true;
}

bool ParseEvent(const Json::Value &item, KorvexTimedEvent &ev, std::string &strError)
{
    if (item.isObject() && item.isMember("AfterDownloadPercent")) {
        const Json::Value &share = item["AfterDownloadPercent"];
        if (item.isMember("AfterLoginMs") || !share.isInt() || share.asInt() < 1 || share.asInt() > 99 ||
            item.isMember("Alarm") || !item.isMember("Cut")) {
            strError = "\"AfterDownloadPercent\" needs a whole number from 1 to 99, \"Cut\" and no \"AfterLoginMs\"";
            return false;
        }
        ev.nAfterDownloadPercent = share.asInt();
    } else if (item.isObject() && item.isMember("AfterUpgradeStart")) {
        const Json::Value &start = item["AfterUpgradeStart"];
        if (item.isMember("AfterLoginMs") || !start.isBool() || !start.asBool() || item.isMember("Alarm") ||
            !item.isMember("Cut")) {
            strError = "\"AfterUpgradeStart\" needs true, \"Cut\" and no \"AfterLoginMs\"";
            return false;
        }
        ev.bAfterUpgradeStart = true;
    } else if (!item.isObject() || !item["AfterLoginMs"].isInt() || item["AfterLoginMs"].asInt() < 0) {
        strError = "needs \"AfterLoginMs\": a whole number of 0 or more";
        return false;
    } else {
        ev.nAfterLoginMs = item["AfterLoginMs"].asInt();
    }
    const Json::Value &alarm = item["Alarm"];
    const Json::Value &cut = item["Cut"];
    if (alarm.isNull() == cut.isNull()) {
        strError = "must hold either \"Alarm\" or \"Cut\"";
        return false;
    }
    if (!cut.isNull()) {
        if (!cut.isBool() || !cut.asBool()) {
            strError = "\"Cut\" must be true";
            return false;
        }
        ev.bCut = true;
        return true;
    }
    if (!alarm.isObject() || !alarm["Channel"].isInt() || !alarm["Code"].isInt() || !alarm["Status"].isInt() ||
        (!alarm["Kind"].isNull() && !alarm["Kind"].isInt())) {
        strError = "\"Alarm\" must be {\"Channel\", \"Code\", \"Status\"} of whole numbers (and \"Kind\")";
        return false;
    }
    ev.nChannel = alarm["Channel"].asInt();
    ev.nCode = alarm["Code"].asInt();
    ev.nStatus = alarm["Status"].asInt();
    ev.nKind = alarm["Kind"].isNull() ? 1 : alarm["Kind"].asInt();
    return true;
}

bool ParseEvents(const Json::Value &entry, std::vector<KorvexTimedEvent> &events, std::string &strError)
{
    const Json::Value &list = entry["Events"];
    if (list.isNull())
        return true;
    if (!list.isArray()) {
        strError = "\"Events\" must be an array";
        return false;
    }
    std::vector<KorvexTimedEvent> parsed;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        KorvexTimedEvent ev;
        if (!ParseEvent(list[i], ev, strError)) {
            strError = "\"Events\"[" + std::to_string(i) + "] " + strError;
            return false;
        }
        parsed.push_back(ev);
    }
    events = std::move(parsed);
    return true;
}

bool ParseEntry(const Json::Value &entry, KorvexDevice &dev, std::string &strError)
{
    if (!entry.isObject()) {
        strError = "a device entry must be an object";
        return false;
    }
    dev.raw = entry;
    int nChannels = -1;
    if (!ReadText(entry, "IP", dev.strIP, strError) || !ReadInt(entry, "Port", dev.nPort, strError) ||
        !ReadText(entry, "SN", dev.strSerial, strError) || !ReadText(entry, "Token", dev.strToken, strError) ||
        !ReadText(entry, "User", dev.strUser, strError) || !ReadText(entry, "Password", dev.strPassword, strError) ||
        !ReadInt(entry, "Channels", nChannels, strError) ||
        !ReadInt(entry, "ChannelCountA", dev.nChannelCountA, strError) ||
        !ReadInt(entry, "ChannelCountB", dev.nChannelCountB, strError) ||
        !ReadInt(entry, "DeviceType", dev.nDeviceType, strError) ||
        !ReadText(entry, "DeviceText1", dev.strDeviceText1, strError) ||
        !ReadText(entry, "DeviceText2", dev.strDeviceText2, strError) ||
        !ReadText(entry, "MediaFile", dev.strMediaFile, strError) ||
        !ReadInt(entry, "LoginError", dev.nLoginError, strError) ||
        !ReadText(entry, "CloudError", dev.strCloudError, strError) ||
        !ReadProfile(entry, "Main", dev.main, strError) || !ReadProfile(entry, "Sub", dev.sub, strError))
        return false;
    if (nChannels >= 0 && entry["ChannelCountB"].isNull())
        dev.nChannelCountB = nChannels - dev.nChannelCountA;
    if (dev.nChannelCountA < 0 || dev.nChannelCountB < 0 || dev.ChannelCount() > 256) {
        strError = "bad channel counts";
        return false;
    }
    if (!DeviceSettings::Parse(entry, dev.ChannelCount(), dev.settings, strError) ||
        !ParseEvents(entry, dev.events, strError))
        return false;
    if (!entry["Date"].isNull()) {
        if (!entry["Date"].isString() ||
            std::sscanf(entry["Date"].asCString(), "%d-%d-%d", &dev.nYear, &dev.nMonth, &dev.nDay) != 3) {
            strError = "\"Date\" must read yyyy-mm-dd";
            return false;
        }
    }
    const Json::Value &audio = entry["Audio"];
    if (!audio.isNull()) {
        std::string strCodec = "G711A";
        if (!audio.isObject() || !ReadText(audio, "Codec", strCodec, strError) ||
            !ReadInt(audio, "SampleRate", dev.nAudioRate, strError)) {
            if (strError.empty())
                strError = "\"Audio\" must be an object";
            return false;
        }
        if (strCodec == "G711A")
            dev.nAudioType = 0x0E;
        else if (strCodec == "G711U")
            dev.nAudioType = 0x0A;
        else if (strCodec == "None")
            dev.nAudioType = 0;
        else {
            strError = "\"Audio\".\"Codec\" must be \"G711A\", \"G711U\" or \"None\"";
            return false;
        }
        if (dev.nAudioRate != 8000 && dev.nAudioRate != 16000) {
            strError = "\"Audio\".\"SampleRate\" must be 8000 or 16000";
            return false;
        }
    }
    const Json::Value &queries = entry["Query"];
    if (!queries.isNull()) {
        if (!queries.isArray()) {
            strError = "\"Query\" must be an array";
            return false;
        }
        for (const Json::Value &q : queries) {
            const Json::Value &in = q["Input"];
            if (!q.isObject() || !in.isArray() || in.size() != 3 || !in[0].isInt() || !in[1].isInt() ||
                !in[2].isInt() || !q["Value"].isInt()) {
                strError = "a \"Query\" element must be {\"Input\": [a, b, c], \"Value\": v}";
                return false;
            }
            dev.queries[std::make_tuple(in[0].asInt(), in[1].asInt(), in[2].asInt())] = q["Value"].asInt();
        }
    }
    return true;
}

} // namespace

KorvexDevice DeviceCatalog::BuiltIn()
{
    KorvexDevice dev;
    dev.strSerial = "KVX8A61C0F3D2E47";
    dev.strToken = "kvx-token-5f0c2a9e7d3b41c8a6e2f9d0b7c4a1e3";
    dev.strDeviceText1 = "V4.02.R11.KVX16.10010.0000000";
    dev.strDeviceText2 = "KVX-NVR16";
    dev.main = StreamProfile{3, 1280, 720, 25};
    dev.sub = StreamProfile{2, 640, 360, 15};
    dev.settings = DeviceSettings::BuiltIn();
    return dev;
}

bool DeviceCatalog::Parse(const std::string &strJson, std::vector<KorvexDevice> &devices, std::string &strError)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string strErrs;
    if (!reader->parse(strJson.data(), strJson.data() + strJson.size(), &root, &strErrs)) {
        strError = "device file does not parse: " + strErrs;
        return false;
    }
    const Json::Value &list = root.isObject() ? root["Devices"] : root;
    if (!list.isArray() || list.empty()) {
        strError = "the device file holds no device";
        return false;
    }
    std::vector<KorvexDevice> parsed;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        KorvexDevice dev = BuiltIn();
        if (!ParseEntry(list[i], dev, strError)) {
            strError = "device " + std::to_string(i) + ": " + strError;
            return false;
        }
        parsed.push_back(std::move(dev));
    }
    devices = std::move(parsed);
    return true;
}

std::vector<KorvexDevice> DeviceCatalog::Load(std::string &strError)
{
    const char *pPath = std::getenv("KORVEX_DEVICES");
    if (!pPath || !*pPath)
        return {BuiltIn()};
    std::ifstream in(pPath, std::ios::binary);
    if (!in) {
        strError = std::string("cannot read ") + pPath;
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<KorvexDevice> devices;
    if (!Parse(text.str(), devices, strError))
        return {};
    return devices;
}
