// The data block parser. Input: a mode byte, a 2-byte chunking seed, a byte choosing the parser's largest video
// payload, then either a raw stream (even mode byte) or a recipe of blocks and garbage (odd mode byte).
// Raw stream: every block yielded has a whole header of its kind and the payload its length field states, and
// occurs in the stream after the one before; every byte is either in a block, skipped or kept; the stream in
// one piece and in chunks gives the same. Recipe: the blocks written by the block writer, with garbage between
// them that holds no zero byte, are read back exactly, whatever the chunking, and the garbage is all skipped.
// Each chunk sits in a heap buffer of its exact size, so a read past it is caught by the address sanitizer.

#include "FuzzSupport.h"

#include "platform/stream_block.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Block
{
    StreamBlock::View fields;       // its pointers are not used after the parser's call
    std::vector<uint8_t> bytes;     // header and payload

    bool operator==(const Block &o) const
    {
        const StreamBlock::View &a = fields, &b = o.fields;
        return a.nType == b.nType && a.nCodec == b.nCodec && a.nFrameRate == b.nFrameRate &&
               a.nRateCode == b.nRateCode && a.nMilliseconds == b.nMilliseconds && a.nSeconds == b.nSeconds &&
               bytes == o.bytes;
    }
};

struct Parsed
{
    std::vector<Block> blocks;
    uint64_t nSkipped = 0;
    size_t nPending = 0;
};

uint32_t Le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The view against the bytes it points at: the header of its kind, the stated payload length, the fields.
void CheckView(const StreamBlock::View &v, uint32_t nMaxVideo)
{
    const uint8_t *p = v.pBlock;
    FUZZ_CHECK(p && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == v.nType, "block without its sync");
    if (v.IsAudio()) {
        FUZZ_CHECK(v.nPayload == static_cast<size_t>(p[6] | (p[7] << 8)), "audio payload not of its stated length");
        FUZZ_CHECK(v.nBlockSize == StreamBlock::kAudioHeaderSize + v.nPayload, "audio block size");
        FUZZ_CHECK(v.pPayload == p + StreamBlock::kAudioHeaderSize, "audio payload not after its header");
        FUZZ_CHECK(v.nCodec == p[4] && v.nRateCode == p[5], "audio fields differ from the header");
        return;
    }
    FUZZ_CHECK(v.IsVideo(), "block of unknown type " + std::to_string(v.nType));
    FUZZ_CHECK(v.nPayload == Le32(p + 12), "video payload not of its stated length");
    FUZZ_CHECK(v.nPayload >= 4 && v.nPayload <= nMaxVideo, "video length outside the parser's bounds");
    FUZZ_CHECK(v.nBlockSize == StreamBlock::kVideoHeaderSize + v.nPayload, "video block size");
    FUZZ_CHECK(v.pPayload == p + StreamBlock::kVideoHeaderSize, "video payload not after its header");
    const uint8_t *q = v.pPayload;
    FUZZ_CHECK(q[0] == 0 && q[1] == 0 && (q[2] == 1 || (q[2] == 0 && q[3] == 1)), "video payload is no access unit");
    FUZZ_CHECK(v.nCodec == (p[4] & 0x0F) && v.nFrameRate == p[5] && v.nMilliseconds == (p[6] | (p[7] << 8)) &&
                   v.nSeconds == Le32(p + 8),
               "video fields differ from the header");
}

Parsed Parse(const std::vector<uint8_t> &stream, uint32_t nSeed, bool bOnePiece, uint32_t nMaxVideo)
{
    StreamBlock::Parser parser(nMaxVideo);
    ChunkSizes sizes(nSeed);
    Parsed out;
    size_t nAt = 0;
    while (nAt < stream.size()) {
        const size_t n = bOnePiece ? stream.size() : std::min(sizes.Next(), stream.size() - nAt);
        std::unique_ptr<uint8_t[]> chunk(new uint8_t[n]);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(nAt), stream.begin() + static_cast<std::ptrdiff_t>(nAt + n),
                  chunk.get());
        parser.Feed(chunk.get(), n, [&](const StreamBlock::View &v) {
            CheckView(v, nMaxVideo);
            out.blocks.push_back(Block{v, std::vector<uint8_t>(v.pBlock, v.pBlock + v.nBlockSize)});
        });
        nAt += n;
        // What is kept is at most one block cut short.
        FUZZ_CHECK(parser.PendingBytes() < StreamBlock::kVideoHeaderSize + std::max<size_t>(nMaxVideo, 65535),
                   "keeps " + std::to_string(parser.PendingBytes()) + " bytes");
    }
    out.nSkipped = parser.SkippedBytes();
    out.nPending = parser.PendingBytes();
    return out;
}

