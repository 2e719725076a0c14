// Downloads through the program's socket: spans of the simulated device's recordings into the download folder,
// their names, the conversion to AVI once a list is down, pictures shown behind the playback page, and stops.

#include "platform/AvPointers.h"
#include "platform/stream_block.h"
#include "tests/e2e/PlaybackFixture.h"
#include "tests/support/ScratchMount.h"
#include "tests/support/WaitUntil.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace PlaybackE2e;

namespace {

const char *const kSpanBegin = "2021-03-04 05:06:07";

std::string Text(const HostMessage &message) { return message.text.toStdString(); }

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether libavformat opens the file and finds a video stream in it.
bool OpensAsVideo(const QString &strPath)
{
    AVFormatContext *pContext = nullptr;
    if (avformat_open_input(&pContext, strPath.toLocal8Bit().constData(), nullptr, nullptr) != 0)
        return false;
    const bool bVideo = avformat_find_stream_info(pContext, nullptr) >= 0 &&
                        av_find_best_stream(pContext, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) >= 0;
    avformat_close_input(&pContext);
    return bVideo;
}

// A record file of channel 0 (named "01_...") for nSeconds from the begin text.
DownloadEntry Span(const char *pBegin, int nSeconds, const char *pName = "/idea0/rec.h264")
{
    return {pName, pBegin, TimeAfter(pBegin, nSeconds)};
}

// The file the program names for a span of channel 0.
QString SpanName(const DownloadEntry &entry, const char *pTail)
{
    QString strBegin = QString::fromStdString(entry.strBegin);
    strBegin.remove(':').replace(' ', '_');
    const QString strEnd = QString::fromStdString(entry.strEnd).right(8).remove(':');
    return "01_" + strBegin + "_" + strEnd + pTail;
}

class DownloadTest : public PlaybackTest
{
protected:
    // The client configuration written through the program, with the record type and download folder asked for.
    bool SetRecordType(int nRecordType, const QString &strDownPath = QString())
    {
        Json::Value request = HostedPlugin::NewRequest(18, 50, "cfg");
        request["RecPath"] = QDir(m_plugin.App().Path()).filePath("Device/Record").toStdString();
        request["CapPath"] = QDir(m_plugin.App().Path()).filePath("Device/Capture").toStdString();
        request["DownPath"] = (strDownPath.isEmpty() ? Folder() : strDownPath).toStdString();
        request["RecordType"] = nRecordType;
        request["ImageType"] = 0;
        request["VideoType"] = 0;
        const HostMessage reply = m_plugin.Request(request);
        return reply && reply["Ret"].asInt() == 100;
    }

    QString Folder() { return QDir::toNativeSeparators(QDir(m_plugin.App().Path()).filePath("Device/Download")); }
    QString FilePath(const QString &strName) { return QDir(Folder()).filePath(strName); }

    // The "Pos" of every download-position event after the message index up to the done event, which must come.
    std::vector<int> PositionsUntilDone(int nAfter)
    {
        const HostMessage done = WaitAfter(nAfter, [](const HostMessage &m) { return IsEvent(m, 1, 5); });
        EXPECT_TRUE(done);
        std::vector<int> positions;
        const QList<HostMessage> messages = m_plugin.Messages();
        for (int i = nAfter + 1; i < messages.size(); ++i) {
            if (IsEvent(messages[i], 1, 5)) {
                EXPECT_EQ(Text(messages[i]),
                          "{\"Data\":{\"DownPath\":\"" + Folder().toStdString() + "\"},\"MainEvent\":1,\"SubEvent\":5}\n");
                break;
            }
            if (IsEvent(messages[i], 1, 4))
                positions.push_back(messages[i]["Data"]["Pos"].asInt());
        }
        return positions;
    }

    std::string StartedReply(const char *pMsgId, const QString &strFolder = QString())
    {
        return Reply5(39, pMsgId, 100, "\"DownPath\":\"" + (strFolder.isEmpty() ? Folder() : strFolder).toStdString() + "\",");
    }

