// The tables and arithmetic of the playback and download requests: speed steps, pane status codes, download
// progress, the names of downloaded files and their AVI targets.

#include "requests/CPluginManage.h"
#include "runtime/FixedText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(PlaybackTables, SpeedStepsGoUpFourLevelsThenBackToNormal)
{
    struct Case
    {
        int nState;
        int nSlower;
        int nFaster;
    };
    const Case cases[] = {
        {0, 16, 32}, {16, 17, 32}, {17, 18, 32}, {18, 19, 32}, {19, 0, 32},
        {32, 16, 33}, {33, 16, 34}, {34, 16, 35}, {35, 16, 0},
        {2, 16, 32}, {1, 16, 32}, {48, 16, 32}, {-1, 16, 32}, {20, 16, 32}, {36, 16, 32},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CPluginManage::NextSpeedState(c.nState, 16), c.nSlower) << c.nState;
        EXPECT_EQ(CPluginManage::NextSpeedState(c.nState, 32), c.nFaster) << c.nState;
    }
}

TEST(PlaybackTables, PaneStatusOfEachState)
{
    const std::pair<int, int> cases[] = {
        {0, 2}, {2, 4}, {16, 5}, {19, 5}, {32, 6}, {35, 6}, {48, 7}, {49, 8},
        {1, 0}, {-1, 0}, {20, 0}, {36, 0}, {15, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CPluginManage::PaneStatusOfState(1, c.first), c.second) << c.first;
    // No pane: playing, whatever the state.
    EXPECT_EQ(CPluginManage::PaneStatusOfState(-1, 35), 2);
}

TEST(PlaybackTables, DownloadProgressInThousandths)
{
    struct Case
    {
        int nTotal;
        int nDone;
        int nPos;
    };
    const Case cases[] = {
        {1024, 512, 500}, {1024, -1, 1000}, {3, 1, 333}, {3, 3, 1000}, {1024, 0, 0},
        // Large files do not overflow.
        {2000000000, 1999999999, 999},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CPluginManage::DownloadPosPerMille(c.nTotal, c.nDone), c.nPos) << c.nTotal << " " << c.nDone;
}

namespace {

DownloadFileEntry Entry(int nChannel, const char *pName, const char *pBegin, const char *pEnd)
{
    DownloadFileEntry entry{};
    entry.Channel = nChannel;
    FixedText::Copy(entry.FileName, QString(pName));
    FixedText::Copy(entry.BeginTime, QString(pBegin));
    FixedText::Copy(entry.EndTime, QString(pEnd));
    return entry;
}

} // namespace

TEST(PlaybackTables, DownloadFileNames)
{
    struct Case
    {
        int nChannel;
        const char *pName;
        const char *pBegin;
        const char *pEnd;
        bool bForAvi;
        const char *pFile;
    };
    const Case cases[] = {
        {0, "rec.h264", "2021-03-04 05:06:07", "2021-03-04 08:09:10", false, "01_2021-03-04_050607_080910.h265x"},
        {0, "rec.h264", "2021-03-04 05:06:07", "2021-03-04 08:09:10", true, "01_2021-03-04_050607_080910_for_avi.h265x"},
        {0, "/a/pic.jpg", "2021-03-04 05:06:07", "2021-03-04 08:09:10", false, "01_2021-03-04_050607_080910.jpg"},
        {0, "pic.jpg.x", "2021-03-04 05:06:07", "2021-03-04 08:09:10", true, "01_2021-03-04_050607_080910_for_avi.jpg"},
        {15, "rec", "2021-03-04 05:06:07", "2021-03-04 08:09:10", false, "16_2021-03-04_050607_080910.h265x"},
        // Nothing of the times leads out of the folder.
        {0, "rec", "2021/../../x 1", "../../y", false, "01_2021_.._.._x_1_.._.._y.h265x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CPluginManage::DownloadFileName("/d/Download", Entry(c.nChannel, c.pName, c.pBegin, c.pEnd), c.bForAvi),
                  QString("/d/Download/") + c.pFile)
            << c.pFile;
}

TEST(PlaybackTables, OnlyMarkedRecordDownloadsHaveAnAviTarget)
{
    EXPECT_EQ(CPluginManage::ConvertTargetName("/d/01_a_b_for_avi.h265x"), "/d/01_a_b.avi");
    EXPECT_EQ(CPluginManage::ConvertTargetName("/d/01_a_b_for_avi.jpg"), "");
    EXPECT_EQ(CPluginManage::ConvertTargetName("/d/01_a_b.h265x"), "");
    EXPECT_EQ(CPluginManage::ConvertTargetName("/d/01_for_avi.h265x_b_for_avi.h265x"), "/d/01_for_avi.h265x_b.avi");
    EXPECT_EQ(CPluginManage::ConvertTargetName(""), "");
}

TEST(PlaybackTables, APartialDownloadIsNamedSoAndNeverConverted)
{
    struct Case
    {
        const char *pFile;
        const char *pPartial;
    };
    const Case cases[] = {
        {"/d/01_a_b.h265x", "/d/01_a_b_partial.h265x"},
        {"/d/01_a_b_for_avi.h265x", "/d/01_a_b_for_avi_partial.h265x"},
        {"/d/v1.2/temp.jpg", "/d/v1.2/temp_partial.jpg"},
        {"/d/rec", "/d/rec_partial"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CPluginManage::PartialDownloadName(c.pFile), c.pPartial) << c.pFile;
        EXPECT_EQ(CPluginManage::ConvertTargetName(CPluginManage::PartialDownloadName(c.pFile)), "") << c.pFile;
    }
}

// The libraries' threads read a pane's or the download's record while the request thread writes it (a thread
// sanitizer build tells a plain field from an atomic one).
TEST(PlaybackTables, UserRecordIsReadWhileItIsWritten)
{
    PlayUserRecord record{-1, 2, 0, 1};
    std::atomic<bool> bDone{false};
    std::atomic<int> nReads{0};
    std::atomic<int> nLastSum{0};
    std::thread reader([&] {
        while (!bDone) {
            nLastSum = record.Channel + record.Pane + record.State + record.Kind;
            ++nReads;
        }
    });
    while (nReads == 0)
        std::this_thread::yield();
    for (int i = 0; i < 10000; ++i) {
        record.Channel = i % 64;
        record.State = i % 50;
        record.Kind = i % 3;
    }
    record = PlayUserRecord{-1, 2, 1, 0};
    bDone = true;
    reader.join();
    EXPECT_GT(nReads.load(), 0);
    EXPECT_EQ(record.Channel, -1);
    EXPECT_EQ(record.State, 1);
}
