#include "device/CTalk.h"

#include "device/media/G711Alaw.h"
#include "device/media/TalkFrameHeader.h"
#include "platform/FilePtr.h"
#include "platform/korvex.h"
#include "platform/pavline.h"
#include "runtime/CDataCenter.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"

#include <QDir>
#include <QFileInfo>

#include <json/value.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<const void *> g_pVoicePortOwner{nullptr};

const char kTalkAbility[] = "ChannelSystemFunction@SupportIPCTalk";
constexpr uint32_t kTalkPlayBuffer = 2560000;
constexpr int kCaptureBits = 16;
constexpr int kCaptureBlock = 640;
constexpr int32_t kTalkConfigWaitMs = 15000;
constexpr uint32_t kAbilityBufferSize = 307200;
constexpr int32_t kAbilityWaitMs = 20000;
constexpr int kMaxChannel = 119;
constexpr int kHeaderSize = static_cast<int>(sizeof(TalkFrameHeader));
// A capture frame carries at most what fits behind the header in the frame buffer.
constexpr int kMaxCapturePayload = CTalk::kFrameBufferSize - kHeaderSize;
// The file task's frames: a fixed header (A-law, 8000 Hz) and 160 bytes of the file.
constexpr size_t kFilePayload = 160;
const unsigned char kFileFrameHeader[8] = {0x00, 0x00, 0x01, 0xFA, 0x0E, 0x02, 0xA0, 0x00};
// How long one such frame plays: the file is never sent faster than the device plays it.
constexpr int kFileFrameMs = static_cast<int>(kFilePayload * 1000 / 8000);

bool NonZero(const Json::Value &v)
{
    if (v.isBool())
        return v.asBool();
    if (v.isNumeric())
        return v.asDouble() != 0.0;
    return false;
}

// Whether the ability answer lets the channel (-1: any channel) talk. An answer of another shape does not.
bool ChannelSupportsTalk(const std::string &strAnswer, int nChannel)
{
    Json::Value root;
    if (!JsonText::Parse(strAnswer, root) || !root.isObject())
        return false;
    const Json::Value &name = root["Name"];
    if (!name.isString())
        return false;
    const Json::Value &flags = root[name.asString()];
    if (!flags.isArray())
        return false;
    if (nChannel >= 0)
        return static_cast<Json::ArrayIndex>(nChannel) < flags.size() &&
               NonZero(flags[static_cast<Json::ArrayIndex>(nChannel)]);
    for (const Json::Value &flag : flags)
        if (NonZero(flag))
            return true;
    return false;
}

} // namespace

bool CTalk::ClaimVoicePort(const void *pUser)
{
    const void *pOwner = nullptr;
    return g_pVoicePortOwner.compare_exchange_strong(pOwner, pUser) || pOwner == pUser;
}

void CTalk::ReleaseVoicePort(const void *pUser)
{
    const void *pOwner = pUser;
    g_pVoicePortOwner.compare_exchange_strong(pOwner, nullptr);
}

const void *CTalk::VoicePortOwner() { return g_pVoicePortOwner.load(); }

CTalk::CTalk() = default;

CTalk::~CTalk()
{
    // A talk deleted while it runs would leave the libraries calling into freed memory.
    if (m_bPortClaimed || m_fileTask.valid())
        StopTalk();
}

void CTalk::SetDeviceInfo(const DevLoginInfo &info) { std::memcpy(&m_stDevInfo, &info, sizeof m_stDevInfo); }

void CTalk::SetSampleRate(int nSampleRate) { m_nSampleRate = nSampleRate; }

void CTalk::SetSampleRate16K(bool bFlag)
{
    if (bFlag)
        m_nSampleRate = 16000;
}

void CTalk::SetFileMode(bool bFileMode) { m_bFileMode = bFileMode; }

void CTalk::SetSendInterval(int nMilliseconds) { m_nSendInterval = std::max(nMilliseconds, kFileFrameMs); }

