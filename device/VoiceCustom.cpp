#include "device/VoiceCustom.h"

#include "device/CTalk.h"
#include "device/media/G711Alaw.h"
#include "platform/FilePtr.h"
#include "platform/pavline.h"
#include "runtime/CDataCenter.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QDir>

#include <json/value.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Bytes per test frame and the time between two of them, for the whole process.
std::atomic<int> g_nFrameSize{160};
std::atomic<int> g_nSendInterval{20};

constexpr int kCaptureBits = 16;
constexpr int kCaptureBlock = 320;
constexpr int kEncodeBufferSize = 2048;
constexpr uint32_t kTestPlayBuffer = 5120000;
constexpr int kVoicePort = CTalk::kTalkPort;
constexpr int kHeaderSize = 8;

std::FILE *OpenFile(const QString &strPath, const char *pMode)
{
    return std::fopen(QDir::toNativeSeparators(strPath).toLocal8Bit().constData(), pMode);
}

} // namespace

VoiceCustom *VoiceCustom::GetInstance()
{
    // Lives until the process ends: the capture callback and a test thread may still reach it then.
    static VoiceCustom *s_pInstance = new VoiceCustom();
    return s_pInstance;
}

VoiceCustom::VoiceCustom(QObject *parent)
    : QObject(parent)
{
    MainThreadObject::RegisterMetaTypes();
    if (QCoreApplication *pApp = QCoreApplication::instance())
        moveToThread(pApp->thread());
    connect(this, &VoiceCustom::returnToMainThread, this, &VoiceCustom::onReturnToMainThread);
}

void VoiceCustom::onReturnToMainThread(std::function<void(void)> fn) { fn(); }

QString VoiceCustom::FilePath() const
{
    return QDir(CDataCenter::GetInstance()->m_strAppDir).filePath("customAlarmVoice.pcm");
}

void VoiceCustom::SetSampleRate(int nSampleRate)
{
    m_nSampleRate = nSampleRate;
    g_nFrameSize = nSampleRate == 16000 ? 320 : 160;
}

void VoiceCustom::SetSampleRate16K(bool bFlag)
{
    if (!bFlag)
        return;
    m_nSampleRate = 16000;
    g_nFrameSize = 320;
}

void VoiceCustom::Emit(int nSubEvent, int nRet, int nPos, bool bPos)
{
    Json::Value event;
    event["MainEvent"] = 6;
    event["SubEvent"] = nSubEvent;
    event["Ret"] = nRet;
    if (bPos)
        event["Pos"] = nPos;
    emit VoiceRecordTime(QString::fromStdString(JsonText::Write(event)));
}

void VoiceCustom::ReleaseIfUnused()
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (!m_bCapturing && m_nState.load() == STATE_IDLE)
        CTalk::ReleaseVoicePort(this);
}

// ----------------------------------------------------------------------------------------------------------
// Recording.

int VoiceCustom::StartRecord()
{
    const QString strTag = "VoiceCustom::StartRecord";
    int32_t nState = STATE_IDLE;
    if (!m_nState.compare_exchange_strong(nState, STATE_RECORDING))
        return -3;
    if (!CTalk::ClaimVoicePort(this)) {
        m_nState = STATE_IDLE;
        LOGW("a talk holds the microphone", strTag);
        return kTalkBusy;
    }
    std::unique_lock<std::mutex> lock(m_captureMutex);
    // The capture of a recording that ended at its limit, when the posted stop has not come yet.
    if (m_bCapturing) {
        KTN_VIEW_StopAudioCapture();
        m_bCapturing = false;
    }
    FilePtr pTruncated(OpenFile(FilePath(), "wb"));
    pTruncated.reset();
    ++m_nRecording;
    m_bCapturing = true;
    if (!KTN_VIEW_StartAudioCapture(&VoiceCustom::OnAudioCapture, kCaptureBits, m_nSampleRate.load(), kCaptureBlock,
                                    this)) {
        LOGE(QString("KTN_VIEW_StartAudioCapture failed m_lError = %1").arg(KTN_VIEW_GetLastError()), strTag);
        m_bCapturing = false;
        m_nState = STATE_IDLE;
        lock.unlock();
        ReleaseIfUnused();
        return -2;
    }
    return 0;
}

