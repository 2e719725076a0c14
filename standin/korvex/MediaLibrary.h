#pragma once

#include "standin/korvex/MediaLoop.h"
#include "standin/korvex/TestPatternEncoder.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// What a stream of a channel plays: the test pattern of a profile, or a media file.
struct VideoSpec
{
    std::string strMediaFile;   // when set, the loop comes from this file
    uint8_t nCodec = 2;
    int nWidth = 640;
    int nHeight = 360;
    int nFrameRate = 25;
    int nLabel = 0;             // channel number drawn into the pattern

    std::string Key() const;
};

// The encoded loops, each made once at its first use and shared by every stream that plays it. Streams wait
// while a loop they need is being encoded; different loops are encoded in parallel.
class MediaLibrary
{
public:
    static MediaLibrary &Instance();

    // Length of a test-pattern loop, and the distance of its key frames.
    static constexpr int kLoopSeconds = 2;
    static constexpr int kAudioBlockMs = 40;

    // What the test pattern of a spec (one without a media file) is encoded with, and the key its loop is kept
    // under (LoopCache), shared with the loops made at build time.
    static TestPatternEncoder::Settings PatternSettings(const VideoSpec &videoSpec);
    static std::string LoopKey(const VideoSpec &videoSpec);

    std::shared_ptr<const VideoLoop> Video(const VideoSpec &videoSpec, std::string &strError);
    std::shared_ptr<const AudioLoop> Audio(uint8_t nAudioType, int nSampleRate, std::string &strError);

    // The video loop of a stream and, when nAudioType is not 0, its audio loop (null when it cannot be made).
    // False, with a message on standard error, when the video cannot be made.
    bool Loops(const VideoSpec &videoSpec, uint8_t nAudioType, int nSampleRate, std::shared_ptr<const VideoLoop> &video,
               std::shared_ptr<const AudioLoop> &audio);

    // The number of loops made so far in this process (encoded, or read from the loop cache).
    int EncodeCount() const;

private:
    struct Entry
    {
        bool bReady = false;
        bool bBusy = false;
        std::shared_ptr<const VideoLoop> video;
        std::shared_ptr<const AudioLoop> audio;
        std::string strError;
    };
    template <typename Make>
    std::shared_ptr<Entry> Get(const std::string &strKey, Make &&make);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<std::string, std::shared_ptr<Entry>> m_entries;
    int m_nEncodes = 0;
};
