// CTalk's file mode: "Sound/AlarmSound.wav" of the application directory sent to the device in 160-byte frames,
// the rewind at the file's end, the pauses between frames, stops while sending and the file task's error codes.
// Where a test is about the pauses, the send interval is far longer than any test runs: a frame that comes,
// comes without a pause, and one that does not come waits for the interval.

#include "device/CTalk.h"
#include "standin/pavline/WavFile.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VoiceFixture.h"

#include <QDir>
#include <QLocalServer>

#include <string>
#include <thread>
#include <vector>

using namespace VoiceTest;

namespace {

class CTalkFileTest : public VoiceFixture
{
protected:
    // A mono 16-bit WAV of nBytes bytes, header included, as the alarm sound; its bytes.
    std::string WriteAlarmSound(size_t nBytes)
    {
        QDir().mkpath(AppPath("Sound"));
        const std::string strPath = AppPath("Sound/AlarmSound.wav").toStdString();
        std::vector<int16_t> samples((nBytes - 44) / 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int16_t>(i * 523 + 17);
        {
            WavFile wav;
            EXPECT_TRUE(wav.Create(strPath, 8000));
            EXPECT_TRUE(wav.Append(samples.data(), samples.size()));
        }
        const std::string strBytes = ReadAppFile("Sound/AlarmSound.wav");
        EXPECT_EQ(strBytes.size(), nBytes);
        return strBytes;
    }

    // A file-mode talk with the device.
    void StartFileTalk(CTalk &talk, int nInterval)
    {
        talk.SetDeviceInfo(LoginInfo());
        talk.SetFileMode(true);
        talk.SetSendInterval(nInterval);
        ASSERT_TRUE(talk.TalkDevice());
        EXPECT_TRUE(talk.IsStarted());
    }
};

const char kFileHeader[] = "000001FA0E02A000";
// Ten minutes: no test waits it out.
const int kEndlessInterval = 600000;

bool WaitForFrames(size_t nCount)
{
    return PavlineTest::WaitUntil([&] { return KorvexControl::TalkFrames().size() >= nCount; });
}

void ExpectNothingHeld()
{
    EXPECT_EQ(KorvexControl::OpenTalks(), 0);
    EXPECT_FALSE(PavlineControl::CaptureRunning());
    EXPECT_FALSE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
    EXPECT_EQ(CTalk::VoicePortOwner(), nullptr);
}

} // namespace

TEST_F(CTalkFileTest, FramesFollowTheFileAndRewindAtItsEnd)
{
    struct Case
    {
        size_t nBytes;
        // The frames' payloads as ranges of the file: a frame after a short read carries the bytes read followed
        // by the rest of the chunk before it.
        std::vector<std::vector<std::pair<size_t, size_t>>> frames;
    };
    const Case cases[] = {
        {400, {{{0, 160}}, {{160, 320}}, {{320, 400}, {240, 320}}, {{0, 160}}}},
        // A read of nothing at the end sends the last chunk again.
        {320, {{{0, 160}}, {{160, 320}}, {{160, 320}}, {{0, 160}}}},
    };
    const int nInterval = 20;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.nBytes) + " bytes");
        KorvexControl::ClearTalkFrames();
        const std::string strFile = WriteAlarmSound(c.nBytes);
        CTalk talk;
        StartFileTalk(talk, nInterval);
        EXPECT_EQ(talk.GetErrorCode(), CTalk::kFileTaskStarted);
        ASSERT_TRUE(WaitForFrames(c.frames.size()));
        const std::vector<KorvexTalkFrame> frames = KorvexControl::TalkFrames();
        for (size_t i = 0; i < c.frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            EXPECT_TRUE(frames[i].bAccepted);
            EXPECT_EQ(frames[i].nHandle, talk.GetTalkHandle());
            EXPECT_EQ(Hex(frames[i].strData), kFileHeader);
            std::string strExpected;
            for (const auto &range : c.frames[i])
                strExpected += strFile.substr(range.first, range.second - range.first);
            EXPECT_EQ(frames[i].strData.substr(8), strExpected);
        }
        EXPECT_EQ(talk.GetErrorCode(), CTalk::kFileTaskStarted);
        // The file replaces the microphone.
        EXPECT_TRUE(PavlineControl::JournalOf("KTN_VIEW_StartAudioCapture").empty());
        // The stop ends the file task: nothing is sent after it.
        EXPECT_EQ(talk.StopTalk(), 1);
        ExpectNothingHeld();
    }
}

// A whole chunk is followed by the send interval.
TEST_F(CTalkFileTest, AWholeChunkWaitsForTheInterval)
{
    WriteAlarmSound(400);
    CTalk talk;
    StartFileTalk(talk, kEndlessInterval);
    ASSERT_TRUE(WaitForFrames(1));
    // The stop wakes the task from its wait; no second frame went out before it.
    EXPECT_EQ(talk.StopTalk(), 1);
    EXPECT_EQ(KorvexControl::TalkFrames().size(), 1u);
    ExpectNothingHeld();
}

