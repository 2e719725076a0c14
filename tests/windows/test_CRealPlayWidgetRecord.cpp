// The live page's recordings in each OEM mode and its snapshots: the names it gives, and files that libavformat
// (or the block reader) and QImage read back as what the stream carried.

#include "platform/stream_block.h"
#include "runtime/CDataCenter.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/windows/GridTestSupport.h"
#include "tests/windows/LivePageSupport.h"
#include "windows/CRealPlayWidget.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>

#include <chrono>
#include <string>
#include <vector>

namespace {

using LiveRecordTest = LivePageFixture;

// What a recorded file holds: its video codec and how long it lasts, in seconds.
struct Recorded
{
    bool bRead = false;
    std::string strCodec;
    double dSeconds = 0;
};

Recorded ReadMedia(const QString &strPath)
{
    Recorded r;
    AVFormatContext *pFormat = nullptr;
    if (avformat_open_input(&pFormat, QFile::encodeName(strPath).constData(), nullptr, nullptr) < 0)
        return r;
    if (avformat_find_stream_info(pFormat, nullptr) >= 0) {
        const int nVideo = av_find_best_stream(pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (nVideo >= 0) {
            r.bRead = true;
            r.strCodec = avcodec_get_name(pFormat->streams[nVideo]->codecpar->codec_id);
            r.dSeconds = pFormat->duration > 0 ? static_cast<double>(pFormat->duration) / AV_TIME_BASE : 0.0;
        }
    }
    avformat_close_input(&pFormat);
    return r;
}

// A file of stream blocks: the codec bits of its video and the span of its time stamps plus one frame.
Recorded ReadBlocks(const QString &strPath)
{
    Recorded r;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return r;
    const QByteArray bytes = file.readAll();
    StreamBlock::Parser parser;
    double dFirst = -1, dLast = -1;
    int nRate = 0;
    parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()),
                [&](const StreamBlock::View &v) {
                    if (!v.IsVideo())
                        return;
                    const double dAt = v.nSeconds + v.nMilliseconds / 1000.0;
                    if (dFirst < 0)
                        dFirst = dAt;
                    dLast = dAt;
                    nRate = v.nFrameRate;
                    r.strCodec = v.nCodec == StreamBlock::kCodecH264 ? "h264" : v.nCodec == StreamBlock::kCodecH265 ? "hevc" : "?";
                });
    if (dFirst >= 0 && nRate > 0) {
        r.bRead = true;
        r.dSeconds = dLast - dFirst + 1.0 / nRate;
    }
    return r;
}

// The one file of the folder matching the pattern, or "".
QString OnlyFile(const QString &strFolder, const QString &strPattern)
{
    const QStringList files = QDir(strFolder).entryList(QStringList{strPattern}, QDir::Files);
    return files.size() == 1 ? strFolder + "/" + files[0] : QString();
}

TEST_F(LiveRecordTest, EachOemModeRecordsUnderItsNamesIntoReadableFiles)
{
    struct Case
    {
        const char *pName;
        int nOemMode;
        int nRecordType;
        int nCodecEntry;            // the channel's entry of the sub stream's row of the codec table
        int nChannel;
        const char *pRequested;     // the extension of the name the page gives
        const char *pWritten;       // the extension of the file on disk
    };
    const Case cases[] = {
        {"mode 0, record type 0", 0, 0, 0, 0, "h265x", "h265x"},
        {"mode 0, record type 2", 0, 2, 0, 4, "avi", "avi"},
        {"mode 1, H.264 in the table", 1, 0, 1, 0, "h264", "mp4"},
        {"mode 1, another entry", 1, 2, 0, 4, "h265", "mp4"},
        {"mode 2, H.264 in the table", 2, 0, 1, 9, "h264", "mp4"},
    };
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        QDir(RecordDir()).removeRecursively();
        // The channel reads the mode when it is made.
        SetOemMode(c.nOemMode);
        ChannelCodecTable codecs = {};
        codecs[1][c.nChannel] = c.nCodecEntry;
        CDataCenter::GetInstance()->SetChannelCodec(codecs);
        SetClientCfg(c.nRecordType, 0);
        CRealPlayWidget page;
        LiveTest::PageStreams streams(&page, lLogin);
        ASSERT_EQ(page.PreviewPlay(1, c.nChannel, 0), 0);
        ASSERT_TRUE(streams.Start(c.nChannel, 1));
        LiveTest::ChannelFeed &feed = streams.Feed(c.nChannel);
        ASSERT_TRUE(WaitUntil([&] { return feed.nVideo.load() >= 5; }, 10000));

        LogCapture log;
        bool bRecording = false;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(page.Record(c.nChannel, true, bRecording), 0);
        EXPECT_TRUE(bRecording);
        EXPECT_TRUE(page.IsRecording(c.nChannel));
        const int nVideo = feed.nVideo.load();
        ASSERT_TRUE(WaitUntil([&] { return feed.nVideo.load() >= nVideo + 30; }, 20000));
        ASSERT_EQ(page.Record(c.nChannel, false, bRecording), 0);
        const double dRecorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(bRecording);
        EXPECT_FALSE(page.IsRecording(c.nChannel));
        streams.StopAll();

        // The name: the record folder, the channel from 1 in two digits, the local time, the extension.
        const QString strPattern = QRegularExpression::escape(RecordDir()) +
                                   QString("/%1_\\d{8}_\\d{6}\\.%2$").arg(c.nChannel + 1, 2, 10, QChar('0')).arg(c.pRequested);
        QString strName;
        for (const QString &strLine : log.Lines()) {
            const QRegularExpressionMatch m = QRegularExpression("\\[CRealPlayWidget::Record\\] \\[[^\\]]*\\] (.*)$").match(strLine);
            if (m.hasMatch() && QRegularExpression(strPattern).match(m.captured(1)).hasMatch())
                strName = m.captured(1);
        }
        ASSERT_FALSE(strName.isEmpty()) << log.Lines().join("\n").toStdString();
        EXPECT_TRUE(log.Contains(QString("nChannel :%1,bRecord :1").arg(c.nChannel)));

        QString strFile = strName;
        if (QString(c.pWritten) == "mp4")
            strFile = strName.left(strName.lastIndexOf(".h26")) + ".mp4";
        // The H.264 route finishes on the channel's worker after the stop.
        EXPECT_TRUE(WaitUntil([&] { return QFile::exists(strFile) && !QDir(TempFolder()).exists(); }, 30000))
            << strFile.toStdString() << " " << QFile::exists(strFile) << " "
            << QDir(RecordDir()).entryList(QDir::Files).join(",").toStdString();
        const Recorded r = QString(c.pWritten) == "h265x" ? ReadBlocks(strFile) : ReadMedia(strFile);
        ASSERT_TRUE(r.bRead) << strFile.toStdString();
        EXPECT_EQ(r.strCodec, "h264");
        EXPECT_NEAR(r.dSeconds, dRecorded, 1.0);
        EXPECT_EQ(QDir(RecordDir()).entryList(QDir::Files).size(), 1);
        page.PreviewStop(c.nChannel);
    }
}

