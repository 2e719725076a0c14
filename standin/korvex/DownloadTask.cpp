#include "standin/korvex/DownloadTask.h"

#include "standin/korvex/RecordingTimeline.h"
#include "standin/korvex/TestPatternEncoder.h"

#include <algorithm>

DownloadTask::DownloadTask(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate,
                           int64_t nBeginSeconds, int64_t nDurationMs, bool bPicture, FilePtr file, double dSpeed,
                           Cut cut, ZDK_fDownLoadPosCallBack cbPos, void *pUser)
    : SimStream(Kind::Download, nHandle, nLogin)
    , m_videoSpec(videoSpec)
    , m_nAudioType(nAudioType)
    , m_nAudioRate(nAudioRate)
    , m_nBeginSeconds(nBeginSeconds)
    , m_nDurationMs(nDurationMs)
    , m_bPicture(bPicture)
    , m_file(std::move(file))
    , m_dSpeed(dSpeed)
    , m_cut(std::move(cut))
    , m_cbPos(cbPos)
    , m_pUser(pUser)
{
}

void DownloadTask::Report(int32_t nTotalKiB, int32_t nDoneKiB)
{
    std::lock_guard<std::recursive_mutex> guard(m_callbackMutex);
    if (m_cbPos && !Stopping() && !Broken())
        m_cbPos(Handle(), nTotalKiB, nDoneKiB, m_pUser);
}

void DownloadTask::Run()
{
    std::string strError;
    if (m_bPicture) {
        std::vector<uint8_t> jpeg;
        if (!TestPatternEncoder::EncodeJpeg(m_videoSpec.nWidth, m_videoSpec.nHeight, m_videoSpec.nLabel, jpeg, strError) ||
            std::fwrite(jpeg.data(), 1, jpeg.size(), m_file.get()) != jpeg.size()) {
            std::fprintf(stderr, "korvex stand-in: picture download failed: %s\n", strError.c_str());
            m_file.reset();
            WaitForStop();
            return;
        }
        m_file.reset();
        const int32_t nKiB = static_cast<int32_t>((jpeg.size() + 1023) / 1024);
        Report(nKiB, nKiB);
        Report(nKiB, -1);
        WaitForStop();
        return;
    }
    std::shared_ptr<const VideoLoop> video;
    std::shared_ptr<const AudioLoop> audio;
    if (!MediaLibrary::Instance().Loops(m_videoSpec, m_nAudioType, m_nAudioRate, video, audio)) {
        m_file.reset();
        WaitForStop();
        return;
    }
    const RecordingTimeline timeline(video, audio, m_nBeginSeconds, m_nDurationMs);
    const uint64_t nTotal = timeline.TotalBytes();
    const int32_t nTotalKiB = static_cast<int32_t>(std::min<uint64_t>((nTotal + 1023) / 1024, INT32_MAX));
    const uint64_t nReportStep = std::max<uint64_t>(nTotal / 20, 64 * 1024);
    const Clock::time_point start = Now();
    uint64_t nDone = 0, nNextReport = nReportStep;
    size_t k = 0, j = 0;
    std::vector<uint8_t> block;
    while (k < timeline.VideoCount() || j < timeline.AudioCount()) {
        if (Stopping() || Broken()) {
            m_file.reset();
            WaitForStop();
            return;
        }
        const bool bVideo = k < timeline.VideoCount() &&
                            (j >= timeline.AudioCount() || timeline.VideoTimeMs(k) <= timeline.AudioTimeMs(j));
        const int64_t nItemMs = bVideo ? timeline.VideoTimeMs(k) : timeline.AudioTimeMs(j);
        if (m_dSpeed > 0) {
            const auto due = start + std::chrono::microseconds(static_cast<int64_t>(nItemMs * 1000.0 / m_dSpeed));
            if (Now() < due) {
                WaitUntil(due);
                continue;
            }
        }
        if (bVideo)
            timeline.VideoBlock(k++, block);
        else
            timeline.AudioBlock(j++, block);
        if (std::fwrite(block.data(), 1, block.size(), m_file.get()) != block.size()) {
            std::fprintf(stderr, "korvex stand-in: download write failed\n");
            m_file.reset();
            WaitForStop();
            return;
        }
        nDone += block.size();
        // The cut breaks this download too, so that nothing is written after the block that reached the share.
        if (m_cut.nPercent > 0 && nDone * 100 >= nTotal * static_cast<uint64_t>(m_cut.nPercent)) {
            m_cut.nPercent = 0;
            m_cut.fn();
            continue;
        }
        if (nDone >= nNextReport && nDone < nTotal) {
            nNextReport += nReportStep;
            Report(nTotalKiB, static_cast<int32_t>(nDone / 1024));
        }
    }
    m_file.reset();
    Report(nTotalKiB, nTotalKiB);
    Report(nTotalKiB, -1);
    WaitForStop();
}