    // The download-done events after the message index, as texts.
    std::vector<std::string> DoneEvents(int nAfter)
    {
        std::vector<std::string> done;
        const QList<HostMessage> messages = m_plugin.Messages();
        for (int i = nAfter + 1; i < messages.size(); ++i)
            if (IsEvent(messages[i], 1, 5))
                done.push_back(Text(messages[i]));
        return done;
    }
};

// The end of a list that did not come down whole.
std::string FailedEvent(const QString &strFolder)
{
    return "{\"Data\":{\"DownPath\":\"" + strFolder.toStdString() + "\"},\"MainEvent\":1,\"Ret\":1016,\"SubEvent\":5}\n";
}

// What a file of stream blocks holds: its video blocks, whether the first is a key frame, and the bytes that are
// no block (between blocks, and a block cut off at the end).
struct BlockCount
{
    size_t nVideo = 0;
    bool bFirstIsKey = false;
    size_t nSkipped = 0;
    size_t nPending = 0;
};

BlockCount CountBlocks(const QByteArray &bytes)
{
    StreamBlock::Parser parser;
    BlockCount count;
    parser.Feed(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()),
                [&](const StreamBlock::View &view) {
                    if (!view.IsVideo())
                        return;
                    if (count.nVideo++ == 0)
                        count.bFirstIsKey = view.IsKeyFrame();
                });
    count.nSkipped = parser.SkippedBytes();
    count.nPending = parser.PendingBytes();
    return count;
}

} // namespace

TEST_F(DownloadTest, ASpanComesDownAsBlocksCoveringIt)
{
    ASSERT_TRUE(Open(4));
    const DownloadEntry entry = Span(kBegin, 4);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {entry}))), StartedReply("d"));
    const std::vector<int> positions = PositionsUntilDone(IndexOfReply("d"));
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 1000);
    EXPECT_GE(positions.front(), 0);

    const QByteArray bytes = ReadAll(FilePath("01_2024-01-15_100000_100004.h265x"));
    ASSERT_FALSE(bytes.isEmpty());
    StreamBlock::Parser parser;
    const uint8_t *pData = reinterpret_cast<const uint8_t *>(bytes.constData());
    size_t nSize = static_cast<size_t>(bytes.size());
    int64_t nFirstMs = -1;
    int64_t nLastMs = -1;
    size_t nVideo = 0;
    bool bFirstIsKey = false;
    parser.Feed(pData, nSize, [&](const StreamBlock::View &view) {
        if (!view.IsVideo())
            return;
        const int64_t nMs = static_cast<int64_t>(view.nSeconds) * 1000 + view.nMilliseconds;
        if (nFirstMs < 0) {
            nFirstMs = nMs;
            bFirstIsKey = view.IsKeyFrame();
        }
        nLastMs = std::max(nLastMs, nMs);
        ++nVideo;
    });
    EXPECT_EQ(parser.SkippedBytes(), 0u);
    EXPECT_EQ(parser.PendingBytes(), 0u);
    EXPECT_TRUE(bFirstIsKey);
    EXPECT_EQ(nFirstMs, DeviceSeconds(entry.strBegin) * 1000);
    EXPECT_LT(nLastMs, DeviceSeconds(entry.strEnd) * 1000);
    EXPECT_GE(nLastMs, DeviceSeconds(entry.strEnd) * 1000 - 200);
    EXPECT_EQ(nVideo, 40u) << "4 s at 10 pictures a second";
}

TEST_F(DownloadTest, NamesFollowTheRecordTypeAndTheFileKind)
{
    struct Case
    {
        int nRecordType;
        int nFileType;
        const char *pFileName;
        const char *pTail;      // the file the folder holds at the end
        const char *pGone;      // a file it no longer holds
    };
    const Case cases[] = {
        {1, 0, "/idea0/rec.h264", ".h265x", nullptr},
        {2, 1, "/idea0/rec.h264", ".h265x", nullptr},
        {2, 0, "/idea0/rec.h264", ".avi", "_for_avi.h265x"},
        {0, 0, "/idea0/pic.jpg", ".jpg", nullptr},
    };
    ASSERT_TRUE(Open(4));
    int nSeconds = 3;
    for (const Case &c : cases) {
        // Each case its own span, so that its names are its own.
        const DownloadEntry entry = Span(kSpanBegin, nSeconds++, c.pFileName);
        const std::string strId = "n" + std::to_string(nSeconds);
        ASSERT_TRUE(SetRecordType(c.nRecordType));
        EXPECT_EQ(Text(m_plugin.Request(Download(strId, 0, {entry}, "", c.nFileType))), StartedReply(strId.c_str()));
        const std::vector<int> positions = PositionsUntilDone(IndexOfReply(strId));
        ASSERT_FALSE(positions.empty()) << c.pTail;
        EXPECT_EQ(positions.back(), 1000);
        EXPECT_TRUE(QFile::exists(FilePath(SpanName(entry, c.pTail)))) << SpanName(entry, c.pTail).toStdString();
        if (c.pGone) {
            EXPECT_FALSE(QFile::exists(FilePath(SpanName(entry, c.pGone)))) << c.pGone;
        }
    }
    EXPECT_TRUE(QFile::exists(FilePath("01_2021-03-04_050607_050610.h265x")));
}