void VoiceCustom::OnAudioCapture(const unsigned char *pPcm, int32_t nLength, void *pUser)
{
    if (pUser)
        static_cast<VoiceCustom *>(pUser)->RecordBlock(pPcm, nLength);
}

void VoiceCustom::RecordBlock(const unsigned char *pPcm, int32_t nLength)
{
    // Blocks that come after the recording ended (before its capture is stopped) are not the recording's.
    if (m_nState.load() != STATE_RECORDING || !pPcm || nLength < 2 || nLength / 2 > kEncodeBufferSize)
        return;
    unsigned char codes[kEncodeBufferSize];
    int nCount = 0;
    if (G711AlawEncode(pPcm, codes, nLength, &nCount) != 1)
        return;
    FilePtr pFile(OpenFile(FilePath(), "ab+"));
    if (!pFile)
        return;
    const int64_t n = nCount;
    const bool bWritten = std::fwrite(codes, 1, static_cast<size_t>(nCount), pFile.get()) == static_cast<size_t>(nCount) &&
                          std::fflush(pFile.get()) == 0;
    int nSubEvent = 0;
    int nRet = 100;
    int nPos = 0;
    bool bPos = false;
    bool bEnd = false;
    if (!bWritten) {
        nSubEvent = 1;
        nRet = 1016;
        bEnd = true;
    } else {
        std::fseek(pFile.get(), 0, SEEK_END);
        const int64_t nSize = std::ftell(pFile.get());
        nPos = static_cast<int>((100 - (nSize + n) * 100 / kMaxFileBytes) / 20);
        bPos = true;
        // The next block would take the file past its limit.
        if (nSize + n > kMaxFileBytes) {
            nSubEvent = 1;
            bEnd = true;
        }
    }
    if (bEnd) {
        int32_t nState = STATE_RECORDING;
        // A stop of the recording that came meanwhile sends the end itself.
        if (!m_nState.compare_exchange_strong(nState, STATE_IDLE))
            return;
        const uint64_t nRecording = m_nRecording.load();
        emit returnToMainThread([this, nRecording] { StopCaptureOf(nRecording); });
    }
    pFile.reset();
    Emit(nSubEvent, nRet, nPos, bPos);
}

void VoiceCustom::StopCaptureOf(uint64_t nRecording)
{
    {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        if (m_nRecording.load() != nRecording || !m_bCapturing)
            return;
        KTN_VIEW_StopAudioCapture();
        m_bCapturing = false;
    }
    ReleaseIfUnused();
}

int VoiceCustom::StopRecordVoice()
{
    if (m_nState.load() != STATE_RECORDING)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        if (m_bCapturing) {
            if (!KTN_VIEW_StopAudioCapture()) {
                LOGE(QString("Sound Play Error :%1").arg(KTN_VIEW_GetLastError()), "VoiceCustom::StopRecordVoice");
                return -1;
            }
            m_bCapturing = false;
        }
    }
    int32_t nState = STATE_RECORDING;
    const bool bEnded = m_nState.compare_exchange_strong(nState, STATE_IDLE);
    ReleaseIfUnused();
    // Unless the last block ended the recording itself, with its own event.
    if (bEnded)
        Emit(1, 100, 0, false);
    return 0;
}

// ----------------------------------------------------------------------------------------------------------
// Test playback.

