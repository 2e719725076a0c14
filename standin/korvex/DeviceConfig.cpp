#include "standin/korvex/DeviceConfig.h"

#include "platform/korvex.h"
#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/KorvexSim.h"
#include "standin/korvex/ReceivedReport.h"
#include "standin/korvex/StrictJson.h"

#include <algorithm>
#include <cstring>

namespace {

const char kEncodeName[] = "AVEnc.A3Encode";
const char kSystemFunctionName[] = "bypass@SystemFunction";
const char kSensorGetName[] = "OPSensorGet";
const char kScaleSwitchName[] = "OPScaleTimesSwitch";
const char kFileName[] = "OPFile";
const char kScaleTwoLensPath[] = "SystemFunction/OtherFunction/SupportScaleTwoLens";

// The answer code of a device that did what was asked.
constexpr int kDeviceOk = 100;

int32_t Failed(int32_t nError)
{
    KorvexSim::SetLastError(nError);
    return nError;
}

std::string CodecText(uint8_t nCodec) { return nCodec == 2 ? "H.264" : "H.265"; }

// The one-element array [{...}] of a two-lens command, or null when the input is not of that shape.
const Json::Value *SingleElement(const Json::Value &root)
{
    if (!root.isArray() || root.size() != 1 || !root[0].isObject())
        return nullptr;
    return &root[0];
}

bool StreamTypeOf(const Json::Value &element, int &nStream)
{
    const Json::Value &v = element["StreamType"];
    if (!StrictJson::IsWhole(v) || (v.asInt64() != 0 && v.asInt64() != 1))
        return false;
    nStream = v.asInt();
    return true;
}

// Channel -1 asks the device itself, which is its first channel.
bool ChannelOf(const KorvexDevice &device, int32_t nChannel, int &nOut)
{
    if (nChannel == -1)
        nChannel = 0;
    if (nChannel < 0 || nChannel >= device.ChannelCount())
        return false;
    nOut = nChannel;
    return true;
}

// The lens a two-lens command names, and its setting.
struct LensRequest
{
    Json::Value element;        // the command's one element
    int nIndex = 0;             // the channel
    int nStream = 0;
    const TwoLensSetting *pSetting = nullptr;
};

// Reads a two-lens command: the one-element array [{...}] of its text, whose element has the keys and a stream
// type (and passes pValid, where given), for a channel of the device whose lens is supported. 1, else the
// failure.
int32_t ReadLensRequest(const KorvexDevice &device, const char *pIn, uint32_t nInLength, int32_t nChannel,
                        std::initializer_list<const char *> keys, bool (*pValid)(const Json::Value &),
                        LensRequest &out)
{
    Json::Value root;
    std::string strError;
    if (!StrictJson::Parse(pIn, nInLength, root, strError))
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    const Json::Value *pElement = SingleElement(root);
    if (!pElement || !StrictJson::HasKeys(*pElement, keys) || !StreamTypeOf(*pElement, out.nStream) ||
        (pValid && !pValid(*pElement)))
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    if (!ChannelOf(device, nChannel, out.nIndex))
        return Failed(ZDK_ERR_NO_CHANNEL);
    out.pSetting = device.settings.TwoLens(out.nIndex, out.nStream);
    if (!out.pSetting || !out.pSetting->bSupported)
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    out.element = *pElement;
    return 1;
}

} // namespace

DeviceConfig &DeviceConfig::Instance()
{
    static DeviceConfig config;
    return config;
}

DeviceConfig::DeviceState &DeviceConfig::StateOf(const std::shared_ptr<const KorvexDevice> &device)
{
    auto it = m_states.find(device.get());
    if (it != m_states.end())
        return it->second;
    DeviceState &state = m_states[device.get()];
    state.device = device;
    for (const TwoLensSetting &s : device->settings.twoLens)
        state.times[std::make_pair(s.nChannel, s.nStream)] = s.dTimes;
    return state;
}

int32_t DeviceConfig::Answer(const std::string &strName, const Json::Value &answer, char *pOut, uint32_t nSize,
                             uint32_t *pReturned)
{
    std::string strText;
    std::string strTail;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_replyNext.find(strName);
        if (it != m_replyNext.end() && !it->second.empty()) {
            strText = it->second.front();
            it->second.pop_front();
        } else {
            strText = StrictJson::Write(answer);
        }
        strTail = m_strTail;
    }
    if (!pOut)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    if (strText.size() > nSize)
        return Failed(ZDK_ERR_BUFFER_TOO_SMALL);
    // The answer carries no terminating zero: its length is the out length.
    std::memcpy(pOut, strText.data(), strText.size());
    const size_t nTail = std::min(strTail.size(), static_cast<size_t>(nSize) - strText.size());
    std::memcpy(pOut + strText.size(), strTail.data(), nTail);
    if (pReturned)
        *pReturned = static_cast<uint32_t>(strText.size());
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// Records.

