#include "standin/korvex/MediaLibrary.h"

#include "standin/korvex/G711ToneEncoder.h"
#include "standin/korvex/LoopCache.h"
#include "standin/korvex/MediaFileSource.h"
#include "standin/korvex/TestPatternEncoder.h"

#include <cstdio>

std::string VideoSpec::Key() const
{
    if (!strMediaFile.empty())
        return "file:" + strMediaFile;
    return "pattern:" + std::to_string(nCodec) + ":" + std::to_string(nWidth) + "x" + std::to_string(nHeight) + "@" +
           std::to_string(nFrameRate) + ":" + std::to_string(nLabel);
}

TestPatternEncoder::Settings MediaLibrary::PatternSettings(const VideoSpec &videoSpec)
{
    TestPatternEncoder::Settings settings;
    settings.nCodec = videoSpec.nCodec;
    settings.nWidth = videoSpec.nWidth;
    settings.nHeight = videoSpec.nHeight;
    settings.nFrameRate = videoSpec.nFrameRate;
    settings.nFrameCount = videoSpec.nFrameRate * kLoopSeconds;
    settings.nKeyInterval = videoSpec.nFrameRate;
    settings.nLabel = videoSpec.nLabel;
    return settings;
}

std::string MediaLibrary::LoopKey(const VideoSpec &videoSpec)
{
    const TestPatternEncoder::Settings settings = PatternSettings(videoSpec);
    return videoSpec.Key() + " frames " + std::to_string(settings.nFrameCount) + " key " +
           std::to_string(settings.nKeyInterval);
}

MediaLibrary &MediaLibrary::Instance()
{
    static MediaLibrary library;
    return library;
}

bool MediaLibrary::Loops(const VideoSpec &videoSpec, uint8_t nAudioType, int nSampleRate,
                         std::shared_ptr<const VideoLoop> &video, std::shared_ptr<const AudioLoop> &audio)
{
    std::string strError;
    video = Video(videoSpec, strError);
    if (!video) {
        std::fprintf(stderr, "korvex stand-in: no video for %s: %s\n", videoSpec.Key().c_str(), strError.c_str());
        return false;
    }
    audio.reset();
    if (nAudioType)
        audio = Audio(nAudioType, nSampleRate, strError);
    return true;
}

int MediaLibrary::EncodeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nEncodes;
}

template <typename Make>
std::shared_ptr<MediaLibrary::Entry> MediaLibrary::Get(const std::string &strKey, Make &&make)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::shared_ptr<Entry> &slot = m_entries[strKey];
    if (!slot)
        slot = std::make_shared<Entry>();
    std::shared_ptr<Entry> entry = slot;
    m_cv.wait(lock, [&] { return entry->bReady || !entry->bBusy; });
    if (entry->bReady)
        return entry;
    // This thread encodes; the others wait for it. A failed encode is tried again by the next user.
    entry->bBusy = true;
    ++m_nEncodes;
    lock.unlock();
    Entry made;
    const bool bOk = make(made);
    lock.lock();
    entry->bBusy = false;
    entry->strError = made.strError;
    if (bOk) {
        entry->video = made.video;
        entry->audio = made.audio;
        entry->bReady = true;
    }
    m_cv.notify_all();
    return entry;
}

std::shared_ptr<const VideoLoop> MediaLibrary::Video(const VideoSpec &videoSpec, std::string &strError)
{
    std::shared_ptr<Entry> entry = Get(videoSpec.Key(), [&videoSpec](Entry &made) {
        auto loop = std::make_shared<VideoLoop>();
        bool bOk;
        if (!videoSpec.strMediaFile.empty()) {
            bOk = MediaFileSource::Load(videoSpec.strMediaFile, 30 * 60, *loop, made.strError);
        } else {
            const TestPatternEncoder::Settings settings = PatternSettings(videoSpec);
            bOk = LoopCache::Get(LoopKey(videoSpec), *loop,
                                 [&settings](VideoLoop &encoded, std::string &strEncodeError) {
                                     return TestPatternEncoder::EncodeLoop(settings, encoded, strEncodeError);
                                 },
                                 made.strError);
        }
        if (bOk)
            made.video = loop;
        return bOk;
    });
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!entry->bReady)
        strError = entry->strError;
    return entry->video;
}

std::shared_ptr<const AudioLoop> MediaLibrary::Audio(uint8_t nAudioType, int nSampleRate, std::string &strError)
{
    const std::string strKey = "audio:" + std::to_string(nAudioType) + ":" + std::to_string(nSampleRate);
    std::shared_ptr<Entry> entry = Get(strKey, [&](Entry &made) {
        auto loop = std::make_shared<AudioLoop>();
        const bool bOk =
            G711ToneEncoder::EncodeLoop(nAudioType, nSampleRate, kLoopSeconds * 1000, kAudioBlockMs, *loop, made.strError);
        if (bOk)
            made.audio = loop;
        return bOk;
    });
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!entry->bReady)
        strError = entry->strError;
    return entry->audio;
}