TEST_F(LiveRecordTest, ARecordTypeWithoutAFileNameIsRefused)
{
    SetClientCfg(5, 0);
    CRealPlayWidget page;
    ASSERT_EQ(page.PreviewPlay(1, 2, 0), 0);
    PavlineControl::ClearJournal();
    LogCapture log;
    bool bRecording = true;
    EXPECT_EQ(page.Record(2, true, bRecording), -2);
    EXPECT_FALSE(bRecording);
    EXPECT_FALSE(page.IsRecording(2));
    EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_StartDataRecord").empty());
    EXPECT_TRUE(log.Contains("record type 5 has no file name"));
    EXPECT_TRUE(log.Contains("nChannel :2,bRecord :0"));
}

TEST_F(LiveRecordTest, SnapshotsAreBitmapsOrJpegsOfTheStreamAndTheConfigurationOneAlwaysABitmap)
{
    const int lLogin = Login();
    ASSERT_GT(lLogin, 0);
    CRealPlayWidget page;
    LiveTest::PageStreams streams(&page, lLogin);
    ASSERT_EQ(page.PreviewPlay(1, 1, 0), 0);
    ASSERT_TRUE(streams.Start(1, 1));
    ASSERT_TRUE(PavlineControl::WaitForShown(1, 3, 20000));

    struct Case
    {
        int nImageType;
        bool bConfig;
        const char *pFormat;
    };
    const Case cases[] = {{0, false, "bmp"}, {1, false, "jpeg"}, {1, true, "bmp"}, {0, true, "bmp"}};
    LogCapture log;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.nImageType) + (c.bConfig ? " configuration" : ""));
        QDir(CaptureDir()).removeRecursively();
        QFile::remove(AppDir() + "/Cfg/capture.bmp");
        SetClientCfg(0, c.nImageType);
        ASSERT_EQ(page.Snapshot(1, c.bConfig), 0);
        const QString strFile = c.bConfig ? AppDir() + "/Cfg/capture.bmp"
                                          : OnlyFile(CaptureDir(), c.nImageType ? "02_*.jpg" : "02_*.bmp");
        ASSERT_FALSE(strFile.isEmpty());
        if (!c.bConfig) {
            EXPECT_TRUE(QRegularExpression("/02_\\d{8}_\\d{6}\\.(bmp|jpg)$").match(strFile).hasMatch())
                << strFile.toStdString();
        }
        QImageReader reader(strFile);
        EXPECT_EQ(reader.format().toStdString(), c.pFormat);
        const QImage picture = reader.read();
        ASSERT_FALSE(picture.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(picture.size(), QSize(LiveTest::kSubWidth, LiveTest::kSubHeight));
        EXPECT_EQ(GridTest::ChannelShown(picture, 16), 1);
    }
    // The live page reads the configuration without the plug-in window's log lines.
    EXPECT_FALSE(log.Contains("LoadLocalInfo begin"));
    streams.StopAll();
    // A channel that shows nothing has no picture to take.
    EXPECT_EQ(page.Snapshot(9, false), -2);
}

} // namespace
