// The block format: the writer's bytes, and a parser that cuts any chunking of a stream back into the same
// blocks, skips garbage and never reads past what it is given.

#include "platform/stream_block.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using StreamBlock::View;

struct Parsed
{
    uint8_t nType;
    uint8_t nCodec;
    uint32_t nSeconds;
    uint16_t nMs;
    std::vector<uint8_t> payload;
    bool operator==(const Parsed &o) const
    {
        return nType == o.nType && nCodec == o.nCodec && nSeconds == o.nSeconds && nMs == o.nMs &&
               payload == o.payload;
    }
};

std::vector<uint8_t> AccessUnit(size_t nSize, uint8_t nSeed)
{
    std::vector<uint8_t> au = {0, 0, 0, 1, 0x65};
    for (size_t i = au.size(); i < nSize; ++i)
        au.push_back(static_cast<uint8_t>((i * 7 + nSeed) | 1));  // never two zero bytes in a row
    return au;
}

// A stream of video and audio blocks, and what a parser must give back for it.
std::vector<uint8_t> SampleStream(std::vector<Parsed> &expected)
{
    std::vector<uint8_t> stream;
    for (int i = 0; i < 12; ++i) {
        if (i % 3 == 2) {
            std::vector<uint8_t> pcm(i * 13 + 1, static_cast<uint8_t>(0xD5 + i));
            StreamBlock::AppendAudio(stream, StreamBlock::kAudioALaw, StreamBlock::kRate8000, pcm.data(), pcm.size());
            expected.push_back({StreamBlock::kTypeAudio, StreamBlock::kAudioALaw, 0, 0, pcm});
        } else {
            const std::vector<uint8_t> au = AccessUnit(100 + i * 257, static_cast<uint8_t>(i));
            StreamBlock::AppendVideo(stream, i == 0, StreamBlock::kCodecH265, 25, 1700000000u + i,
                                     static_cast<uint16_t>(i * 40), au.data(), au.size());
            expected.push_back({i == 0 ? StreamBlock::kTypeKeyFrame : StreamBlock::kTypeFrame,
                                StreamBlock::kCodecH265, 1700000000u + i, static_cast<uint16_t>(i * 40), au});
        }
    }
    return stream;
}

// Feeds the stream in chunks of the given sizes (cycled), each chunk in a heap buffer of exactly its size,
// so that a read past the chunk is caught by the address sanitizer.
std::vector<Parsed> ParseInChunks(const std::vector<uint8_t> &stream, const std::vector<size_t> &sizes,
                                  StreamBlock::Parser &parser)
{
    std::vector<Parsed> out;
    size_t nAt = 0, nChunk = 0;
    while (nAt < stream.size()) {
        const size_t n = std::min(sizes[nChunk++ % sizes.size()], stream.size() - nAt);
        std::unique_ptr<uint8_t[]> chunk(new uint8_t[n]);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(nAt),
                  stream.begin() + static_cast<std::ptrdiff_t>(nAt + n), chunk.get());
        parser.Feed(chunk.get(), n, [&](const View &v) {
            Parsed p{v.nType, v.nCodec, v.nSeconds, v.nMilliseconds,
                     std::vector<uint8_t>(v.pPayload, v.pPayload + v.nPayload)};
            EXPECT_EQ(v.nBlockSize, v.nPayload + (v.IsAudio() ? 8u : 16u));
            EXPECT_EQ(v.pPayload, v.pBlock + (v.IsAudio() ? 8 : 16));
            out.push_back(std::move(p));
        });
        nAt += n;
    }
    return out;
}

} // namespace

TEST(StreamBlock, WriterLaysOutTheHeaders)
{
    std::vector<uint8_t> out;
    const uint8_t au[] = {0, 0, 0, 1, 0x40, 0x01};
    StreamBlock::AppendVideo(out, true, StreamBlock::kCodecH265, 25, 0x01020304u, 0x0506, au, sizeof au);
    const std::vector<uint8_t> video = {0, 0, 1, 0xFC, 3, 25, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 6, 0, 0, 0,
                                        0, 0, 0, 1, 0x40, 0x01};
    EXPECT_EQ(out, video);

    out.clear();
    StreamBlock::AppendVideo(out, false, StreamBlock::kCodecH264, 15, 1, 2, au, sizeof au);
    EXPECT_EQ(out[3], 0xFD);
    EXPECT_EQ(out[4], 2);

    out.clear();
    const std::vector<uint8_t> pcm(320, 0xD5);
    StreamBlock::AppendAudio(out, StreamBlock::kAudioALaw, StreamBlock::kRate16000, pcm.data(), pcm.size());
    ASSERT_EQ(out.size(), 328u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8),
              (std::vector<uint8_t>{0, 0, 1, 0xFA, 0x0E, 0x04, 0x40, 0x01}));
    EXPECT_EQ(StreamBlock::SampleRateOfCode(StreamBlock::kRate8000), 8000);
    EXPECT_EQ(StreamBlock::SampleRateOfCode(StreamBlock::kRate16000), 16000);
    EXPECT_EQ(StreamBlock::SampleRateOfCode(0x03), 0);
}

