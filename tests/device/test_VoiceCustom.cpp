// VoiceCustom against the decode stand-in: recording the microphone into "customAlarmVoice.pcm" up to its limit
// with every event in order, stopping, write failures, the test playback on port 499 with its end event, and
// never sharing port 499 or the microphone with a talk.

#include "device/CTalk.h"
#include "device/VoiceCustom.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VoiceFixture.h"
#include "tests/support/WaitUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace VoiceTest;

namespace {

const char kFile[] = "customAlarmVoice.pcm";

class VoiceCustomTest : public VoiceFixture
{
protected:
    void SetUp() override
    {
        VoiceFixture::SetUp();
        m_pVoice = VoiceCustom::GetInstance();
        ASSERT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_IDLE);
        m_pVoice->SetSampleRate(8000);
        // Events come from the capture and test threads.
        m_connection = QObject::connect(m_pVoice, &VoiceCustom::VoiceRecordTime, m_pVoice, [this](QString strEvent) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(strEvent.toStdString());
        }, Qt::DirectConnection);
    }
    void TearDown() override
    {
        m_pVoice->StopRecordVoice();
        m_pVoice->StopTest();
        EXPECT_TRUE(WaitIdle());
        QObject::disconnect(m_connection);
        VoiceFixture::TearDown();
    }

    void ClearEvents()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }
    std::vector<std::string> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    bool WaitForEvent(const std::string &strEvent, int nTimeoutMs = 20000) const
    {
        return PavlineTest::WaitUntil([&] {
            for (const std::string &e : Events())
                if (e == strEvent)
                    return true;
            return false;
        }, nTimeoutMs);
    }
    bool WaitForEvents(size_t nCount, int nTimeoutMs = 20000) const
    {
        return PavlineTest::WaitUntil([&] { return Events().size() >= nCount; }, nTimeoutMs);
    }
    // Idle, with the posted capture stop run and the test thread ended.
    bool WaitIdle() const
    {
        return PavlineTest::WaitUntil([&] {
            return m_pVoice->GetState() == VoiceCustom::STATE_IDLE && !m_pVoice->IsTestThreadRunning() &&
                   !PavlineControl::CaptureRunning() && CTalk::VoicePortOwner() == nullptr;
        });
    }
    // Nothing that sends events runs any more (no capture, no test thread) and what was posted to the GUI
    // thread has run: the events stay as they are.
    void ExpectNoMoreEvents()
    {
        EXPECT_TRUE(WaitIdle());
        QCoreApplication::processEvents();
        const size_t nCount = Events().size();
        QCoreApplication::processEvents();
        EXPECT_EQ(Events().size(), nCount);
    }
    // Waits for the state without running the GUI thread's events, which are held back meanwhile.
    static bool WaitHoldingGui(const std::function<bool()> &pred)
    {
        QElapsedTimer timer;
        timer.start();
        while (!pred()) {
            if (timer.elapsed() > 20000)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    VoiceCustom *m_pVoice = nullptr;
    QMetaObject::Connection m_connection;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

// Holds the thread that logs a line containing the text, inside its log call, until Open() (or the end of the
// gate): a thread can be held at a known step without any wait of its own being shortened or lengthened.
class LogGate
{
public:
    explicit LogGate(const QString &strText)
    {
        m_connection = QObject::connect(LightWeightLog::GetInstance(), &LightWeightLog::writeLogSig,
                                        [this, strText](const QString &strLine) {
                                            if (!strLine.contains(strText))
                                                return;
                                            std::unique_lock<std::mutex> lock(m_mutex);
                                            m_cv.wait(lock, [this] { return m_bOpen; });
                                        });
    }
    ~LogGate()
    {
        Open();
        QObject::disconnect(m_connection);
    }
    LogGate(const LogGate &) = delete;
    LogGate &operator=(const LogGate &) = delete;
    void Open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bOpen = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bOpen = false;
    QMetaObject::Connection m_connection;
};

const std::string kRecordEnd = "{\"MainEvent\":6,\"Ret\":100,\"SubEvent\":1}\n";
const std::string kTestEnd = "{\"MainEvent\":6,\"Ret\":100,\"SubEvent\":3}\n";

Json::Value Parse(const std::string &strText)
{
    Json::Value v;
    EXPECT_TRUE(JsonText::Parse(strText, v)) << strText;
    return v;
}

} // namespace

TEST_F(VoiceCustomTest, RecordingToTheLimitSendsEachEventOnceAndStopsAt40960Bytes)
{
    const std::vector<int16_t> mic = UseMic(16000, 16000);
    m_pVoice->SetSampleRate16K(true);
    EXPECT_EQ(m_pVoice->GetSampleRate(), 16000);
    ASSERT_EQ(m_pVoice->StartRecord(), 0);
    EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_RECORDING);
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StartAudioCapture"),
              std::vector<std::string>{"KTN_VIEW_StartAudioCapture 16 16000 320"});
    // 256 blocks of 10 ms. The GUI thread is held meanwhile, and after the last block until more capture blocks
    // have come, so the capture stop posted to it waits: those blocks are not the recording's.
    ASSERT_TRUE(WaitHoldingGui([&] {
        const std::vector<std::string> events = Events();
        return !events.empty() && Parse(events.back())["SubEvent"].asInt() == 1;
    }));
    const int64_t nAtLimit = PavlineControl::CaptureBlocks();
    ASSERT_TRUE(WaitHoldingGui([&] { return PavlineControl::CaptureBlocks() >= nAtLimit + 5; }));
    EXPECT_TRUE(PavlineControl::CaptureRunning());
    ASSERT_TRUE(WaitIdle());
    ExpectNoMoreEvents();

    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 256u);
    EXPECT_EQ(events.front(), "{\"MainEvent\":6,\"Pos\":5,\"Ret\":100,\"SubEvent\":0}\n");
    EXPECT_EQ(events.back(), "{\"MainEvent\":6,\"Pos\":0,\"Ret\":100,\"SubEvent\":1}\n");
    int nLastPos = 5;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        const Json::Value e = Parse(events[i]);
        EXPECT_EQ(e["MainEvent"].asInt(), 6);
        EXPECT_EQ(e["SubEvent"].asInt(), 0) << i;
        EXPECT_EQ(e["Ret"].asInt(), 100);
        // Seconds left, counting down.
        const int nPos = e["Pos"].asInt();
        EXPECT_LE(nPos, nLastPos) << i;
        nLastPos = nPos;
    }
    EXPECT_EQ(nLastPos, 0);
    // The file holds the microphone's first 40960 samples, as A-law, and not a byte more.
    const std::string strFile = ReadAppFile(kFile);
    EXPECT_EQ(strFile.size(), 40960u);
    EXPECT_TRUE(strFile == Alaw(mic, 0, 40960));
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StopAudioCapture").size(), 1u);
    // Idle again: another recording may start.
    EXPECT_EQ(m_pVoice->StartRecord(), 0);
    EXPECT_EQ(m_pVoice->StopRecordVoice(), 0);
}

