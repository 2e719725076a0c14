#include "standin/korvex/ReceivedReport.h"

#include "standin/korvex/StrictJson.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace ReceivedReport {

namespace {

// Opened for each line, so that a test process can name the file before any line and change it between tests.
void WriteLine(const Json::Value &line)
{
    static std::mutex mutex;
    const std::string strLine = StrictJson::Write(line) + "\n";
    std::lock_guard<std::mutex> lock(mutex);
    const char *pPath = std::getenv("KORVEX_RECEIVED");
    if (!pPath || !*pPath)
        return;
    std::FILE *pFile = std::fopen(pPath, "ab");
    if (!pFile)
        return;
    std::fwrite(strLine.data(), 1, strLine.size(), pFile);
    std::fclose(pFile);
}

Json::Value Int(int64_t n) { return Json::Value(static_cast<Json::Int64>(n)); }

} // namespace

std::string ToHex(const std::string &strData)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string strHex;
    strHex.reserve(strData.size() * 2);
    for (unsigned char c : strData) {
        strHex += kDigits[c >> 4];
        strHex += kDigits[c & 0x0F];
    }
    return strHex;
}

bool FromHex(const std::string &strHex, std::string &strData)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    if (strHex.size() % 2 != 0)
        return false;
    strData.clear();
    strData.reserve(strHex.size() / 2);
    for (size_t i = 0; i < strHex.size(); i += 2) {
        const int nHigh = digit(strHex[i]);
        const int nLow = digit(strHex[i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        strData += static_cast<char>(nHigh << 4 | nLow);
    }
    return true;
}

void Talk(const KorvexTalkFrame &frame)
{
    Json::Value talk;
    talk["Handle"] = frame.nHandle;
    talk["Login"] = frame.nLogin;
    talk["ChannelForm"] = frame.bChannelForm;
    talk["Channel"] = frame.nChannel;
    talk["Accepted"] = frame.bAccepted;
    talk["AtUs"] = Int(std::chrono::duration_cast<std::chrono::microseconds>(frame.at.time_since_epoch()).count());
    talk["Data"] = ToHex(frame.strData);
    Json::Value line;
    line["Talk"] = talk;
    WriteLine(line);
}

void File(const KorvexReceivedFile &file)
{
    Json::Value received;
    received["Handle"] = file.nHandle;
    received["Login"] = file.nLogin;
    received["Header"] = file.strHeader;
    received["Data"] = ToHex(file.strData);
    received["Kind"] = file.nKind;
    received["Value1"] = file.nValue1;
    received["Value2"] = file.nValue2;
    Json::Value line;
    line["File"] = received;
    WriteLine(line);
}

void Config(int32_t lLogin, const std::string &strData)
{
    Json::Value config;
    config["Login"] = lLogin;
    config["Data"] = ToHex(strData);
    Json::Value line;
    line["Config"] = config;
    WriteLine(line);
}

} // namespace ReceivedReport