// The frame of a rewind goes out at once, unless the frame before went out at once too: a file shorter than a
// frame is sent two frames an interval, not as fast as the device takes them.
TEST_F(CTalkFileTest, AFileShorterThanAFrameIsStillSentWithPauses)
{
    for (const size_t nBytes : {size_t(100), size_t(0)}) {
        SCOPED_TRACE(std::to_string(nBytes) + " bytes");
        KorvexControl::ClearTalkFrames();
        const std::string strFile = nBytes ? WriteAlarmSound(nBytes) : std::string();
        if (!nBytes) {
            ASSERT_TRUE(WriteAppFile("Sound/AlarmSound.wav", ""));
        }
        CTalk talk;
        StartFileTalk(talk, kEndlessInterval);
        // The second frame comes without a pause; then the task waits.
        EXPECT_TRUE(WaitForFrames(2));
        EXPECT_EQ(talk.StopTalk(), 1);
        const std::vector<KorvexTalkFrame> frames = KorvexControl::TalkFrames();
        EXPECT_EQ(frames.size(), 2u);
        for (const KorvexTalkFrame &f : frames) {
            EXPECT_EQ(Hex(f.strData), kFileHeader);
            EXPECT_EQ(f.strData.substr(8), strFile + std::string(160 - strFile.size(), '\0'));
        }
        EXPECT_EQ(talk.GetErrorCode(), CTalk::kFileTaskStarted);
    }
}

TEST_F(CTalkFileTest, TheFileTaskEndsWithItsErrorCode)
{
    enum class Kind { Missing, Socket, Directory, SendRefused };
    struct Case
    {
        const char *pWhat;
        Kind eKind;
        int32_t nCode;
        QString strLog;
    };
    const QString strPath = AppPath("Sound/AlarmSound.wav");
    const Case cases[] = {
        {"no file", Kind::Missing, CTalk::kFileMissing, "Audio File Not Exists! Path: " + strPath},
        {"a file that does not open", Kind::Socket, CTalk::kOpenFileFailed, "Open file failed! Path: " + strPath},
        {"a file that cannot be read", Kind::Directory, CTalk::kReadFileFailed, "Read Audio File Error! Path: "},
        {"a frame the device refuses", Kind::SendRefused, CTalk::kSendFailed, "AT_SendTalkData failed m_lError = -10000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        QDir(AppPath("Sound")).removeRecursively();
        QDir().mkpath(AppPath("Sound"));
        QLocalServer server;
        if (c.eKind == Kind::Socket) {
            ASSERT_TRUE(server.listen(strPath));
        }
        if (c.eKind == Kind::Directory) {
            ASSERT_TRUE(QDir().mkpath(strPath));
        }
        if (c.eKind == Kind::SendRefused) {
            WriteAlarmSound(400);
            KorvexControl::FailNextCall("ZDK_DEV_VoiceComSendData", ZDK_ERR_FAILED);
        }
        PavlineControl::ClearJournal();
        LogCapture log;
        CTalk talk;
        StartFileTalk(talk, 20);
        EXPECT_TRUE(log.WaitFor(c.strLog));
        EXPECT_TRUE(PavlineTest::WaitUntil([&] { return talk.GetErrorCode() != CTalk::kFileTaskStarted; }));
        EXPECT_EQ(talk.GetErrorCode(), c.nCode);
        if (c.eKind == Kind::SendRefused) {
            // The task closed port 499 itself.
            EXPECT_FALSE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
            EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_CloseStream").size(), 1u);
        }
        EXPECT_EQ(talk.StopTalk(), 1);
        EXPECT_EQ(talk.GetErrorCode(), c.nCode);
        ExpectNothingHeld();
        server.close();
    }
}

TEST_F(CTalkFileTest, AFileTalkWhoseVoiceComNeverStartedStopsWithoutWaiting)
{
    WriteAlarmSound(400);
    KorvexControl::FailNextCall("ZDK_DEV_StartVoiceCom_MR", ZDK_ERR_FAILED);
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    talk.SetFileMode(true);
    talk.SetSendInterval(kEndlessInterval);
    EXPECT_FALSE(talk.TalkDevice());
    // Returns without waiting for a task that never started (it would wait the interval out).
    EXPECT_EQ(talk.StopTalk(), 1);
    EXPECT_TRUE(KorvexControl::TalkFrames().empty());
    EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_StopVoiceCom").empty());
    ExpectNothingHeld();
}

TEST_F(CTalkFileTest, AChannelTalkUsesTheMicrophoneInFileModeToo)
{
    WriteAlarmSound(400);
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    talk.SetFileMode(true);
    ASSERT_TRUE(talk.TalkChannel(1));
    ASSERT_TRUE(WaitForFrames(3));
    for (const KorvexTalkFrame &f : KorvexControl::TalkFrames())
        EXPECT_EQ(f.strData.size(), 328u);
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StartAudioCapture").size(), 1u);
    EXPECT_EQ(talk.StopTalk(), 1);
    ExpectNothingHeld();
}
