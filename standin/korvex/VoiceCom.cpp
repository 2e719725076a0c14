#include "standin/korvex/VoiceCom.h"

#include "platform/stream_block.h"
#include "standin/korvex/KorvexSim.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/ReceivedReport.h"
#include "standin/korvex/VoiceComTask.h"

#include <algorithm>

namespace {

const char kTalkAbility[] = "ChannelSystemFunction@SupportIPCTalk";

int32_t Refuse(int32_t nError)
{
    KorvexSim::SetLastError(nError);
    return 0;
}

// Whether the channel (-1: any channel) of the device can talk.
bool ChannelCanTalk(const KorvexDevice &device, int32_t nChannel)
{
    auto it = device.settings.channelAbilities.find(kTalkAbility);
    if (it == device.settings.channelAbilities.end())
        return false;
    const std::vector<bool> &flags = it->second;
    const size_t nCount = std::min(flags.size(), static_cast<size_t>(device.ChannelCount()));
    if (nChannel >= 0)
        return static_cast<size_t>(nChannel) < nCount && flags[static_cast<size_t>(nChannel)];
    return std::find(flags.begin(), flags.begin() + static_cast<std::ptrdiff_t>(nCount), true) !=
           flags.begin() + static_cast<std::ptrdiff_t>(nCount);
}

} // namespace

VoiceCom &VoiceCom::Instance()
{
    static VoiceCom voice;
    return voice;
}

int32_t VoiceCom::Start(int32_t lLogin, bool bChannelForm, int32_t nChannel, ZDK_fVoiceDataCallBack cb, void *pUser)
{
    if (!cb)
        return Refuse(ZDK_ERR_ILLEGAL_PARAM);
    std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return 0;
    if (!bChannelForm) {
        nChannel = -1;
        if (!device->settings.bDeviceTalk)
            return Refuse(ZDK_ERR_NOT_SUPPORTED);
    } else {
        if (nChannel < -1 || nChannel >= device->ChannelCount())
            return Refuse(ZDK_ERR_NO_CHANNEL);
        if (!ChannelCanTalk(*device, nChannel))
            return Refuse(ZDK_ERR_NOT_SUPPORTED);
    }
    // The loop is made (once per process) before the library's lock is taken.
    const uint8_t nAudioType = device->nAudioType == StreamBlock::kAudioMuLaw ? StreamBlock::kAudioMuLaw
                                                                              : StreamBlock::kAudioALaw;
    const int nRate = device->nAudioType != 0 ? device->nAudioRate : 8000;
    std::string strError;
    std::shared_ptr<const AudioLoop> audio = MediaLibrary::Instance().Audio(nAudioType, nRate, strError);
    if (!audio || audio->blocks.empty())
        return Refuse(ZDK_ERR_FAILED);
    const int32_t lHandle = KorvexSim::Instance().StartTask(
        lLogin, [&](int32_t nHandle, const std::shared_ptr<const KorvexDevice> &) -> std::shared_ptr<SimStream> {
            return std::make_shared<VoiceComTask>(nHandle, lLogin, nChannel, audio, cb, pUser);
        });
    if (lHandle > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_talks.push_back(Talk{lHandle, lLogin, bChannelForm, nChannel});
    }
    return lHandle;
}

bool VoiceCom::CheckFrame(const uint8_t *pData, size_t nLength)
{
    if (!pData || nLength <= StreamBlock::kAudioHeaderSize)
        return false;
    if (pData[0] != 0x00 || pData[1] != 0x00 || pData[2] != 0x01 || pData[3] != StreamBlock::kTypeAudio)
        return false;
    if (pData[4] != StreamBlock::kAudioALaw && pData[4] != StreamBlock::kAudioMuLaw)
        return false;
    if (pData[5] != StreamBlock::kRate8000 && pData[5] != StreamBlock::kRate16000)
        return false;
    const size_t nPayload = static_cast<size_t>(pData[6]) | (static_cast<size_t>(pData[7]) << 8);
    return nPayload + StreamBlock::kAudioHeaderSize == nLength;
}

int32_t VoiceCom::Send(int32_t lHandle, const char *pData, int32_t nLength)
{
    std::shared_ptr<SimStream> task = KorvexSim::Instance().FindTask(lHandle, SimStream::Kind::Talk);
    if (!task)
        return 0;
    // A cut connection carries nothing more.
    if (!KorvexSim::Instance().LoginDevice(task->Login()))
        return 0;
    if (!pData || nLength <= 0)
        return Refuse(ZDK_ERR_ILLEGAL_PARAM);
    KorvexTalkFrame frame;
    frame.nHandle = lHandle;
    frame.nLogin = task->Login();
    frame.nChannel = std::static_pointer_cast<VoiceComTask>(task)->Channel();
    frame.strData.assign(pData, static_cast<size_t>(nLength));
    frame.bAccepted = CheckFrame(reinterpret_cast<const uint8_t *>(pData), static_cast<size_t>(nLength));
    frame.at = std::chrono::steady_clock::now();
    const bool bAccepted = frame.bAccepted;
    Keep(std::move(frame));
    return bAccepted ? 1 : Refuse(ZDK_ERR_ILLEGAL_PARAM);
}

int32_t VoiceCom::Stop(int32_t lHandle) { return KorvexSim::Instance().StopStream(lHandle, SimStream::Kind::Talk); }

void VoiceCom::Keep(KorvexTalkFrame &&frame)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Talk &talk : m_talks)
            if (talk.nHandle == frame.nHandle)
                frame.bChannelForm = talk.bChannelForm;
        ReceivedReport::Talk(frame);
        m_frames.push_back(std::move(frame));
        ++m_nTotal;
        if (m_frames.size() > kMaxKept)
            m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<std::ptrdiff_t>(m_frames.size() - kMaxKept));
    }
    m_cv.notify_all();
}

std::vector<KorvexTalkFrame> VoiceCom::Frames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

bool VoiceCom::WaitForFrames(size_t nCount, int nTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_nTotal >= nCount; });
}

void VoiceCom::ClearFrames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_nTotal = 0;
}

int VoiceCom::OpenTalks()
{
    std::vector<Talk> talks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        talks = m_talks;
    }
    // Asked on a thread of the test: its last error is kept as it was.
    const int32_t nLastError = KorvexSim::LastError();
    int nOpen = 0;
    for (const Talk &talk : talks)
        if (KorvexSim::Instance().FindTask(talk.nHandle, SimStream::Kind::Talk))
            ++nOpen;
    KorvexSim::SetLastError(nLastError);
    return nOpen;
}

void VoiceCom::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_nTotal = 0;
    m_talks.clear();
}