int32_t DeviceConfig::GetConfig(int32_t lLogin, int32_t nCommand, int32_t nChannel, char *pOut, uint32_t nSize,
                                uint32_t *pReturned)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return KorvexSim::LastError();
    if (!pOut)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    // Both records are device-wide (channel -1) and are answered whole.
    auto answer = [&](const void *pRecord, uint32_t nRecordSize) -> int32_t {
        std::memcpy(pOut, pRecord, nRecordSize);
        if (pReturned)
            *pReturned = nRecordSize;
        return 1;
    };
    const uint32_t nNeeded = nCommand == ZDK_CFG_TALK           ? sizeof(ZDK_TalkConfig)
                             : nCommand == ZDK_CFG_UPGRADE_INFO ? sizeof(ZDK_UpgradeInfo)
                                                                : 0;
    if (nNeeded == 0)
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    if (nChannel != -1)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    if (nSize < nNeeded)
        return Failed(ZDK_ERR_BUFFER_TOO_SMALL);
    if (nCommand == ZDK_CFG_TALK) {
        ZDK_TalkConfig talk;
        std::memset(&talk, 0, sizeof talk);
        talk.bCannotTalk = device->settings.bDeviceTalk ? 0 : 1;
        return answer(&talk, sizeof talk);
    }
    ZDK_UpgradeInfo info;
    std::memset(&info, 0, sizeof info);
    const std::vector<FirmwareVersion> &versions = device->settings.newVersions;
    const size_t nCount = std::min(versions.size(), sizeof info.versions / sizeof info.versions[0]);
    info.nCount = static_cast<int32_t>(nCount);
    for (size_t i = 0; i < nCount; ++i) {
        // The catalog keeps names and dates within their fields, their zeros included.
        std::memcpy(info.versions[i].sName, versions[i].strName.data(), versions[i].strName.size());
        std::memcpy(info.versions[i].sDate, versions[i].strDate.data(), versions[i].strDate.size());
        const std::string strNote = "size " + std::to_string(versions[i].nSize);
        std::memcpy(info.versions[i].sNote, strNote.data(), strNote.size());
    }
    return answer(&info, sizeof info);
}

int32_t DeviceConfig::SetConfig(int32_t lLogin, int32_t nCommand, int32_t nChannel, const char *pIn,
                                uint32_t nLength)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return KorvexSim::LastError();
    if (nCommand != ZDK_CFG_IMPORT)
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    Json::Value root;
    std::string strError;
    if (nChannel != -1 || !StrictJson::Parse(pIn, nLength, root, strError) || !root.isObject())
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    std::lock_guard<std::mutex> lock(m_mutex);
    StateOf(device).strImported.assign(pIn, nLength);
    ReceivedReport::Config(lLogin, StateOf(device).strImported);
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// JSON reads and commands.

int32_t DeviceConfig::GetConfigJson(int32_t lLogin, const char *pName, int32_t nCommand, int32_t nChannel,
                                    char *pOut, uint32_t nSize, uint32_t *pReturned)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return KorvexSim::LastError();
    if (!pName)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    const std::string strName = pName;
    Json::Value answer(Json::objectValue);
    if (strName == kEncodeName) {
        if (nCommand != ZDK_CMD_ENCODE || nChannel != -1)
            return Failed(ZDK_ERR_ILLEGAL_PARAM);
        Json::Value list(Json::arrayValue);
        const std::vector<EncodeFormat> &formats = device->settings.encodeFormats;
        for (int i = 0; i < device->ChannelCount(); ++i) {
            const EncodeFormat format = i < static_cast<int>(formats.size()) ? formats[i] : EncodeFormat();
            Json::Value entry(Json::objectValue);
            entry["MainFormat"] = format.strMain.empty() ? CodecText(device->main.nCodec) : format.strMain;
            entry["ExtraFormat"] = format.strExtra.empty() ? CodecText(device->sub.nCodec) : format.strExtra;
            list.append(entry);
        }
        answer["Name"] = kEncodeName;
        answer[kEncodeName] = list;
    } else if (strName == kSystemFunctionName) {
        if (nCommand != ZDK_CMD_SYSTEM_FUNCTION)
            return Failed(ZDK_ERR_ILLEGAL_PARAM);
        if (nChannel < 0 || nChannel >= device->ChannelCount())
            return Failed(ZDK_ERR_NO_CHANNEL);
        answer["Name"] = "SystemFunction";
        answer["SystemFunction"]["OtherFunction"]["SupportScaleTwoLens"] =
            device->settings.TwoLensSupported(nChannel);
    } else {
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    }
    answer["Ret"] = kDeviceOk;
    return Answer(strName, answer, pOut, nSize, pReturned);
}

int32_t DeviceConfig::SensorGet(const std::shared_ptr<const KorvexDevice> &device, const char *pIn,
                                uint32_t nInLength, int32_t nChannel, Json::Value &answer)
{
    LensRequest lens;
    const int32_t nRead = ReadLensRequest(*device, pIn, nInLength, nChannel, {"StreamType"}, nullptr, lens);
    if (nRead != 1)
        return nRead;
    double dTimes = 0.0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dTimes = StateOf(device).times[std::make_pair(lens.nIndex, lens.nStream)];
    }
    Json::Value entry(Json::objectValue);
    entry["StreamType"] = lens.nStream;
    entry["Times"] = dTimes;
    entry["TimesOri"] = dTimes;
    if (lens.pSetting->bHasMaxTimes)
        entry["MaxTimes"] = lens.pSetting->dMaxTimes;
    // The device itself answers under the command's own name, a channel's camera under a name of its own.
    const std::string strMember = nChannel == -1 ? kSensorGetName : std::string("bypass@") + kSensorGetName;
    answer["Name"] = strMember;
    answer[strMember].append(entry);
    return 1;
}

