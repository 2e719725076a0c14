#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/VideoDecoder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Writes H.264 or H.265 access units, with G.711 audio when the stream carries it, into an AVI file through
// libavformat, without coding them again. The file begins at the first key frame; G.711 sound that comes within
// the first 50 pictures gives it an audio stream. The picture size comes from decoding that key frame.
class AviWriter
{
public:
    explicit AviWriter(std::string strPath);
    ~AviWriter();
    AviWriter(const AviWriter &) = delete;
    AviWriter &operator=(const AviWriter &) = delete;

    // Creates the file; false (KTN_ERR_FILE) when it cannot be.
    bool Create(int32_t &nError);
    // False when the file can no longer be written.
    bool Write(const MediaUnit &unit);
    // Finishes the file; a file that received no picture is removed. False when writing failed.
    bool Finish();

    int64_t VideoFrames() const { return m_nVideoFrames; }
    int64_t AudioSamples() const { return m_nAudioSamples; }

private:
    bool Start();
    // Writes the header and what waited once the picture size is known and the sound was waited for (or now,
    // with bForce).
    bool TryStart(bool bForce);
    bool WriteVideo(const MediaUnit &unit);
    bool WriteAudio(const MediaUnit &unit);

    std::string m_strPath;
    AVFormatContext *m_pOutput = nullptr;   // owned: freed by Finish
    bool m_bHeader = false;
    bool m_bFailed = false;
    bool m_bFinished = false;
    std::vector<MediaUnit> m_waiting;       // from the first key frame until the header can be written
    int m_nWaitingVideo = 0;
    std::unique_ptr<VideoDecoder> m_pProbe;
    int m_nWidth = 0, m_nHeight = 0;
    uint8_t m_nCodec = 0;
    int m_nFrameRate = 25;
    uint8_t m_nAudioCodec = 0;              // G.711 type of the audio stream, 0 for none
    int m_nAudioRate = 0;
    int m_nVideoStream = -1, m_nAudioStream = -1;
    int64_t m_nFirstMs = 0;
    int64_t m_nLastMs = 0;
    int64_t m_nLastIndex = -1;
    int64_t m_nVideoFrames = 0;
    int64_t m_nAudioSamples = 0;
    AvPacketPtr m_pPacket;
};