TEST_F(DownloadTest, FourFilesAreConvertedOneByOneAfterTheListIsDown)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(SetRecordType(2));
    std::vector<DownloadEntry> entries;
    for (int i = 0; i < 4; ++i)
        entries.push_back(Span(TimeAfter(kSpanBegin, 2 * i).c_str(), 2));
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, entries))), StartedReply("d"));
    const std::vector<int> positions = PositionsUntilDone(IndexOfReply("d"));
    ASSERT_GE(positions.size(), 5u);
    // The last download's end, then one report per conversion.
    EXPECT_EQ(std::vector<int>(positions.end() - 5, positions.end()), (std::vector<int>{1000, 250, 500, 750, 1000}));

    for (const DownloadEntry &entry : entries) {
        const QString strAvi = FilePath(SpanName(entry, ".avi"));
        EXPECT_TRUE(OpensAsVideo(strAvi)) << strAvi.toStdString();
        EXPECT_FALSE(QFile::exists(FilePath(SpanName(entry, "_for_avi.h265x"))));
    }

    // Each source went only once its conversion had ended.
    ASSERT_TRUE(m_plugin.Finish());
    const QByteArray log = m_plugin.App().LogFiles();
    for (const DownloadEntry &entry : entries) {
        const QByteArray source = FilePath(SpanName(entry, "_for_avi.h265x")).toLocal8Bit();
        const int nStart = log.indexOf("srcFileName:" + source);
        ASSERT_GE(nStart, 0) << source.toStdString();
        const int nEnd = log.indexOf("CurrentPos: 100 <--------------------> TotoalPos: 100", nStart);
        const int nDelete = log.indexOf("delete file successful:" + source);
        ASSERT_GE(nEnd, 0) << source.toStdString();
        EXPECT_GT(nDelete, nEnd) << source.toStdString();
    }
}

TEST_F(DownloadTest, WhatCannotBeConvertedStaysAsItIs)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(SetRecordType(2));
    // A recording, a picture in the list, and a recording that will not be a block file when its turn comes.
    const DownloadEntry record = Span(kSpanBegin, 2);
    const DownloadEntry picture = Span(TimeAfter(kSpanBegin, 2).c_str(), 2, "/idea0/pic.jpg");
    const DownloadEntry spoilt = Span(TimeAfter(kSpanBegin, 4).c_str(), 2);
    const DownloadEntry last = Span(TimeAfter(kSpanBegin, 6).c_str(), 8);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {record, picture, spoilt, last}))), StartedReply("d"));
    const int nReply = IndexOfReply("d");
    // The third file is down (its second end report) while the fourth is still coming.
    ASSERT_TRUE(WaitForNth(nReply, 6, [](const HostMessage &m) { return IsEvent(m, 1, 4) && m["Data"]["Pos"] == 1000; }));
    const QString strSpoilt = FilePath(SpanName(spoilt, "_for_avi.h265x"));
    {
        QFile file(strSpoilt);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("no longer a recording");
    }
    const std::vector<int> positions = PositionsUntilDone(nReply);
    ASSERT_GE(positions.size(), 4u);
    EXPECT_EQ(std::vector<int>(positions.end() - 4, positions.end()), (std::vector<int>{250, 500, 750, 1000}));

    EXPECT_TRUE(OpensAsVideo(FilePath(SpanName(record, ".avi"))));
    EXPECT_FALSE(QFile::exists(FilePath(SpanName(record, "_for_avi.h265x"))));
    // The picture is kept, whole, and not converted onto itself.
    EXPECT_TRUE(ReadAll(FilePath(SpanName(picture, "_for_avi.jpg"))).startsWith("\xFF\xD8\xFF"));
    // A failed conversion keeps its source.
    EXPECT_EQ(ReadAll(strSpoilt), QByteArray("no longer a recording"));
    EXPECT_FALSE(QFile::exists(FilePath(SpanName(spoilt, ".avi"))) && OpensAsVideo(FilePath(SpanName(spoilt, ".avi"))));
    EXPECT_TRUE(OpensAsVideo(FilePath(SpanName(last, ".avi"))));
    EXPECT_FALSE(QFile::exists(FilePath(SpanName(last, "_for_avi.h265x"))));
}

