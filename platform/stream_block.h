#pragma once

// The data block format of every live, playback and download stream: blocks laid end to end, no file header.
//
// Video block, a 16-byte header then one Annex-B access unit:
//   0: 00 00 01   3: 0xFC key frame / 0xFD other frame   4: low 4 bits codec (2 H.264, 3 H.265)
//   5: frame rate   6: milliseconds (uint16 LE)   8: seconds since 1970, device local time (uint32 LE)
//   12: payload length (uint32 LE)
// Audio block, the 8-byte talk frame header then the G.711 payload:
//   0: 00 00 01 FA   4: 0x0E A-law / 0x0A mu-law   5: 0x02 8000 Hz / 0x04 16000 Hz   6: payload length (uint16 LE)

#include <cstddef>
#include <cstdint>
#include <vector>

namespace StreamBlock {

constexpr size_t kVideoHeaderSize = 16;
constexpr size_t kAudioHeaderSize = 8;

constexpr uint8_t kTypeAudio = 0xFA;
constexpr uint8_t kTypeKeyFrame = 0xFC;
constexpr uint8_t kTypeFrame = 0xFD;

constexpr uint8_t kCodecH264 = 2;
constexpr uint8_t kCodecH265 = 3;

constexpr uint8_t kAudioALaw = 0x0E;
constexpr uint8_t kAudioMuLaw = 0x0A;
constexpr uint8_t kRate8000 = 0x02;
constexpr uint8_t kRate16000 = 0x04;

// The largest video payload a parser accepts by default; a longer length is taken for garbage.
constexpr uint32_t kDefaultMaxVideoPayload = 16u * 1024u * 1024u;

// The sample rate of an audio rate code (0 for an unknown code).
int SampleRateOfCode(uint8_t nRateCode);

// Writes a header into pOut (16 or 8 bytes).
void WriteVideoHeader(uint8_t *pOut, bool bKeyFrame, uint8_t nCodec, uint8_t nFrameRate, uint32_t nSeconds,
                      uint16_t nMilliseconds, uint32_t nPayloadLength);
void WriteAudioHeader(uint8_t *pOut, uint8_t nAudioType, uint8_t nRateCode, uint16_t nPayloadLength);

// Appends a whole block (header and payload) to out.
void AppendVideo(std::vector<uint8_t> &out, bool bKeyFrame, uint8_t nCodec, uint8_t nFrameRate, uint32_t nSeconds,
                 uint16_t nMilliseconds, const uint8_t *pPayload, size_t nPayload);
void AppendAudio(std::vector<uint8_t> &out, uint8_t nAudioType, uint8_t nRateCode, const uint8_t *pPayload,
                 size_t nPayload);

// One parsed block. The pointers stay valid until the next call of the parser.
struct View
{
    uint8_t nType = 0;              // kTypeAudio, kTypeKeyFrame or kTypeFrame
    uint8_t nCodec = 0;             // video: low 4 bits of byte 4; audio: the audio type
    uint8_t nFrameRate = 0;         // video
    uint8_t nRateCode = 0;          // audio
    uint16_t nMilliseconds = 0;     // video
    uint32_t nSeconds = 0;          // video
    const uint8_t *pBlock = nullptr;
    size_t nBlockSize = 0;          // header and payload
    const uint8_t *pPayload = nullptr;
    size_t nPayload = 0;

    bool IsVideo() const { return nType == kTypeKeyFrame || nType == kTypeFrame; }
    bool IsKeyFrame() const { return nType == kTypeKeyFrame; }
    bool IsAudio() const { return nType == kTypeAudio; }
};

// Cuts a byte stream, given in chunks of any size, into blocks. It never reads past the length it is given,
// skips what is not a block (resynchronising on 00 00 01 FA/FC/FD), and keeps a block cut between two
// chunks until its rest arrives.
class Parser
{
public:
    explicit Parser(uint32_t nMaxVideoPayload = kDefaultMaxVideoPayload);

    // Takes bytes from (pData, nSize) and returns true with the next whole block in out; pData and nSize
    // advance past what was used. Returns false when every byte given has been used (kept for later).
    bool Next(const uint8_t *&pData, size_t &nSize, View &out);

    // Hands every whole block of the chunk to onBlock(const View &); returns the number of blocks.
    template <typename F>
    size_t Feed(const uint8_t *pData, size_t nSize, F &&onBlock)
    {
        size_t nBlocks = 0;
        View view;
        while (Next(pData, nSize, view)) {
            onBlock(view);
            ++nBlocks;
        }
        return nBlocks;
    }

    // Forgets a kept partial block.
    void Reset();

    // Bytes skipped as not belonging to a block, and bytes kept for the next chunk.
    uint64_t SkippedBytes() const { return m_nSkipped; }
    size_t PendingBytes() const { return m_buffer.size() - m_nStart; }

private:
    // Looks for the first whole block in (pData, nSize). nUsed is what may be dropped (skipped bytes, and the
    // block when one is returned).
    bool Scan(const uint8_t *pData, size_t nSize, size_t &nUsed, View &out);

    uint32_t m_nMaxVideoPayload;
    std::vector<uint8_t> m_buffer;  // bytes kept from earlier chunks: a block cut between chunks
    size_t m_nStart = 0;            // bytes at the front of m_buffer already handed out or skipped
    uint64_t m_nSkipped = 0;
};

} // namespace StreamBlock
