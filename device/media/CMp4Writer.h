#pragma once

#include "platform/AvPointers.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
class CAacEncoder;
class CAudioConvert;

// One frame handed to the MP4 writer by the recorder; every field 0 unless set.
struct FrameInfo
{
    const uint8_t *pData = nullptr; // Annex B video (start codes 00 00 01 or 00 00 00 01) or audio samples
    int nLength = 0;                // bytes at pData
    int nFrameType = 0;             // 1 video, 2 audio
    int nSubType = 0;               // video: 0 key frame, anything else not a key frame
    int nCodec = 0;                 // video: 2 H.264, 5 H.265; audio: a type of CAudioConvert::ToPcm16
    int nFrameRate = 0;             // video frames per second
    int nWidth = 0;
    int nHeight = 0;
    int nChannels = 0;              // audio
    int nBitsPerSample = 0;         // audio
    int nSampleRate = 0;            // audio, Hz
};

// Writes an MP4 file from frame records (H.264 or H.265 video, audio encoded to AAC on the way), and copies
// the video stream of a raw recording into a new container file. Messages go to standard output.
class CMp4Writer
{
public:
    enum : int {
        kFrameVideo = 1,
        kFrameAudio = 2,
        kCodecH264 = 2,
        kCodecH265 = 5,
    };

    // szPath in the local 8-bit encoding. Nothing is opened yet.
    explicit CMp4Writer(const char *szPath);
    // Finishes the file; a file that this writer created and wrote no packet into is deleted.
    ~CMp4Writer();
    CMp4Writer(const CMp4Writer &) = delete;
    CMp4Writer &operator=(const CMp4Writer &) = delete;

    // Opens the file on the first key frame that carries its parameter sets, then writes one frame (a picture
    // of another codec than the file's is not written). 1 written, 0 nothing written, -1 the output or the audio encoder could not be opened, -2 the header
    // could not be written or the key frame gave no video stream.
    int WriteFrame(const FrameInfo *pFrame);
    // Finishes the file (the trailer written, the file closed); true when everything offered was written: no
    // write failed, and no picture was refused because the file could not be made.
    bool Finish();
    // A write has failed (the disk full, the file gone): the file is not whole.
    bool Failed() const { return m_bWriteFailed || m_bOpenFailed; }

    // Sound to go beside the video of a remuxed file: a file of 16-bit little-endian PCM that begins with the
    // first picture.
    struct RemuxAudio
    {
        const char *szPcmPath = nullptr;
        int nSampleRate = 0;
        int nChannels = 1;
    };

    // Copies the video stream of szInput into a new file szOutput. Returns the last read status (AVERROR_EOF
    // once the input was read to its end), or the error of a write that failed. With
    // nFrameRate above 0 the frames are timed at that rate whatever the input says (a raw stream without
    // timing reads as 25 frames a second). With pAudio its sound is encoded to AAC beside the video.
    int RemuxFile(const char *szInput, const char *szOutput, int nFrameRate = 0, const RemuxAudio *pAudio = nullptr);

private:

    int OpenOutput(const FrameInfo &frame);
    void AddVideoStream(const FrameInfo &frame);
    void AddAudioStream();
    void CloseOutput();
    void NoteWriteError(int nError);
    int WriteVideo(const FrameInfo &frame);
    int WriteAudio(const FrameInfo &frame);
    int OpenAudioEncoder(const FrameInfo &frame);
    bool EncoderFitsStream() const;
    int WriteAudioPacket(const uint8_t *pData, int nLength);
    void DrainAudio();
    // Remux: the sound of the PCM file up to nUntilSamples (samples of one channel) from its start.
    void RemuxAudioUntil(std::FILE *pPcm, const RemuxAudio &audio, int64_t nUntilSamples);
    int64_t VideoTimestamp(int nPacket) const;

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nVideoStream = -1;
    int m_nAudioStream = -1;
    int m_nFrameRate = 0;
    int m_nVideoCodec = 0;
    int m_nVideoPackets = 0;
    int m_nAudioPackets = 0;
    int m_nChannels = 0;
    int m_nBitsPerSample = 0;
    int m_nSampleRate = 0;
    int m_nInputSamples = 0;
    int64_t m_nRemuxDuration = 0;
    std::string m_strPath;
    AvOutputPtr m_pOutput;
    bool m_bHeaderWritten = false;
    bool m_bCreatedFile = false;
    bool m_bOpenFailed = false;
    bool m_bWriteFailed = false;
    int m_nWriteError = 0;          // the first failed write's error
    // The video timeline restarts from here when a key frame brings another frame rate.
    int64_t m_nTimeBase = 0;
    int m_nTimeBasePacket = 0;
    AvCodecContextPtr m_pAudioCodec;
    std::vector<uint8_t> m_vecAacOut;
    std::unique_ptr<CAudioConvert> m_pConvert;
    int m_nPcmBlockSize = 0; // bytes of 16-bit samples
    int m_nPcmFill = 0;
    std::vector<int16_t> m_vecPcmBlock;
    std::unique_ptr<CAacEncoder> m_pAac;
    std::vector<uint8_t> m_vecScratch;
    AvPacketPtr m_pPacket;
    int m_nRemuxPackets = 0;
    int64_t m_nRemuxAudioSamples = 0;   // samples of one channel read from the remux's PCM file
};