void CheckRawStream(const std::vector<uint8_t> &stream, uint32_t nSeed, uint32_t nMaxVideo)
{
    const Parsed whole = Parse(stream, nSeed, true, nMaxVideo);
    const Parsed chunked = Parse(stream, nSeed, false, nMaxVideo);
    FUZZ_CHECK(whole.blocks == chunked.blocks, "chunking changed the blocks: " + std::to_string(whole.blocks.size()) +
                                                   " in one piece, " + std::to_string(chunked.blocks.size()) + " in chunks");
    FUZZ_CHECK(whole.nSkipped == chunked.nSkipped && whole.nPending == chunked.nPending,
               "chunking changed what is skipped or kept");
    size_t nFrom = 0, nInBlocks = 0;
    for (const Block &b : whole.blocks) {
        const auto it = std::search(stream.begin() + static_cast<std::ptrdiff_t>(nFrom), stream.end(), b.bytes.begin(),
                                    b.bytes.end());
        FUZZ_CHECK(it != stream.end() || b.bytes.empty(), "a block that is not in the stream (after the one before)");
        nFrom = static_cast<size_t>(it - stream.begin()) + b.bytes.size();
        nInBlocks += b.bytes.size();
    }
    FUZZ_CHECK(nInBlocks + whole.nSkipped + whole.nPending == stream.size(),
               std::to_string(nInBlocks) + " bytes in blocks, " + std::to_string(whole.nSkipped) + " skipped, " +
                   std::to_string(whole.nPending) + " kept, of " + std::to_string(stream.size()));
}