TEST(StreamBlock, AnyChunkingGivesTheSameBlocks)
{
    std::vector<Parsed> expected;
    const std::vector<uint8_t> stream = SampleStream(expected);
    const std::vector<std::vector<size_t>> cases = {
        {stream.size()}, {1}, {2}, {3}, {7}, {15}, {16}, {17}, {100, 1, 3000}, {4096}, {5, 9000, 1, 1, 2},
    };
    for (const auto &sizes : cases) {
        StreamBlock::Parser parser;
        const std::vector<Parsed> got = ParseInChunks(stream, sizes, parser);
        EXPECT_EQ(got.size(), expected.size()) << "first chunk size " << sizes[0];
        EXPECT_TRUE(got == expected) << "first chunk size " << sizes[0];
        EXPECT_EQ(parser.SkippedBytes(), 0u);
        EXPECT_EQ(parser.PendingBytes(), 0u);
    }
    // Random chunkings.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<size_t> sizes;
        for (int i = 0; i < 50; ++i)
            sizes.push_back(1 + rng() % 700);
        StreamBlock::Parser parser;
        EXPECT_TRUE(ParseInChunks(stream, sizes, parser) == expected) << "round " << round;
    }
}

TEST(StreamBlock, ResynchronisesAfterGarbage)
{
    std::vector<Parsed> expected;
    const std::vector<uint8_t> clean = SampleStream(expected);
    // Garbage in front, between blocks and false starts: a video header with an impossible length, one whose
    // payload is no access unit, and a lone sync at the very end.
    std::vector<uint8_t> stream = {0x11, 0x00, 0x00, 0x22, 0x00, 0x00, 0x01, 0x33};
    const std::vector<uint8_t> badLength = {0, 0, 1, 0xFC, 3, 25, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    const std::vector<uint8_t> notAnAu = {0, 0, 1, 0xFD, 3, 25, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9};
    stream.insert(stream.end(), badLength.begin(), badLength.end());
    size_t nSplit = 0;
    {
        // After the first block.
        StreamBlock::Parser probe;
        const uint8_t *p = clean.data();
        size_t n = clean.size();
        View v;
        ASSERT_TRUE(probe.Next(p, n, v));
        nSplit = v.nBlockSize;
    }
    stream.insert(stream.end(), clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(nSplit));
    stream.insert(stream.end(), notAnAu.begin(), notAnAu.end());
    stream.insert(stream.end(), clean.begin() + static_cast<std::ptrdiff_t>(nSplit), clean.end());
    stream.insert(stream.end(), {0, 0, 1});
    for (const std::vector<size_t> &sizes : std::vector<std::vector<size_t>>{{stream.size()}, {1}, {5}, {33}}) {
        StreamBlock::Parser parser;
        const std::vector<Parsed> got = ParseInChunks(stream, sizes, parser);
        EXPECT_TRUE(got == expected) << "chunk " << sizes[0] << ": " << got.size() << " blocks";
        EXPECT_EQ(parser.SkippedBytes(), 8u + badLength.size() + notAnAu.size()) << "chunk " << sizes[0];
        EXPECT_EQ(parser.PendingBytes(), 3u) << "a possible sync at the end is kept";
    }
}

TEST(StreamBlock, CutBlockWaitsForItsRest)
{
    std::vector<uint8_t> stream;
    const std::vector<uint8_t> au = AccessUnit(5000, 1);
    StreamBlock::AppendVideo(stream, true, StreamBlock::kCodecH264, 25, 10, 20, au.data(), au.size());
    StreamBlock::Parser parser;
    size_t nBlocks = parser.Feed(stream.data(), 4000, [](const View &) {});
    EXPECT_EQ(nBlocks, 0u);
    EXPECT_EQ(parser.PendingBytes(), 4000u);
    nBlocks = parser.Feed(stream.data() + 4000, stream.size() - 4000, [&](const View &v) {
        EXPECT_TRUE(v.IsKeyFrame());
        EXPECT_EQ(v.nPayload, au.size());
        EXPECT_EQ(v.nSeconds, 10u);
        EXPECT_EQ(v.nMilliseconds, 20u);
        EXPECT_EQ(v.nFrameRate, 25u);
    });
    EXPECT_EQ(nBlocks, 1u);
    EXPECT_EQ(parser.PendingBytes(), 0u);

    // A reset forgets a kept part.
    parser.Feed(stream.data(), 100, [](const View &) {});
    parser.Reset();
    EXPECT_EQ(parser.PendingBytes(), 0u);
}

TEST(StreamBlock, LengthAboveTheLimitIsGarbage)
{
    std::vector<uint8_t> stream;
    const std::vector<uint8_t> au = AccessUnit(2000, 3);
    StreamBlock::AppendVideo(stream, true, StreamBlock::kCodecH264, 25, 1, 0, au.data(), au.size());
    StreamBlock::Parser strict(1000);
    EXPECT_EQ(strict.Feed(stream.data(), stream.size(), [](const View &) {}), 0u);
    StreamBlock::Parser loose(2000);
    EXPECT_EQ(loose.Feed(stream.data(), stream.size(), [](const View &) {}), 1u);
}