bool CTalk::TalkDevice()
{
    const QString strTag = "CTalk::TalkDevice";
    ZDK_TalkConfig config;
    std::memset(&config, 0, sizeof config);
    uint32_t nReturned = 0;
    const int32_t nRet = ZDK_DEV_GetDevConfig(m_stDevInfo.LoginHandle, ZDK_CFG_TALK, -1, reinterpret_cast<char *>(&config),
                                              sizeof config, &nReturned, kTalkConfigWaitMs);
    if (nRet < 0) {
        LOGE(QString("ZDK_DEV_GetDevConfig=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return false;
    }
    if (config.bCannotTalk != 0) {
        LOGE("could not talk", strTag);
        return false;
    }
    return StartTalkDevice();
}

bool CTalk::TalkChannel(int nChannel)
{
    const QString strTag = "CTalk::TalkChannel";
    if (nChannel < -1 || nChannel > kMaxChannel) {
        LOGE(QString("channel %1 out of range").arg(nChannel), strTag);
        return false;
    }
    std::vector<char> buffer(kAbilityBufferSize, 0);
    uint32_t nReturned = 0;
    const int32_t nRet = ZDK_DEV_GetChannelAbility_Json(m_stDevInfo.LoginHandle, kTalkAbility, -1, buffer.data(),
                                                        kAbilityBufferSize, &nReturned, kAbilityWaitMs);
    if (nRet != 1) {
        LOGE(QString("ZDK_DEV_GetChannelAbility_Json=%1 error=%2").arg(nRet).arg(ZDK_DEV_GetLastError()), strTag);
        return false;
    }
    // The answer is as long as the library says, and ends at a zero byte at the latest.
    const size_t nLength = strnlen(buffer.data(), std::min<size_t>(nReturned, kAbilityBufferSize));
    if (!ChannelSupportsTalk(std::string(buffer.data(), nLength), nChannel)) {
        LOGW(QString("channel %1 does not support talk").arg(nChannel), strTag);
        return false;
    }
    if (!StartTalkChannel(nChannel))
        return false;
    m_bStarted = true;
    return true;
}

int CTalk::StartTalkPlay()
{
    const QString strTag = "CTalk::StartTalkPlay";
    if (!ClaimVoicePort(this)) {
        LOGE("port 499 and the microphone are in use", strTag);
        return 0;
    }
    m_bPortClaimed = true;
    if (!KTN_VIEW_OpenStream(kTalkPort, nullptr, 0, kTalkPlayBuffer)) {
        LOGE(QString("KTN_VIEW_OpenStream failed m_lError = %1").arg(KTN_VIEW_GetLastError()), strTag);
        AbandonStart();
        return 0;
    }
    if (!KTN_VIEW_Play(kTalkPort, nullptr)) {
        LOGE(QString("KTN_VIEW_Play failed m_lError = %1").arg(KTN_VIEW_GetLastError()), strTag);
        KTN_VIEW_CloseStream(kTalkPort);
        AbandonStart();
        return 0;
    }
    const int nRet = KTN_VIEW_PlaySoundShare(kTalkPort);
    if (!nRet) {
        LOGE(QString("KTN_VIEW_PlaySoundShare failed m_lError = %1").arg(KTN_VIEW_GetLastError()), strTag);
        KTN_VIEW_Stop(kTalkPort);
        KTN_VIEW_CloseStream(kTalkPort);
        AbandonStart();
        return 0;
    }
    m_bPlayOpen = true;
    return nRet;
}

bool CTalk::StartTalkDevice()
{
    const QString strTag = "CTalk::StartTalkDevice";
    const int32_t lLogin = m_stDevInfo.LoginHandle;
    if (lLogin <= 0 || m_bPortClaimed || !StartTalkPlay())
        return false;
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_MR(lLogin, &CTalk::OnTalkData, this);
    if (lTalk <= 0) {
        const int32_t nError = ZDK_DEV_GetLastError();
        AbandonStart();
        LOGE(QString("ZDK_DEV_StartVoiceCom_MR failed m_lError = %1").arg(nError), strTag);
        return false;
    }
    return StartSending(lTalk, m_bFileMode, "KTN_VIEW_StartAudioCapture failed m_lError = %1", strTag);
}

bool CTalk::StartTalkChannel(int nChannel)
{
    const QString strTag = "CTalk::StartTalkChannel";
    const int32_t lLogin = m_stDevInfo.LoginHandle;
    if (nChannel < -1 || lLogin <= 0 || m_bPortClaimed || !StartTalkPlay())
        return false;
    const int32_t lTalk = ZDK_DEV_StartVoiceCom_NVR_IPC(lLogin, nChannel, &CTalk::OnTalkData, this);
    if (lTalk <= 0) {
        const int32_t nError = ZDK_DEV_GetLastError();
        AbandonStart();
        LOGE(QString("ZDK_DEV_StartVoiceCom_NVR_IPC error=%1").arg(nError), strTag);
        return false;
    }
    return StartSending(lTalk, false, "KTN_VIEW_StartAudioCapture %1", strTag);
}

bool CTalk::StartSending(int32_t lTalkHandle, bool bFileTask, const QString &strCaptureLog, const QString &strTag)
{
    // Stored before the capture starts: its callback sends with it.
    const int32_t lPrevious = m_lTalkHandle.exchange(lTalkHandle);
    if (bFileTask) {
        {
            std::lock_guard<std::mutex> lock(m_stopMutex);
            m_bStop = false;
        }
        m_nErrorCode = kFileTaskStarted;
        m_fileTask = std::async(std::launch::async, &CTalk::FileTask, this, lTalkHandle);
    } else {
        if (!KTN_VIEW_StartAudioCapture(&CTalk::OnAudioCapture, kCaptureBits, m_nSampleRate, kCaptureBlock, this)) {
            LOGE(strCaptureLog.arg(KTN_VIEW_GetLastError()), strTag);
            ZDK_DEV_StopVoiceCom(lTalkHandle);
            m_lTalkHandle = lPrevious;
            AbandonStart();
            return false;
        }
        m_bCapturing = true;
    }
    m_bStarted = true;
    return true;
}

void CTalk::CloseTalkPlay()
{
    KTN_VIEW_Stop(kTalkPort);
    KTN_VIEW_StopSoundShare(kTalkPort);
    KTN_VIEW_CloseStream(kTalkPort);
}

void CTalk::AbandonStart()
{
    if (m_bPlayOpen) {
        CloseTalkPlay();
        m_bPlayOpen = false;
    }
    if (m_bPortClaimed) {
        ReleaseVoicePort(this);
        m_bPortClaimed = false;
    }
}

void CTalk::OnAudioCapture(const unsigned char *pPcm, int32_t nLength, void *pUser)
{
    if (pUser)
        static_cast<CTalk *>(pUser)->SendCaptured(pPcm, nLength);
}

void CTalk::SendCaptured(const unsigned char *pPcm, int32_t nLength)
{
    if (!pPcm || nLength < 2)
        return;
    if (!m_pFrameBuffer)
        m_pFrameBuffer = std::make_unique<unsigned char[]>(kFrameBufferSize);
    unsigned char *pFrame = m_pFrameBuffer.get();
    const int32_t lTalk = m_lTalkHandle.load();
    // A block longer than one frame holds goes out as several frames.
    for (int32_t nAt = 0; nLength - nAt >= 2;) {
        const int32_t nPcm = std::min(nLength - nAt, kMaxCapturePayload * 2);
        std::memset(pFrame, 0, kFrameBufferSize);
        int nCount = 0;
        G711AlawEncode(pPcm + nAt, pFrame + kHeaderSize, nPcm, &nCount);
        const TalkFrameHeader header =
            TalkFrameHeader::Make(TalkFrameHeader::kAudioAlaw, m_nSampleRate, static_cast<uint16_t>(nCount));
        std::memcpy(pFrame, &header, sizeof header);
        ZDK_DEV_VoiceComSendData(lTalk, reinterpret_cast<const char *>(pFrame), nCount + kHeaderSize);
        nAt += nPcm;
    }
}

void CTalk::OnTalkData(int32_t, const char *pData, int32_t nLength, int32_t, void *pUser)
{
    if (!pUser || !pData || nLength <= 0)
        return;
    KTN_VIEW_InputData(kTalkPort, reinterpret_cast<const unsigned char *>(pData), static_cast<uint32_t>(nLength));
}

bool CTalk::WaitInterval()
{
    std::unique_lock<std::mutex> lock(m_stopMutex);
    return !m_stopCv.wait_for(lock, std::chrono::milliseconds(std::max(m_nSendInterval, 0)),
                              [this] { return m_bStop.load(); });
}

void CTalk::FileTask(int32_t lTalkHandle)
{
    const QString strTag = "CTalk::FileTask";
    const QString strPath = QDir(CDataCenter::GetInstance()->m_strAppDir).filePath("Sound/AlarmSound.wav");
    if (!QFileInfo::exists(strPath)) {
        LOGE(QString("Audio File Not Exists! Path: %1").arg(strPath), strTag);
        m_nErrorCode = kFileMissing;
        return;
    }
    FilePtr pFile(std::fopen(strPath.toLocal8Bit().constData(), "rb"));
    if (!pFile) {
        LOGE(QString("Open file failed! Path: %1").arg(strPath), strTag);
        m_nErrorCode = kOpenFileFailed;
        return;
    }
    unsigned char frame[sizeof kFileFrameHeader + kFilePayload] = {};
    std::memcpy(frame, kFileFrameHeader, sizeof kFileFrameHeader);
    bool bLastUnslept = false;
    while (!m_bStop.load()) {
        const size_t nRead = std::fread(frame + sizeof kFileFrameHeader, 1, kFilePayload, pFile.get());
        bool bSleep = true;
        if (nRead < kFilePayload) {
            if (nRead == 0 && !std::feof(pFile.get())) {
                LOGE("Read Audio File Error! Path: ", strTag);
                m_nErrorCode = kReadFileFailed;
                return;
            }
            // The end: the file starts again, and the frame goes out whole, the rest of the previous chunk
            // behind the bytes read. It is sent at once, unless the frame before went out at once too (a file
            // shorter than a frame would otherwise be sent without a pause).
            std::rewind(pFile.get());
            bSleep = bLastUnslept;
        }
        if (!ZDK_DEV_VoiceComSendData(lTalkHandle, reinterpret_cast<const char *>(frame), sizeof frame)) {
            LOGE(QString("AT_SendTalkData failed m_lError = %1").arg(ZDK_DEV_GetLastError()), strTag);
            CloseTalkPlay();
            m_nErrorCode = kSendFailed;
            return;
        }
        bLastUnslept = !bSleep;
        if (bSleep && !WaitInterval())
            break;
    }
}

int CTalk::StopTalk()
{
    if (m_stDevInfo.LoginHandle <= 0)
        return 0;
    if (m_fileTask.valid()) {
        {
            std::lock_guard<std::mutex> lock(m_stopMutex);
            m_bStop = true;
        }
        m_stopCv.notify_all();
        m_fileTask.get();
    }
    m_bFileMode = false;
    if (m_bCapturing) {
        KTN_VIEW_StopAudioCapture();
        m_bCapturing = false;
    }
    const int32_t lTalk = m_lTalkHandle.exchange(0);
    if (lTalk > 0)
        ZDK_DEV_StopVoiceCom(lTalk);
    AbandonStart();
    m_bStarted = false;
    return 1;
}