// Builds a stream from the recipe: records of a kind byte and its fields, payloads taken from the input.
void CheckWrittenStream(const uint8_t *pData, size_t nSize, uint32_t nSeed, uint32_t nMaxVideo)
{
    std::vector<uint8_t> stream;
    std::vector<Block> expected;
    uint64_t nGarbage = 0;
    auto takeBytes = [&](size_t n) {
        std::vector<uint8_t> out(n);
        for (size_t i = 0; i < n; ++i)
            out[i] = nSize ? static_cast<uint8_t>(TakeLe(pData, nSize, 1)) : static_cast<uint8_t>(i * 37 + 11);
        return out;
    };
    while (nSize > 0 && expected.size() < 64) {
        const uint32_t nKind = TakeLe(pData, nSize, 1) % 4;
        const size_t nAt = stream.size();
        Block block;
        StreamBlock::View &b = block.fields;
        if (nKind == 0) {
            b.nType = StreamBlock::kTypeAudio;
            b.nCodec = static_cast<uint8_t>(TakeLe(pData, nSize, 1));
            b.nRateCode = static_cast<uint8_t>(TakeLe(pData, nSize, 1));
            const std::vector<uint8_t> payload = takeBytes(TakeLe(pData, nSize, 2) % 2048);
            StreamBlock::AppendAudio(stream, b.nCodec, b.nRateCode, payload.data(), payload.size());
        } else if (nKind == 1 || nKind == 2) {
            b.nType = nKind == 1 ? StreamBlock::kTypeKeyFrame : StreamBlock::kTypeFrame;
            const uint8_t nCodec = static_cast<uint8_t>(TakeLe(pData, nSize, 1));
            b.nCodec = nCodec & 0x0F;
            b.nFrameRate = static_cast<uint8_t>(TakeLe(pData, nSize, 1));
            b.nMilliseconds = static_cast<uint16_t>(TakeLe(pData, nSize, 2));
            b.nSeconds = TakeLe(pData, nSize, 4);
            const bool bLongStartCode = TakeLe(pData, nSize, 1) & 1;
            const size_t nMaxLen = std::min<size_t>(nMaxVideo, 4096);
            const size_t nLen = 4 + TakeLe(pData, nSize, 2) % (nMaxLen - 3);
            std::vector<uint8_t> payload = takeBytes(nLen);
            payload[0] = 0;
            payload[1] = 0;
            payload[2] = bLongStartCode ? 0 : 1;
            if (bLongStartCode)
                payload[3] = 1;
            StreamBlock::AppendVideo(stream, nKind == 1, nCodec, b.nFrameRate, b.nSeconds, b.nMilliseconds,
                                     payload.data(), payload.size());
        } else {
            std::vector<uint8_t> garbage = takeBytes(TakeLe(pData, nSize, 1));
            for (uint8_t &c : garbage)
                c = c ? c : 0x5A;
            stream.insert(stream.end(), garbage.begin(), garbage.end());
            nGarbage += garbage.size();
            continue;
        }
        block.bytes.assign(stream.begin() + static_cast<std::ptrdiff_t>(nAt), stream.end());
        expected.push_back(std::move(block));
    }
    const Parsed got = Parse(stream, nSeed, false, nMaxVideo);
    FUZZ_CHECK(got.blocks == expected, "written " + std::to_string(expected.size()) + " blocks, read " +
                                           std::to_string(got.blocks.size()) + " (or different ones)");
    FUZZ_CHECK(got.nSkipped == nGarbage && got.nPending == 0,
               "skipped " + std::to_string(got.nSkipped) + " of " + std::to_string(nGarbage) + " garbage bytes, kept " +
                   std::to_string(got.nPending));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::vector<uint8_t> stream;
    const uint8_t au[] = {0, 0, 0, 1, 0x40, 0x01, 0x0c, 0x01, 0, 0, 1, 0x42};
    const std::vector<uint8_t> pcm(160, 0xD5);
    StreamBlock::AppendVideo(stream, true, StreamBlock::kCodecH265, 25, 1700000000u, 40, au, sizeof au);
    StreamBlock::AppendAudio(stream, StreamBlock::kAudioALaw, StreamBlock::kRate8000, pcm.data(), pcm.size());
    stream.insert(stream.end(), {'j', 'u', 'n', 'k', 0, 0, 1, 0xFC, 3});
    StreamBlock::AppendVideo(stream, false, StreamBlock::kCodecH264, 15, 1700000001u, 80, au + 1, sizeof au - 1);
    stream.insert(stream.end(), {0, 0, 1});
    const std::string strStream(stream.begin(), stream.end());
    // Recipe: key frame, garbage, audio, other frame.
    const std::string strRecipe("\x01\x03\x19\x28\x00\x00\x5e\x5a\x65\x00\x10\x00"
                                "\x03\x05junk"
                                "\x00\x0e\x02\x20\x00"
                                "\x02\x02\x0f\x50\x00\x01\x5e\x5a\x65\x01\x08\x00", 35);
    WriteSeeds({
        std::string("\x00\x07\x00\x00", 4) + strStream,
        std::string("\x00\x01\x00\x03", 4) + strStream,
        std::string("\x01\x05\x00\x00", 4) + strRecipe,
        std::string("\x01\x02\x00\x02", 4) + strRecipe,
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    const uint32_t nMode = TakeLe(pData, nSize, 1);
    const uint32_t nSeed = TakeLe(pData, nSize, 2);
    const uint32_t nMaxChoice = TakeLe(pData, nSize, 1);
    // Small limits let short inputs reach the "too long" path.
    const uint32_t nMaxVideo = nMaxChoice == 0 ? StreamBlock::kDefaultMaxVideoPayload : 4 + nMaxChoice * nMaxChoice;
    if (nMode & 1)
        CheckWrittenStream(pData, nSize, nSeed, nMaxVideo);
    else
        CheckRawStream(std::vector<uint8_t>(pData, pData + nSize), nSeed, nMaxVideo);
    return 0;
}