TEST_F(VoiceCustomTest, StopRecordVoiceEndsTheRecordingWithOneEvent)
{
    const std::vector<int16_t> mic = UseMic(8000, 8000);
    ASSERT_TRUE(WriteAppFile(kFile, std::string(5000, 'x')));
    ASSERT_EQ(m_pVoice->StartRecord(), 0);
    EXPECT_EQ(m_pVoice->StartRecord(), -3);
    EXPECT_EQ(m_pVoice->StartTest(), -1);
    ASSERT_TRUE(WaitForEvents(5));
    EXPECT_EQ(m_pVoice->StopRecordVoice(), 0);
    EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_IDLE);
    EXPECT_FALSE(PavlineControl::CaptureRunning());
    EXPECT_EQ(CTalk::VoicePortOwner(), nullptr);
    ExpectNoMoreEvents();

    const std::vector<std::string> events = Events();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.back(), kRecordEnd);
    EXPECT_EQ(events.front(), "{\"MainEvent\":6,\"Pos\":5,\"Ret\":100,\"SubEvent\":0}\n");
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        const Json::Value e = Parse(events[i]);
        EXPECT_EQ(e["SubEvent"].asInt(), 0);
        EXPECT_EQ(e["Ret"].asInt(), 100);
        EXPECT_EQ(e["Pos"].asInt(), 4) << i;
    }
    // Truncated at the start; each 320-byte block of 8000 Hz added 160 bytes.
    const size_t nBlocks = events.size() - 1;
    const std::string strFile = ReadAppFile(kFile);
    EXPECT_EQ(strFile.size(), 160 * nBlocks);
    EXPECT_TRUE(strFile == Alaw(mic, 0, 160 * nBlocks));

    // Not recording any more: nothing happens.
    PavlineControl::ClearJournal();
    EXPECT_EQ(m_pVoice->StopRecordVoice(), 0);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    ExpectNoMoreEvents();
}

