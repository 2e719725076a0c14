// The pre-roll cache of a live channel: the blocks since the last key frame, in order, with their records; a
// group of pictures beyond the bound is not kept.

#include "device/CPreRollCache.h"
#include "platform/stream_block.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Block
{
    std::vector<uint8_t> data;
    RealDataFrame frame{};
};

Block Video(bool bKey, size_t nPayload, uint8_t nFill)
{
    Block b;
    const std::vector<uint8_t> payload(nPayload, nFill);
    StreamBlock::AppendVideo(b.data, bKey, StreamBlock::kCodecH264, 25, 1705312800, 0, payload.data(), payload.size());
    b.frame.nKind = ZDK_FRAME_VIDEO;
    b.frame.nKeyFrame = bKey ? 1 : 0;
    b.frame.nWidth = 640;
    return b;
}

Block Sound(uint8_t nFill)
{
    Block b;
    const std::vector<uint8_t> payload(320, nFill);
    StreamBlock::AppendAudio(b.data, StreamBlock::kAudioALaw, StreamBlock::kRate8000, payload.data(), payload.size());
    b.frame.nKind = ZDK_FRAME_AUDIO;
    b.frame.nSampleRate = 8000;
    return b;
}

std::vector<std::vector<uint8_t>> Kept(const CPreRollCache &cache)
{
    std::vector<std::vector<uint8_t>> kept;
    cache.ForEach([&](const uint8_t *pData, uint32_t nLength, const RealDataFrame &frame) {
        EXPECT_EQ(frame.pData, pData);
        EXPECT_EQ(frame.nDataLength, nLength);
        kept.emplace_back(pData, pData + nLength);
    });
    return kept;
}

void Add(CPreRollCache &cache, const Block &b)
{
    cache.Add(b.data.data(), static_cast<uint32_t>(b.data.size()), b.frame);
}

TEST(RecordPreRollCache, KeepsTheBlocksSinceTheLastKeyFrameInOrder)
{
    CPreRollCache cache;
    // Nothing before the first key frame: it could not be decoded.
    Add(cache, Video(false, 100, 1));
    Add(cache, Sound(2));
    EXPECT_EQ(cache.Blocks(), 0u);
    const std::vector<Block> group = {Video(true, 500, 3), Sound(4), Video(false, 100, 5), Sound(6)};
    for (const Block &b : group)
        Add(cache, b);
    std::vector<std::vector<uint8_t>> kept = Kept(cache);
    ASSERT_EQ(kept.size(), group.size());
    for (size_t i = 0; i < group.size(); ++i)
        EXPECT_EQ(kept[i], group[i].data) << "block " << i;
    // The records come back with the blocks.
    int nKeys = 0;
    cache.ForEach([&](const uint8_t *, uint32_t, const RealDataFrame &frame) { nKeys += frame.nKeyFrame; });
    EXPECT_EQ(nKeys, 1);
    // The next key frame begins it anew.
    const Block next = Video(true, 400, 7);
    Add(cache, next);
    kept = Kept(cache);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], next.data);
    cache.Clear();
    EXPECT_EQ(cache.Blocks(), 0u);
    EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(RecordPreRollCache, AGroupBeyondTheBoundIsNotKept)
{
    CPreRollCache cache;
    const size_t nBig = CPreRollCache::kMaxBytes / 4;
    Add(cache, Video(true, nBig, 1));
    for (int i = 0; i < 3; ++i)
        Add(cache, Video(false, nBig - 64, 2));
    EXPECT_EQ(cache.Blocks(), 4u);
    EXPECT_LE(cache.Bytes(), CPreRollCache::kMaxBytes);
    // One more does not fit: the group goes, and nothing is kept until the next key frame.
    Add(cache, Video(false, nBig, 3));
    EXPECT_EQ(cache.Blocks(), 0u);
    Add(cache, Video(false, 100, 4));
    Add(cache, Sound(5));
    EXPECT_EQ(cache.Blocks(), 0u);
    Add(cache, Video(true, 100, 6));
    EXPECT_EQ(cache.Blocks(), 1u);
}

} // namespace
