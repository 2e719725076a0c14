// The recovery of what a killed run recorded, on folders laid out as the recorder leaves them: joined data cut
// back to what its manifest says is whole, segments joined in their running order and each once, data without a
// manifest, a whole file never replaced, data that cannot become a file kept beside its name, a full disk leaving
// everything for the next start, and what belongs to no recording removed.

#include "device/CRecordManifest.h"
#include "device/CRecordRecovery.h"
#include "device/CRecordWorker.h"
#include "platform/stream_block.h"
#include "tests/support/RecordFixture.h"
#include "tests/support/ScratchMount.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using RecordTest::MediaReport;

constexpr int kFrameRate = 15;

class RecordRecoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // A key frame a second, as the device sends them.
        m_loop = RecordTest::EncodedLoop(StreamBlock::kCodecH264, 320, 180, kFrameRate, 3 * kFrameRate, false);
        ASSERT_TRUE(m_loop);
        ASSERT_TRUE(QDir().mkpath(Dead()));
        ASSERT_TRUE(QDir().mkpath(Records()));
    }

    QString Dead() const { return m_dir.filePath("app/Temp1/Recover-x"); }
    QString Records() const { return m_dir.filePath("records"); }
    QString InDead(const QString &strName) const { return Dead() + "/" + strName; }

    // Seconds nFrom to nFrom + nSeconds of the loop as raw H.264, appended to the file (a segment is a second).
    void WriteSeconds(const QString &strPath, int nFrom, int nSeconds) const
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::Append));
        for (int i = nFrom * kFrameRate; i < (nFrom + nSeconds) * kFrameRate; ++i) {
            const std::vector<uint8_t> &data = m_loop->frames[static_cast<size_t>(i) % m_loop->frames.size()].data;
            file.write(reinterpret_cast<const char *>(data.data()), static_cast<qint64>(data.size()));
        }
    }

    CRecordManifest Manifest(const QString &strMp4) const
    {
        CRecordManifest manifest;
        manifest.strMp4Path = strMp4;
        manifest.nPort = 2;
        manifest.nRoute = CRecordWorker::RouteH264;
        manifest.nFrameRate = kFrameRate;
        return manifest;
    }

    void Recover(const QString &strFallback = QString())
    {
        CRecordRecovery::RecoverFolder(Dead(), m_dir.filePath("app"), [&] { return strFallback; });
    }

    // The pictures of a whole file, decoded from its first key frame on; -1 when it is not one.
    static int WholePictures(const QString &strPath)
    {
        const MediaReport report = RecordTest::Probe(strPath);
        EXPECT_TRUE(report.bOpened) << strPath.toStdString();
        EXPECT_TRUE(report.bFirstIsKey) << RecordTest::Describe(report);
        EXPECT_EQ(report.nDecodeErrors, 0) << RecordTest::Describe(report);
        if (!report.bOpened || report.nPictures != report.nVideoPackets)
            return -1;
        return report.nPictures;
    }

    QTemporaryDir m_dir;
    std::shared_ptr<const VideoLoop> m_loop;
};

} // namespace

// The joined file holds two seconds and a cut-short append past them; of the port's three segments the first was
// joined already (the kill came before its removal). The file is the two seconds and the two segments left.
TEST_F(RecordRecoveryTest, JoinedDataIsCutBackAndEachSegmentJoinedOnceInOrder)
{
    const QString strMp4 = Records() + "/03_20240115_100000.mp4";
    WriteSeconds(InDead("03_20240115_100000.h264"), 0, 2);
    CRecordManifest manifest = Manifest(strMp4);
    manifest.nBytes = QFileInfo(InDead("03_20240115_100000.h264")).size();
    manifest.nJoined = 9;
    WriteSeconds(InDead("03_20240115_100000.h264"), 2, 1);  // past what the manifest holds whole
    ASSERT_TRUE(manifest.Write(InDead("03_20240115_100000.rec")));
    // Numbers out of the clock's order: the running number decides.
    WriteSeconds(InDead("3_20240115_100001_000009.h264"), 1, 1);
    WriteSeconds(InDead("3_20240115_100003_000011.h264"), 2, 1);
    WriteSeconds(InDead("3_20240115_100002_000010.h264"), 0, 1);
    QFile placeholder(strMp4);
    ASSERT_TRUE(placeholder.open(QIODevice::WriteOnly));
    placeholder.close();

    Recover();
    EXPECT_EQ(WholePictures(strMp4), 4 * kFrameRate);
    const MediaReport report = RecordTest::Probe(strMp4);
    EXPECT_NEAR(report.dVideoDuration, 4.0, 0.1) << RecordTest::Describe(report);
    EXPECT_FALSE(QFileInfo::exists(Dead()));
}