TEST_F(VoiceCustomTest, RecordingFailures)
{
    LogCapture log;
    // No capture.
    PavlineControl::FailNextCall("KTN_VIEW_StartAudioCapture", KTN_ERR_BUSY);
    EXPECT_EQ(m_pVoice->StartRecord(), -2);
    EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_IDLE);
    EXPECT_EQ(CTalk::VoicePortOwner(), nullptr);

    // A capture that does not stop keeps the recording.
    ASSERT_EQ(m_pVoice->StartRecord(), 0);
    PavlineControl::FailNextCall("KTN_VIEW_StopAudioCapture", KTN_ERR_FAILED);
    EXPECT_EQ(m_pVoice->StopRecordVoice(), -1);
    EXPECT_TRUE(log.WaitFor("Sound Play Error :13"));
    EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_RECORDING);
    EXPECT_EQ(m_pVoice->StopRecordVoice(), 0);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Events().back(), kRecordEnd);

    // A write that fails ends the recording with 1016, once.
    ClearEvents();
    QFile::remove(AppPath(kFile));
    ASSERT_EQ(symlink("/dev/full", AppPath(kFile).toLocal8Bit().constData()), 0);
    ASSERT_EQ(m_pVoice->StartRecord(), 0);
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(WaitIdle());
    ExpectNoMoreEvents();
    EXPECT_EQ(Events(), std::vector<std::string>{"{\"MainEvent\":6,\"Ret\":1016,\"SubEvent\":1}\n"});
    EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_StopAudioCapture").size(), 3u);
}