TEST_F(DownloadTest, AStopDuringTheConversionsLeavesTheNextListWhole)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(SetRecordType(2));
    const std::vector<DownloadEntry> first = {Span(kSpanBegin, 2), Span(TimeAfter(kSpanBegin, 2).c_str(), 2)};
    EXPECT_EQ(Text(m_plugin.Request(Download("d1", 0, first))), StartedReply("d1"));
    // Once the list is down (two end reports per file) the conversions begin; the stop comes meanwhile.
    ASSERT_TRUE(WaitForNth(IndexOfReply("d1"), 4,
                           [](const HostMessage &m) { return IsEvent(m, 1, 4) && m["Data"]["Pos"] == 1000; }));
    EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 46, "x"))), Reply5(46, "x", 100));
    ASSERT_TRUE(m_plugin.Sync());

    const std::vector<DownloadEntry> second = {Span(TimeAfter(kSpanBegin, 10).c_str(), 2),
                                               Span(TimeAfter(kSpanBegin, 12).c_str(), 2)};
    EXPECT_EQ(Text(m_plugin.Request(Download("d2", 0, second))), StartedReply("d2"));
    const std::vector<int> positions = PositionsUntilDone(IndexOfReply("d2"));
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(std::vector<int>(positions.end() - 2, positions.end()), (std::vector<int>{500, 1000}));
    for (const DownloadEntry &entry : second) {
        EXPECT_TRUE(OpensAsVideo(FilePath(SpanName(entry, ".avi")))) << entry.strBegin;
        EXPECT_FALSE(QFile::exists(FilePath(SpanName(entry, "_for_avi.h265x"))));
    }
}

TEST_F(DownloadTest, PicturesGoToTempJpgWithoutEvents)
{
    ASSERT_TRUE(Open(4));
    const std::vector<DownloadEntry> pictures = {{"/idea0/a.jpg", kBegin, kBegin}, {"/idea0/b.jpg", kBegin, kBegin}};
    EXPECT_EQ(Text(m_plugin.Request(Download("p", 0, pictures, "PicturePlay"))), StartedReply("p"));
    ASSERT_TRUE(m_plugin.WaitForLog("download list end"));
    ASSERT_TRUE(m_plugin.Sync());
    for (const HostMessage &m : m_plugin.Messages()) {
        EXPECT_FALSE(IsEvent(m, 1, 4)) << Text(m);
        EXPECT_FALSE(IsEvent(m, 1, 5)) << Text(m);
    }
    EXPECT_TRUE(ReadAll(FilePath("temp.jpg")).startsWith("\xFF\xD8\xFF"));
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files), QStringList{"temp.jpg"});
    // The stop of playback takes the picture off the page.
    EXPECT_EQ(Text(m_plugin.Request(ForChannel("s", 35, -1))), Reply5(35, "s", 100, "\"Chn\":-1,", "", "\"Wnd\":-1"));
}

TEST_F(DownloadTest, RefusedAndEmptyLists)
{
    ASSERT_TRUE(Open(4));
    EXPECT_EQ(Text(m_plugin.Request(Download("e", 0, {}))), Reply5(39, "e", 1020, "\"DownPath\":\"\","));
    // The device has no channel 10: the first download is refused.
    EXPECT_EQ(Text(m_plugin.Request(Download("r", 9, {Span(kBegin, 2)}))),
              Reply5(39, "r", 1009, "\"DownPath\":\"" + Folder().toStdString() + "\","));
    // A list without a channel has nothing to download.
    EXPECT_EQ(Text(m_plugin.Request(Download("n", -1, {Span(kBegin, 2)}))),
              Reply5(39, "n", 1016, "\"DownPath\":\"" + Folder().toStdString() + "\","));
    EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 46, "x"))), Reply5(46, "x", 100));
    // The next list comes down as usual.
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {Span(kBegin, 2)}))), StartedReply("d"));
    EXPECT_EQ(PositionsUntilDone(IndexOfReply("d")).back(), 1000);
}

