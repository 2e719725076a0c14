#pragma once

#include "standin/korvex/DeviceCatalog.h"

#include <json/value.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// The device side of the configuration commands, the JSON commands by name, the abilities, the encoder formats
// and the two-lens zoom (whose state each device keeps per channel and stream while the library runs).
// Results follow korvex.h: 1 on success, else the error (also set as the last error); Ability gives a bool.
// The JSON that the system sends is read strictly (StrictJson), and its shape is checked exactly.
class DeviceConfig
{
public:
    static DeviceConfig &Instance();

    // ZDK_CFG_TALK and ZDK_CFG_UPGRADE_INFO records.
    int32_t GetConfig(int32_t lLogin, int32_t nCommand, int32_t nChannel, char *pOut, uint32_t nSize,
                      uint32_t *pReturned);
    // ZDK_CFG_IMPORT: a configuration file, one JSON object.
    int32_t SetConfig(int32_t lLogin, int32_t nCommand, int32_t nChannel, const char *pIn, uint32_t nLength);
    // "AVEnc.A3Encode" and "bypass@SystemFunction".
    int32_t GetConfigJson(int32_t lLogin, const char *pName, int32_t nCommand, int32_t nChannel, char *pOut,
                          uint32_t nSize, uint32_t *pReturned);
    // "OPSensorGet", "OPScaleTimesSwitch" and "OPFile"; pOut null for the command without an answer.
    int32_t Command(int32_t lLogin, int32_t nCommand, const char *pName, const char *pIn, uint32_t nInLength,
                    char *pOut, uint32_t nSize, uint32_t *pReturned, int32_t nChannel);
    // Per-channel abilities by name ("ChannelSystemFunction@SupportIPCTalk", ...).
    int32_t ChannelAbility(int32_t lLogin, const char *pName, int32_t nChannel, char *pOut, uint32_t nSize,
                           uint32_t *pReturned);
    // One ability by its slash path.
    int32_t Ability(int32_t lLogin, const char *pPath);

    // Control: the next answer of that command or ability name is this text instead; bytes written after every
    // JSON answer inside the out buffer (not counted in the out length); the last configuration file imported
    // into the login's device.
    void ReplyNext(const std::string &strName, const std::string &strReply);
    void SetReplyTail(const std::string &strTail);
    std::string ImportedConfig(int32_t lLogin);
    void Reset();

private:
    struct DeviceState
    {
        std::shared_ptr<const KorvexDevice> device;    // keeps the key alive
        std::map<std::pair<int, int>, double> times;   // two-lens zoom per channel and stream
        std::string strImported;
    };

    DeviceConfig() = default;
    // m_mutex held.
    DeviceState &StateOf(const std::shared_ptr<const KorvexDevice> &device);
    int32_t Answer(const std::string &strName, const Json::Value &answer, char *pOut, uint32_t nSize,
                   uint32_t *pReturned);
    int32_t SensorGet(const std::shared_ptr<const KorvexDevice> &device, const char *pIn, uint32_t nInLength,
                      int32_t nChannel, Json::Value &answer);
    int32_t ScaleTimesSwitch(const std::shared_ptr<const KorvexDevice> &device, const char *pIn,
                             uint32_t nInLength, int32_t nChannel);

    std::mutex m_mutex;
    std::map<const KorvexDevice *, DeviceState> m_states;
    std::map<std::string, std::deque<std::string>> m_replyNext;
    std::string m_strTail;
};