TEST_F(VoiceCustomTest, TestPlaybackSendsTheFileOnPort499AndEndsWithItsEvent)
{
    struct Case
    {
        bool b16K;
        size_t nFrame;
        const char *pHeader;
        const char *pLastHeader;   // the short last read: its own length
    };
    const Case cases[] = {
        {false, 160, "000001FA0E02A000", "000001FA0E022800"},
        {true, 320, "000001FA0E044001", "000001FA0E042800"},
    };
    std::string strFile;
    for (int i = 0; i < 1000; ++i)
        strFile.push_back(static_cast<char>(i * 31 + 7));
    ASSERT_TRUE(WriteAppFile(kFile, strFile));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nFrame);
        ClearEvents();
        PavlineControl::ClearJournal();
        m_pVoice->SetSampleRate(8000);
        m_pVoice->SetSampleRate16K(c.b16K);
        LogCapture log;
        const int64_t nHeardBefore = PavlineControl::SoundSamples(CTalk::kTalkPort);
        // The test thread is held at its first step, before its first frame, while the port is made ready.
        LogGate gate("TestRecord begin");
        ASSERT_EQ(m_pVoice->StartTest(), 0);
        EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_TESTING);
        EXPECT_EQ(m_pVoice->StartTest(), -1);
        EXPECT_EQ(m_pVoice->StartRecord(), -3);
        // What port 499 receives, every frame of it.
        const QString strRecord = TempPath("port499.bin");
        ASSERT_NE(KTN_VIEW_StartDataRecord(CTalk::kTalkPort, strRecord.toLocal8Bit().constData(), KTN_RECORD_BLOCKS),
                  0);
        // The port falls behind its input (held still until the whole file was given): the test still ends
        // only once it has been heard to its end.
        ASSERT_NE(KTN_VIEW_Pause(CTalk::kTalkPort, 1), 0);
        gate.Open();
        const int64_t nFrames = static_cast<int64_t>((strFile.size() + c.nFrame - 1) / c.nFrame);
        ASSERT_TRUE(WaitUntil([&] { return PavlineControl::Stats(CTalk::kTalkPort).nInputCalls >= nFrames; }));
        ASSERT_TRUE(log.WaitFor("TestRecord playing out"));
        ASSERT_NE(KTN_VIEW_Pause(CTalk::kTalkPort, 0), 0);
        ASSERT_TRUE(WaitForEvent(kTestEnd));
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(Events(), std::vector<std::string>{kTestEnd});
        EXPECT_TRUE(log.WaitFor("TestRecord begin"));
        EXPECT_TRUE(log.WaitFor("TestRecord end"));

        QFile record(strRecord);
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        const std::vector<std::string> frames = SplitFrames(record.readAll().toStdString());
        const size_t nWhole = strFile.size() / c.nFrame;
        ASSERT_EQ(frames.size(), nWhole + 1);
        std::string strPayloads;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(Hex(frames[i]), i < nWhole ? c.pHeader : c.pLastHeader) << i;
            strPayloads += frames[i].substr(8);
        }
        EXPECT_EQ(strPayloads, strFile);
        // Heard to its end: the port is stopped only once it has played what it was given.
        EXPECT_EQ(PavlineControl::SoundSamples(CTalk::kTalkPort) - nHeardBefore, static_cast<int64_t>(strFile.size()));
        EXPECT_EQ(PavlineControl::Journal(),
                  (std::vector<std::string>{"KTN_VIEW_OpenStream 499 0 5120000", "KTN_VIEW_SetStreamOpenMode 499 0",
                                            "KTN_VIEW_Play 499 0", "KTN_VIEW_PlaySoundShare 499",
                                            "KTN_VIEW_StartDataRecord 499 " + strRecord.toStdString() + " 0",
                                            "KTN_VIEW_Pause 499 1", "KTN_VIEW_Pause 499 0",
                                            "KTN_VIEW_StopSoundShare 499", "KTN_VIEW_Stop 499",
                                            "KTN_VIEW_CloseStream 499"}));
    }
}

TEST_F(VoiceCustomTest, StopTestEndsTheTestAtItsNextTurn)
{
    // Idle: nothing to stop, no event.
    EXPECT_EQ(m_pVoice->StopTest(), 0);
    ExpectNoMoreEvents();
    EXPECT_TRUE(Events().empty());

    // 256 frames, five seconds of them.
    ASSERT_TRUE(WriteAppFile(kFile, std::string(40960, '\x55')));
    ASSERT_EQ(m_pVoice->StartTest(), 0);
    ASSERT_TRUE(PavlineTest::WaitUntil([] { return PavlineControl::Stats(CTalk::kTalkPort).nInputCalls >= 3; }));
    EXPECT_EQ(m_pVoice->StopTest(), 0);
    ASSERT_TRUE(WaitForEvent(kTestEnd));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Events(), std::vector<std::string>{kTestEnd});
    EXPECT_FALSE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
    // Started again, it plays from the start.
    EXPECT_EQ(m_pVoice->StartTest(), 0);
    EXPECT_EQ(m_pVoice->StopTest(), 0);
    ASSERT_TRUE(WaitIdle());
}