TEST_F(DownloadTest, AFolderThatCannotBeMadeRefusesTheList)
{
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(m_plugin.App().WriteFile("blocker", "a file, not a folder"));
    const std::string strFolder = QDir(m_plugin.App().Path()).filePath("blocker/Download").toStdString();
    Json::Value config = HostedPlugin::NewRequest(18, 50, "cfg");
    config["RecPath"] = "";
    config["CapPath"] = "";
    config["DownPath"] = strFolder;
    config["RecordType"] = 0;
    config["ImageType"] = 0;
    config["VideoType"] = 0;
    ASSERT_TRUE(m_plugin.Request(config));
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {Span(kBegin, 2)}))),
              Reply5(39, "d", 1009, "\"DownPath\":\"" + strFolder + "\","));
}

TEST_F(DownloadTest, ALateReportOfTheLastDownloadLeavesTheNextOneRunning)
{
    ASSERT_TRUE(Open(kHoldingChannels));
    const DownloadEntry shortSpan = Span(kSpanBegin, 4);
    const DownloadEntry longSpan = Span(TimeAfter(kSpanBegin, 60).c_str(), 40);
    const QString strLong = FilePath(SpanName(longSpan, ".h265x"));
    // What the device delivers for the long span, downloaded on its own first.
    EXPECT_EQ(Text(m_plugin.Request(Download("ref", 0, {longSpan}))), StartedReply("ref"));
    ASSERT_EQ(PositionsUntilDone(IndexOfReply("ref")).back(), 1000);
    const QByteArray device = ReadAll(strLong);
    ASSERT_FALSE(device.isEmpty());
    ASSERT_TRUE(QFile::remove(strLong));

    // The short one is down while the snapshot of a closed channel holds the request thread, so that its end is
    // still to be handled when the long one has started.
    const int nBefore = m_plugin.Messages().size() - 1;
    m_plugin.Send(Download("d1", 0, {shortSpan}));
    m_plugin.Send(HoldingRequest("slow"));
    m_plugin.Send(Download("d2", 0, {longSpan}));
    EXPECT_EQ(Text(m_plugin.WaitReply("d1")), StartedReply("d1"));
    ASSERT_TRUE(m_plugin.WaitReply("slow"));
    EXPECT_EQ(Text(m_plugin.WaitReply("d2")), StartedReply("d2"));

    // Each download gets its own end, and each file holds what the device sent.
    ASSERT_TRUE(WaitForNth(nBefore, 2, [](const HostMessage &m) { return IsEvent(m, 1, 5); }));
    ASSERT_TRUE(m_plugin.Sync());
    const std::string strDone = "{\"Data\":{\"DownPath\":\"" + Folder().toStdString() + "\"},\"MainEvent\":1,\"SubEvent\":5}\n";
    EXPECT_EQ(DoneEvents(nBefore), (std::vector<std::string>{strDone, strDone}));
    const BlockCount first = CountBlocks(ReadAll(FilePath(SpanName(shortSpan, ".h265x"))));
    EXPECT_EQ(first.nVideo, 40u);
    EXPECT_EQ(first.nSkipped + first.nPending, 0u);
    const QByteArray bytes = ReadAll(strLong);
    EXPECT_EQ(bytes.size(), device.size());
    EXPECT_TRUE(bytes == device);
}

TEST_F(DownloadTest, AListAskedForTwiceEndsTheFirstAsNotComplete)
{
    ASSERT_TRUE(Open(4));
    const DownloadEntry entry = Span(kSpanBegin, 40);
    m_plugin.Send(Download("d1", 0, {entry}));
    m_plugin.Send(Download("d2", 0, {entry}));
    EXPECT_EQ(Text(m_plugin.WaitReply("d1")), StartedReply("d1"));
    const HostMessage second = m_plugin.WaitReply("d2");
    EXPECT_EQ(Text(second), StartedReply("d2"));
    ASSERT_TRUE(WaitForNth(IndexOfReply("d1"), 2, [](const HostMessage &m) { return IsEvent(m, 1, 5); }));
    ASSERT_TRUE(m_plugin.Sync());
    // The first, cut short by the second, is told before the second's reply.
    const std::string strDone = "{\"Data\":{\"DownPath\":\"" + Folder().toStdString() + "\"},\"MainEvent\":1,\"SubEvent\":5}\n";
    EXPECT_EQ(DoneEvents(IndexOfReply("d1")), (std::vector<std::string>{FailedEvent(Folder()), strDone}));
    EXPECT_EQ(DoneEvents(IndexOfReply("d2")), std::vector<std::string>{strDone});
    const BlockCount whole = CountBlocks(ReadAll(FilePath(SpanName(entry, ".h265x"))));
    EXPECT_EQ(whole.nVideo, 400u);
    EXPECT_EQ(whole.nSkipped + whole.nPending, 0u);
}