int32_t DeviceConfig::ScaleTimesSwitch(const std::shared_ptr<const KorvexDevice> &device, const char *pIn,
                                       uint32_t nInLength, int32_t nChannel)
{
    LensRequest lens;
    const int32_t nRead = ReadLensRequest(
        *device, pIn, nInLength, nChannel, {"StreamType", "TimesOri", "Times"},
        [](const Json::Value &element) { return element["TimesOri"].isNumeric() && element["Times"].isNumeric(); },
        lens);
    if (nRead != 1)
        return nRead;
    const double dTimes = lens.element["Times"].asDouble();
    if (dTimes < 0.0 || dTimes > lens.pSetting->dMaxTimes)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    std::lock_guard<std::mutex> lock(m_mutex);
    StateOf(device).times[std::make_pair(lens.nIndex, lens.nStream)] = dTimes;
    return 1;
}

int32_t DeviceConfig::Command(int32_t lLogin, int32_t nCommand, const char *pName, const char *pIn,
                              uint32_t nInLength, char *pOut, uint32_t nSize, uint32_t *pReturned, int32_t nChannel)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return KorvexSim::LastError();
    if (!pName)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    const std::string strName = pName;
    Json::Value answer(Json::objectValue);
    int32_t nResult = 0;
    if (strName == kSensorGetName) {
        if (nCommand != ZDK_CMD_SENSOR_GET)
            return Failed(ZDK_ERR_ILLEGAL_PARAM);
        nResult = SensorGet(device, pIn, nInLength, nChannel, answer);
    } else if (strName == kScaleSwitchName) {
        if (nCommand != ZDK_CMD_SCALE_TIMES_SWITCH)
            return Failed(ZDK_ERR_ILLEGAL_PARAM);
        nResult = ScaleTimesSwitch(device, pIn, nInLength, nChannel);
        answer["Name"] = kScaleSwitchName;
    } else if (strName == kFileName) {
        if (nCommand != ZDK_CMD_FILE || nChannel != -1)
            return Failed(ZDK_ERR_ILLEGAL_PARAM);
        nResult = FileTransfer::Instance().Announce(lLogin, *device, pIn, nInLength);
        answer["Name"] = kFileName;
    } else {
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    }
    if (nResult != 1)
        return nResult;
    answer["Ret"] = kDeviceOk;
    if (!pOut)
        return 1;
    return Answer(strName, answer, pOut, nSize, pReturned);
}

// ----------------------------------------------------------------------------------------------------------
// Abilities.

int32_t DeviceConfig::ChannelAbility(int32_t lLogin, const char *pName, int32_t nChannel, char *pOut,
                                     uint32_t nSize, uint32_t *pReturned)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return KorvexSim::LastError();
    if (!pName)
        return Failed(ZDK_ERR_ILLEGAL_PARAM);
    if (nChannel < -1 || nChannel >= device->ChannelCount())
        return Failed(ZDK_ERR_NO_CHANNEL);
    auto it = device->settings.channelAbilities.find(pName);
    if (it == device->settings.channelAbilities.end())
        return Failed(ZDK_ERR_NOT_SUPPORTED);
    // The device answers for all its channels.
    Json::Value flags(Json::arrayValue);
    for (int i = 0; i < device->ChannelCount(); ++i)
        flags.append(i < static_cast<int>(it->second.size()) && it->second[i]);
    Json::Value answer(Json::objectValue);
    answer["Name"] = pName;
    answer[pName] = flags;
    answer["Ret"] = kDeviceOk;
    return Answer(pName, answer, pOut, nSize, pReturned);
}

int32_t DeviceConfig::Ability(int32_t lLogin, const char *pPath)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return 0;
    if (!pPath) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    bool bAbility = false;
    auto it = device->settings.abilities.find(pPath);
    if (it != device->settings.abilities.end())
        bAbility = it->second;
    else if (std::strcmp(pPath, kScaleTwoLensPath) == 0)
        bAbility = device->settings.TwoLensSupported(0);
    if (!bAbility) {
        KorvexSim::SetLastError(ZDK_ERR_NOT_SUPPORTED);
        return 0;
    }
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// Control.

void DeviceConfig::ReplyNext(const std::string &strName, const std::string &strReply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replyNext[strName].push_back(strReply);
}

void DeviceConfig::SetReplyTail(const std::string &strTail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strTail = strTail;
}

std::string DeviceConfig::ImportedConfig(int32_t lLogin)
{
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return std::string();
    std::lock_guard<std::mutex> lock(m_mutex);
    return StateOf(device).strImported;
}

void DeviceConfig::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_states.clear();
    m_replyNext.clear();
    m_strTail.clear();
}