int VoiceCustom::StartTest()
{
    const QString strTag = "VoiceCustom::StartTest";
    int32_t nState = STATE_IDLE;
    if (!m_nState.compare_exchange_strong(nState, STATE_TESTING))
        return -1;
    auto fail = [this](int nResult) {
        m_nState = STATE_IDLE;
        ReleaseIfUnused();
        return nResult;
    };
    if (!CTalk::ClaimVoicePort(this)) {
        LOGW("a talk holds port 499", strTag);
        return fail(kTalkBusy);
    }
    FilePtr pFile(OpenFile(FilePath(), "rb"));
    if (!pFile)
        return fail(-2);
    std::fseek(pFile.get(), 0, SEEK_END);
    const long nSize = std::ftell(pFile.get());
    std::rewind(pFile.get());
    if (nSize <= 0)
        return fail(-3);
    if (!KTN_VIEW_OpenStream(kVoicePort, nullptr, 0, kTestPlayBuffer))
        return fail(-4);
    if (!KTN_VIEW_SetStreamOpenMode(kVoicePort, STREAME_REALTIME) || !KTN_VIEW_Play(kVoicePort, nullptr)) {
        KTN_VIEW_CloseStream(kVoicePort);
        return fail(-4);
    }
    if (!KTN_VIEW_PlaySoundShare(kVoicePort)) {
        KTN_VIEW_Stop(kVoicePort);
        KTN_VIEW_CloseStream(kVoicePort);
        return fail(-4);
    }
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_nStop = 0;
    }
    ++m_nTestThreads;
    std::thread(&VoiceCustom::TestThread, this, pFile.release(), m_nSampleRate.load(), g_nFrameSize.load(),
                g_nSendInterval.load())
        .detach();
    return 0;
}

int VoiceCustom::StopTest()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_nStop = 1;
    }
    m_stopCv.notify_all();
    return 0;
}

void VoiceCustom::WaitPlayedOut()
{
    // The port plays behind its input: stopping it at the file's end would cut off what it still holds. A stop
    // request ends the wait, and so does a port that plays nothing more for a while.
    constexpr auto kLook = std::chrono::milliseconds(20);
    constexpr auto kStuck = std::chrono::seconds(3);
    int nLeft = KTN_VIEW_GetSourceBufferRemain(kVoicePort);
    if (nLeft > 0)
        LOGN(QString("TestRecord playing out %1 bytes").arg(nLeft), "VoiceCustom::WaitPlayedOut");
    auto lastProgress = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_stopMutex);
    while (nLeft > 0 && std::chrono::steady_clock::now() - lastProgress < kStuck) {
        if (m_stopCv.wait_for(lock, kLook, [this] { return m_nStop.load() != 0; }))
            return;
        const int nNow = KTN_VIEW_GetSourceBufferRemain(kVoicePort);
        if (nNow < nLeft)
            lastProgress = std::chrono::steady_clock::now();
        nLeft = nNow;
    }
}

void VoiceCustom::TestThread(std::FILE *pFileIn, int nSampleRate, int nFrameSize, int nSendInterval)
{
    const QString strTag = "VoiceCustom::TestThread";
    FilePtr pFile(pFileIn);
    LOGN("TestRecord begin", strTag);
    std::vector<unsigned char> frame(static_cast<size_t>(kHeaderSize + nFrameSize), 0);
    frame[2] = 0x01;
    frame[3] = 0xFA;
    frame[4] = 0x0E;
    frame[5] = nSampleRate == 16000 ? 0x04 : 0x02;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_stopMutex);
            if (m_stopCv.wait_for(lock, std::chrono::milliseconds(nSendInterval), [this] { return m_nStop.load() != 0; }))
                break;
        }
        const size_t nRead = std::fread(frame.data() + kHeaderSize, 1, static_cast<size_t>(nFrameSize), pFile.get());
        if (nRead == 0)
            break;
        // The length of what was read, also for a short last read.
        frame[6] = static_cast<unsigned char>(nRead & 0xFF);
        frame[7] = static_cast<unsigned char>((nRead >> 8) & 0xFF);
        KTN_VIEW_InputData(kVoicePort, frame.data(), static_cast<uint32_t>(kHeaderSize + nRead));
    }
    WaitPlayedOut();
    KTN_VIEW_StopSoundShare(kVoicePort);
    KTN_VIEW_Stop(kVoicePort);
    KTN_VIEW_CloseStream(kVoicePort);
    pFile.reset();
    // Idle before the end event, so that whoever it reaches may start again at once.
    m_nState = STATE_IDLE;
    ReleaseIfUnused();
    Emit(3, 100, 0, false);
    LOGN("TestRecord end", strTag);
    --m_nTestThreads;
}