TEST_F(DownloadTest, AStoppedDownloadIsKeptUnderAPartialName)
{
    ASSERT_TRUE(Open(4));
    const DownloadEntry entry = Span(kSpanBegin, 40);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {entry}))), StartedReply("d"));
    ASSERT_TRUE(WaitAfter(IndexOfReply("d"), [](const HostMessage &m) { return IsEvent(m, 1, 4); }));
    EXPECT_EQ(Text(m_plugin.Request(HostedPlugin::NewRequest(5, 46, "x"))), Reply5(46, "x", 100));
    ASSERT_TRUE(m_plugin.Sync());
    EXPECT_TRUE(DoneEvents(IndexOfReply("d")).empty());
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files), QStringList{SpanName(entry, "_partial.h265x")});
    const BlockCount partial = CountBlocks(ReadAll(FilePath(SpanName(entry, "_partial.h265x"))));
    EXPECT_GT(partial.nVideo, 0u);
    EXPECT_LT(partial.nVideo, 400u);
}

TEST_F(DownloadTest, AFolderGoneBeforeTheNextFileEndsTheListAsAFailure)
{
    ASSERT_TRUE(Open(4));
    const DownloadEntry first = Span(kSpanBegin, 40);
    const DownloadEntry second = Span(TimeAfter(kSpanBegin, 40).c_str(), 2);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {first, second}))), StartedReply("d"));
    const int nReply = IndexOfReply("d");
    // Gone while the first file comes down (into a file still open).
    ASSERT_TRUE(WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 4); }));
    ASSERT_TRUE(QDir(Folder()).removeRecursively());
    const HostMessage done = WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 5); });
    ASSERT_TRUE(done);
    EXPECT_EQ(Text(done), FailedEvent(Folder()));
}

TEST_F(DownloadTest, AHandWrittenFolderWithACommaIsKept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A comma without quotes: QSettings reads the line as a list. The other folders are set, so that nothing
    // else writes the file before the download reads it.
    const QString strFolder = QDir(dir.path()).filePath("Down, 2024");
    ASSERT_TRUE(Open(4, "[Path]\nCapPath=" + QDir(dir.path()).filePath("Capture").toLocal8Bit() +
                            "\nRecPath=" + QDir(dir.path()).filePath("Record").toLocal8Bit() +
                            "\nDownPath=" + strFolder.toLocal8Bit() + "\n"));
    const DownloadEntry entry = Span(kBegin, 2);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {entry}))), StartedReply("d", strFolder));
    const HostMessage done = WaitAfter(IndexOfReply("d"), [](const HostMessage &m) { return IsEvent(m, 1, 5); });
    ASSERT_TRUE(done);
    EXPECT_EQ(done["Data"]["DownPath"].asString(), strFolder.toStdString());
    EXPECT_EQ(CountBlocks(ReadAll(QDir(strFolder).filePath(SpanName(entry, ".h265x")))).nVideo, 20u);
    EXPECT_FALSE(QDir(Folder()).exists()) << "no default folder was made";

    // The file still names the user's folder.
    const QVariant value = m_plugin.App().ClientCfgValue("Path/DownPath");
    EXPECT_EQ((value.type() == QVariant::StringList ? value.toStringList().join(", ") : value.toString()).toStdString(),
              strFolder.toStdString());
}