// Segments and joined data whose manifests are lost become files of their own in the record folder, named by the
// first segment and by the joined data.
TEST_F(RecordRecoveryTest, DataWithoutAManifestGoesToTheRecordFolder)
{
    WriteSeconds(InDead("5_20240115_101500_000001.h264"), 0, 1);
    WriteSeconds(InDead("5_20240115_101501_000002.h264"), 1, 1);
    WriteSeconds(InDead("07_20240115_090000.h264"), 0, 2);
    Recover(Records());
    EXPECT_EQ(WholePictures(Records() + "/05_20240115_101500.mp4"), 2 * kFrameRate);
    EXPECT_EQ(WholePictures(Records() + "/07_20240115_090000.mp4"), 2 * kFrameRate);
    EXPECT_FALSE(QFileInfo::exists(Dead()));
}

// A whole file at the manifest's name (the kill came after it was written) is never replaced: the data becomes a
// file beside it. Data that cannot become a file is kept beside the name as it is. What belongs to no recording
// goes.
TEST_F(RecordRecoveryTest, AWholeFileStaysAndUnreadableDataIsKeptBesideItsName)
{
    const QString strWhole = Records() + "/01_20240115_100000.mp4";
    ASSERT_TRUE(PavlineTest::WriteMp4(strWhole.toStdString(), *m_loop, kFrameRate, false));
    const qint64 nWholeSize = QFileInfo(strWhole).size();
    WriteSeconds(InDead("01_20240115_100000.h264"), 0, 2);
    ASSERT_TRUE(Manifest(strWhole).Write(InDead("01_20240115_100000.rec")));

    const QString strGarbage = Records() + "/02_20240115_100000.mp4";
    QFile garbage(InDead("02_20240115_100000.h264"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    ASSERT_TRUE(Manifest(strGarbage).Write(InDead("02_20240115_100000.rec")));

    for (const char *pStray : {"09_20240115_100000.pcm", "4_20240115_100000_000001.g711", "x.rec.new"}) {
        QFile stray(InDead(pStray));
        ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
        stray.write("stray");
    }

    Recover();
    EXPECT_EQ(QFileInfo(strWhole).size(), nWholeSize);
    EXPECT_EQ(WholePictures(Records() + "/01_20240115_100000_1.mp4"), 2 * kFrameRate);
    EXPECT_FALSE(QFileInfo::exists(strGarbage));
    QFile kept(Records() + "/02_20240115_100000.h264");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray(4096, 'x'));
    EXPECT_FALSE(QFileInfo::exists(Dead()));
}

// A record folder without room: nothing is lost and no broken file is left; everything waits where it is, and
// the next recovery, with room again, makes the file.
TEST_F(RecordRecoveryTest, AFullDiskKeepsEverythingForTheNextStart)
{
    ScratchMount disk(2 * 1024 * 1024);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why().toStdString();
    const QString strMp4 = disk.Path() + "/03_20240115_100000.mp4";
    WriteSeconds(InDead("03_20240115_100000.h264"), 0, 2);
    ASSERT_TRUE(Manifest(strMp4).Write(InDead("03_20240115_100000.rec")));
    WriteSeconds(InDead("3_20240115_100002_000001.h264"), 2, 1);
    ASSERT_TRUE(disk.Fill());

    Recover();
    EXPECT_TRUE(QDir(disk.Path()).entryList({"03_*"}, QDir::Files).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(InDead("03_20240115_100000.rec")));
    EXPECT_TRUE(QFileInfo::exists(InDead("03_20240115_100000.h264")));

    disk.Unfill();
    Recover();
    EXPECT_EQ(WholePictures(strMp4), 3 * kFrameRate);
    EXPECT_FALSE(QFileInfo::exists(Dead()));
}
