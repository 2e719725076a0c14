#pragma once

#include "platform/AvPointers.h"
#include "standin/pavline/MediaFileReader.h"

#include <deque>
#include <memory>
#include <string>

// A container file read through libavformat: its H.264 or H.265 video as Annex B access units (MP4's
// length-prefixed units are rewritten by the mp4toannexb filters), its audio as G.711 codes or as 16-bit mono
// PCM decoded with libavcodec. Timestamps in milliseconds of the container.
class AvFileReader : public MediaFileReader
{
public:
    static std::unique_ptr<AvFileReader> Open(const std::string &strPath, int32_t &nError);
    ~AvFileReader() override;

    Result Next(MediaUnit &unit) override;
    bool SeekToFraction(double dFraction) override;
    int64_t FirstMs() const override { return m_nFirstMs; }
    int64_t LastMs() const override { return m_nLastMs; }
    bool IsBlockFormat() const override { return false; }

private:
    AvFileReader() = default;
    bool OpenVideo(int32_t &nError);
    void OpenAudio();
    void TakeVideo(AVPacket *pPacket);
    void TakeAudio(AVPacket *pPacket);

    AvInputPtr m_pInput;
    AvBsfPtr m_pBsf;
    AvCodecContextPtr m_pAudio;
    AvPacketPtr m_pPacket;
    AvFramePtr m_pFrame;
    int m_nVideoStream = -1;
    int m_nAudioStream = -1;
    uint8_t m_nCodec = 0;
    uint8_t m_nG711 = 0;        // the audio stream's G.711 type, 0 when it is decoded to PCM
    int m_nFrameRate = 0;
    int64_t m_nFirstMs = 0;
    int64_t m_nLastMs = 0;
    std::deque<MediaUnit> m_units;
    bool m_bEnd = false;
};