TEST_F(DownloadTest, ACutConnectionEndsTheListUnderAPartialName)
{
    // The device's connection goes while the first, long, download runs.
    ASSERT_TRUE(Open(4, QByteArray(), R"("Events": [{"AfterLoginMs": 6000, "Cut": true}])"));
    const DownloadEntry cut = Span(kSpanBegin, 1200);
    const DownloadEntry next = Span(TimeAfter(kSpanBegin, 1200).c_str(), 2);
    EXPECT_EQ(Text(m_plugin.Request(Download("d", 0, {cut, next}))), StartedReply("d"));
    const int nReply = IndexOfReply("d");
    ASSERT_TRUE(WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 5, 0); }));
    const HostMessage done = WaitAfter(nReply, [](const HostMessage &m) { return IsEvent(m, 1, 5); });
    ASSERT_TRUE(done);
    EXPECT_EQ(Text(done), FailedEvent(Folder()));

    // What came down is kept under a name that says so; nothing looks like the whole span, and the rest of the
    // list was not started.
    EXPECT_FALSE(QFile::exists(FilePath(SpanName(cut, ".h265x"))));
    const BlockCount partial = CountBlocks(ReadAll(FilePath(SpanName(cut, "_partial.h265x"))));
    EXPECT_GT(partial.nVideo, 0u);
    EXPECT_LT(partial.nVideo, 12000u);
    EXPECT_TRUE(partial.bFirstIsKey);
    EXPECT_EQ(partial.nSkipped + partial.nPending, 0u);
    EXPECT_FALSE(QFile::exists(FilePath(SpanName(next, ".h265x"))));
    ASSERT_TRUE(m_plugin.Sync());
    EXPECT_EQ(DoneEvents(nReply).size(), 1u);
}

TEST_F(DownloadTest, AFullDiskEndsTheDownloadAsAFailure)
{
    ScratchMount disk(2 * 1024 * 1024);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why().toStdString();
    ASSERT_TRUE(Open(4));
    ASSERT_TRUE(SetRecordType(1, disk.Path()));
    struct Case
    {
        const char *pName;
        qint64 nSpareBytes;     // left free before the download; 0: the disk is full
        int nSeconds;
    };
    const Case cases[] = {
        {"full before it starts", 0, 4},
        // About 9 s of the 60 s fit.
        {"full on the way", 128 * 1024, 60},
    };
    int nFrom = 0;
    for (const Case &c : cases) {
        if (c.nSpareBytes == 0) {
            ASSERT_TRUE(disk.Fill()) << c.pName;
        } else {
            QFile fill(QDir(disk.Path()).filePath("fill"));
            ASSERT_TRUE(fill.open(QIODevice::WriteOnly)) << c.pName;
            const qint64 nFill = QStorageInfo(disk.Path()).bytesAvailable() - c.nSpareBytes;
            ASSERT_GT(nFill, 0) << c.pName;
            ASSERT_EQ(fill.write(QByteArray(static_cast<int>(nFill), 'f')), nFill) << c.pName;
        }
        const DownloadEntry entry = Span(TimeAfter(kSpanBegin, nFrom).c_str(), c.nSeconds);
        nFrom += c.nSeconds;
        const std::string strId = std::string("d") + std::to_string(nFrom);
        EXPECT_EQ(Text(m_plugin.Request(Download(strId, 0, {entry}))), StartedReply(strId.c_str(), disk.Path()))
            << c.pName;
        const HostMessage done = WaitAfter(IndexOfReply(strId), [](const HostMessage &m) { return IsEvent(m, 1, 5); });
        ASSERT_TRUE(done) << c.pName;
        EXPECT_EQ(Text(done), FailedEvent(disk.Path())) << c.pName;
        EXPECT_FALSE(QFile::exists(QDir(disk.Path()).filePath(SpanName(entry, ".h265x")))) << c.pName;
        // Only what holds pictures is kept.
        const QString strPartial = QDir(disk.Path()).filePath(SpanName(entry, "_partial.h265x"));
        if (c.nSpareBytes == 0) {
            EXPECT_FALSE(QFile::exists(strPartial)) << c.pName;
        } else {
            // Its last block may be cut where the disk ran out.
            const BlockCount partial = CountBlocks(ReadAll(strPartial));
            EXPECT_GT(partial.nVideo, 0u) << c.pName;
            EXPECT_TRUE(partial.bFirstIsKey) << c.pName;
            EXPECT_EQ(partial.nSkipped, 0u) << c.pName;
        }
        disk.Unfill();
        QFile::remove(strPartial);
    }
}