TEST_F(VoiceCustomTest, StartTestRefusals)
{
    struct Case
    {
        const char *pWhat;
        const char *pFile;      // null: no file
        const char *pFail;      // a decode call that fails
        int nResult;
        size_t nStops, nCloses;
    };
    const Case cases[] = {
        {"no file", nullptr, nullptr, -2, 0, 0},
        {"an empty file", "", nullptr, -3, 0, 0},
        {"the port does not open", "abc", "KTN_VIEW_OpenStream", -4, 0, 0},
        {"no stream mode", "abc", "KTN_VIEW_SetStreamOpenMode", -4, 0, 1},
        {"no play", "abc", "KTN_VIEW_Play", -4, 0, 1},
        {"no shared sound", "abc", "KTN_VIEW_PlaySoundShare", -4, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        QFile::remove(AppPath(kFile));
        if (c.pFile) {
            ASSERT_TRUE(WriteAppFile(kFile, c.pFile));
        }
        PavlineControl::ClearJournal();
        if (c.pFail)
            PavlineControl::FailNextCall(c.pFail, KTN_ERR_FAILED);
        EXPECT_EQ(m_pVoice->StartTest(), c.nResult);
        EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_IDLE);
        EXPECT_EQ(CTalk::VoicePortOwner(), nullptr);
        EXPECT_FALSE(PavlineControl::Stats(CTalk::kTalkPort).bOpen);
        if (!c.pFail) {
            EXPECT_TRUE(PavlineControl::Journal().empty());
        }
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_Stop").size(), c.nStops);
        EXPECT_EQ(PavlineControl::JournalOf("KTN_VIEW_CloseStream").size(), c.nCloses);
    }
    ExpectNoMoreEvents();
    EXPECT_TRUE(Events().empty());
}

TEST_F(VoiceCustomTest, ATalkAndTheCustomVoiceNeverShareThePortOrTheMicrophone)
{
    ASSERT_TRUE(WriteAppFile(kFile, std::string(1600, '\x55')));
    LogCapture log;

    // A talk holds them: recording and testing are refused, and touch nothing.
    CTalk talk;
    talk.SetDeviceInfo(LoginInfo());
    ASSERT_TRUE(talk.TalkDevice());
    PavlineControl::ClearJournal();
    EXPECT_EQ(m_pVoice->StartRecord(), VoiceCustom::kTalkBusy);
    EXPECT_EQ(m_pVoice->StartTest(), VoiceCustom::kTalkBusy);
    EXPECT_EQ(m_pVoice->GetState(), VoiceCustom::STATE_IDLE);
    EXPECT_TRUE(PavlineControl::Journal().empty());
    EXPECT_EQ(ReadAppFile(kFile).size(), 1600u);
    EXPECT_EQ(talk.StopTalk(), 1);

    // The custom voice holds them: a talk is refused before it opens anything.
    ASSERT_EQ(m_pVoice->StartRecord(), 0);
    PavlineControl::ClearJournal();
    KorvexControl::ClearJournal();
    EXPECT_FALSE(talk.TalkDevice());
    EXPECT_TRUE(log.WaitFor("port 499 and the microphone are in use"));
    EXPECT_TRUE(KorvexControl::JournalOf("ZDK_DEV_StartVoiceCom_MR").empty());
    EXPECT_TRUE(PavlineControl::Journal().empty());
    EXPECT_EQ(m_pVoice->StopRecordVoice(), 0);

    ASSERT_TRUE(WriteAppFile(kFile, std::string(1600, '\x55')));
    ASSERT_EQ(m_pVoice->StartTest(), 0);
    EXPECT_FALSE(talk.TalkChannel(1));
    EXPECT_EQ(talk.StopTalk(), 1);
    ASSERT_TRUE(WaitForEvent(kTestEnd));
    ASSERT_TRUE(WaitIdle());

    // Free again.
    EXPECT_TRUE(talk.TalkDevice());
    EXPECT_EQ(talk.StopTalk(), 1);
}
