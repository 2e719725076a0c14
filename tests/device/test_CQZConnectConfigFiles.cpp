// CQZConnect's file imports, audio uploads and message callback against the simulated device: the exact
// upload headers that reach the device, the file-level refusals (109, 1015, 1020), the mapped device errors,
// and the result that follows through the transfer callback.

#include "device/CQZConnect.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char *kDevices = R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4}])";

struct Results
{
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::vector<int32_t>> calls;   // handle, kind, value 1, value 2

    static void OnResult(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2, void *pUser)
    {
        auto *p = static_cast<Results *>(pUser);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->calls.push_back({lHandle, nKind, nValue1, nValue2});
        p->cv.notify_all();
    }
    std::vector<int32_t> WaitForOne()
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(20), [this] { return !calls.empty(); });
        return calls.empty() ? std::vector<int32_t>{} : calls.front();
    }
};

std::string InputOf(const std::string &strLine) { return strLine.substr(strLine.find(" in=") + 4); }

} // namespace

class CQZConnectFiles : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(kDevices);
        m_lLogin = LoginBuiltIn();
        KorvexControl::ClearJournal();
    }
    QString Write(const QString &strName, const QByteArray &data)
    {
        QFile file(TempPath(strName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return TempPath(strName);
    }
    int32_t m_lLogin = 0;
};

TEST_F(CQZConnectFiles, ConfigurationImport)
{
    LogCapture log;
    CQZConnect conn;
    const QByteArray config = R"({"General": {"Location": {"Language": "English"}}})";
    // A configuration of exactly 64 KiB is still taken.
    QByteArray full = R"({"Pad": ")";
    full += QByteArray(65536 - full.size() - 2, 'p') + "\"}";
    ASSERT_EQ(full.size(), 65536);
    struct Case
    {
        const char *pWhat;
        QString strPath;
        int32_t nForced;
        int nRet;
        bool bLibraryCall;
    };
    const Case cases[] = {
        {"a configuration", Write("config.json", config), 0, 100, true},
        {"64 KiB", Write("full.json", full), 0, 100, true},
        {"one byte more", Write("over.json", full + " "), 0, 1015, false},
        {"a file that does not open", TempPath("missing.json"), 0, 1020, false},
        {"not a configuration", Write("text.txt", "hello"), 0, 1016, true},
        {"no permission", Write("config2.json", config), -11401, 1013, true},
    };
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        if (c.nForced)
            KorvexControl::FailNextCall("ZDK_DEV_SetDevConfig", c.nForced);
        EXPECT_EQ(conn.ImportFile(0, m_lLogin, 3, c.strPath, Results::OnResult, nullptr), c.nRet) << c.pWhat;
        const std::vector<std::string> calls = KorvexControl::JournalOf("ZDK_DEV_SetDevConfig");
        ASSERT_EQ(calls.size(), c.bLibraryCall ? 1u : 0u) << c.pWhat;
        if (c.bLibraryCall) {
            const qint64 nLength = QFile(c.strPath).size();
            EXPECT_EQ(calls[0], "ZDK_DEV_SetDevConfig login=" + std::to_string(m_lLogin) + " cmd=52 channel=-1 length=" +
                                    std::to_string(nLength) + " wait=8000");
        }
    }
    EXPECT_EQ(KorvexControl::ImportedConfig(m_lLogin), full.toStdString());
    EXPECT_FALSE(QFile::exists(TempPath("missing.json")));
    EXPECT_TRUE(log.Contains("[CQZConnect::ImportFile]"));
    EXPECT_TRUE(log.Contains("Import Config by ZDK_DEV_SetDevConfig"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_SetDevConfig pBuf size > 64k"));
    EXPECT_TRUE(log.Contains("fileszie = 5<===============>ZDK_DEV_SetDevConfig error=-10003"));
    EXPECT_TRUE(log.Contains("fileszie = 50<===============>ZDK_DEV_SetDevConfig error=-11401"));
}

TEST_F(CQZConnectFiles, UploadHeadersByKind)
{
    struct Case
    {
        int nKind, nChannel;
        std::string strHeader;
    };
    const Case cases[] = {
        {1, 2, R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": 321,"FileName": "",  "Path": "","Parameter":{}})"},
        {2, 3, R"({"Action": "Send","FileType": 1,"Channel": [3],"FilePurpose": 0,"FileSize": 321,"FileName": "customAlarmVoice.pcm","Parameter":  {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"},"Channel": [3]}})"},
        {2, 255, R"({"Action": "Send","FileType": 1,"Channel": [-1],"FilePurpose": 0,"FileSize": 321,"FileName": "customAlarmVoice.pcm","Parameter":  {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"},"Channel": [-1]}})"},
        {3, 1, R"({"Action": "Send","FileType": 1,"Channel": [1],"FilePurpose": 7,"FileSize": 321,"FileName": "customAlarmVoice.pcm","Parameter":  {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"},"Channel": [1]}})"},
        {4, 1, R"({"FileType": 1,"FilePurpose": 0,"FileSize": 321,"FileName": "customAlarmVoice.pcm","Parameter": {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"}}})"},
    };
    QByteArray data(321, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(0xD5 ^ i);
    CQZConnect conn;
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        Results results;
        const QString strPath = Write("customAlarmVoice.pcm", data);
        EXPECT_EQ(conn.ImportFile(c.nKind, m_lLogin, c.nChannel, strPath, Results::OnResult, &results), 100) << c.nKind;
        const std::vector<std::string> journal = KorvexControl::Journal();
        ASSERT_EQ(journal.size(), 2u);
        EXPECT_EQ(journal[0].substr(0, journal[0].find(" in=")),
                  "ZDK_DEV_Cmd_Json login=" + std::to_string(m_lLogin) + " cmd=3500 name=OPFile length=" +
                      std::to_string(c.strHeader.size()) + " wait=5000 channel=-1");
        EXPECT_EQ(InputOf(journal[0]), c.strHeader) << c.nKind << " " << c.nChannel;
        EXPECT_EQ(journal[1], "ZDK_DEV_SendFileDataToDevice login=" + std::to_string(m_lLogin) + " path=" +
                                  strPath.toStdString());
        // The device has the file whole; its result follows through the callback.
        const std::vector<int32_t> result = results.WaitForOne();
        ASSERT_EQ(result.size(), 4u);
        EXPECT_EQ(result[1], ZDK_TRANSFER_DONE);
        EXPECT_EQ(result[2], 321);
        EXPECT_EQ(KorvexControl::ReceivedFiles().back().strData, data.toStdString());
    }
}

TEST_F(CQZConnectFiles, UploadRefusalsAndErrors)
{
    LogCapture log;
    CQZConnect conn;
    const QString strVoice = Write("customAlarmVoice.pcm", QByteArray(100, 'a'));
    struct Case
    {
        const char *pWhat;
        int nKind, nChannel;
        QString strPath;
        const char *pFail;      // the library call that fails, with nForced
        int32_t nForced;
        int nRet;
        size_t nCalls;          // library calls made
    };
    const Case cases[] = {
        {"missing file", 2, 1, TempPath("absent.pcm"), nullptr, 0, 109, 0},
        {"empty file", 4, 1, Write("empty.pcm", QByteArray()), nullptr, 0, 109, 0},
        {"a folder", 4, 1, TempPath(""), nullptr, 0, 109, 0},
        {"a kind without a header", 5, 1, strVoice, nullptr, 0, 1016, 1},
        {"a channel the device does not have", 2, 9, strVoice, nullptr, 0, 1016, 1},
        {"the command refused", 2, 1, strVoice, "ZDK_DEV_Cmd_Json", -11401, 1013, 1},
        {"the transfer refused", 3, 1, strVoice, "ZDK_DEV_SendFileDataToDevice", -10005, 1006, 2},
        {"the transfer refused, unmapped", 1, 1, strVoice, "ZDK_DEV_SendFileDataToDevice", -10000, 1016, 2},
    };
    for (const Case &c : cases) {
        KorvexControl::ClearJournal();
        if (c.pFail)
            KorvexControl::FailNextCall(c.pFail, c.nForced);
        Results results;
        EXPECT_EQ(conn.ImportFile(c.nKind, m_lLogin, c.nChannel, c.strPath, Results::OnResult, &results), c.nRet)
            << c.pWhat;
        EXPECT_EQ(KorvexControl::Journal().size(), c.nCalls) << c.pWhat;
    }
    // A missing file is not created by looking at its size.
    EXPECT_FALSE(QFile::exists(TempPath("absent.pcm")));
    // A kind without a header sends an empty one, which the device refuses.
    KorvexControl::ClearJournal();
    EXPECT_EQ(conn.ImportFile(7, m_lLogin, 1, strVoice, Results::OnResult, nullptr), 1016);
    ASSERT_EQ(KorvexControl::JournalOf("ZDK_DEV_Cmd_Json").size(), 1u);
    const std::string strLine = KorvexControl::JournalOf("ZDK_DEV_Cmd_Json")[0];
    EXPECT_NE(strLine.find(" length=0 "), std::string::npos);
    EXPECT_EQ(InputOf(strLine), "");
    EXPECT_TRUE(log.Contains("SendAudioFile OPFile error=-11401"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_SendFileDataToDevice error=-10005"));
    EXPECT_TRUE(log.Contains("[CQZConnect::ImportFile]"));
}

TEST_F(CQZConnectFiles, ResultKindsReachTheCallback)
{
    CQZConnect conn;
    struct Case
    {
        int32_t nKind, nValue;
    };
    for (const Case c : {Case{ZDK_TRANSFER_ANSWER, 4321}, Case{ZDK_TRANSFER_BROKEN, 7}}) {
        KorvexControl::SetNextTransferResult(c.nKind, c.nValue);
        Results results;
        ASSERT_EQ(conn.ImportFile(4, m_lLogin, 0, Write("customAlarmVoice.pcm", QByteArray(64, 'v')),
                                  Results::OnResult, &results),
                  100);
        const std::vector<int32_t> result = results.WaitForOne();
        ASSERT_EQ(result.size(), 4u);
        EXPECT_EQ(result[1], c.nKind);
        EXPECT_EQ(result[2], c.nValue);
    }
}

TEST_F(CQZConnectFiles, SendAudioFile)
{
    LogCapture log;
    CQZConnect conn;
    const QString strVoice = Write("customAlarmVoice.pcm", QByteArray(40, 'a'));
    const QByteArray baPath = strVoice.toLocal8Bit();
    const std::string strHeader =
        R"({"FileType": 1,"FilePurpose": 0,"FileSize": 40,"FileName": "customAlarmVoice.pcm","Parameter": {"AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"}}})";
    Results results;
    EXPECT_EQ(conn.SendAudioFile(m_lLogin, baPath.constData(), strHeader.c_str(), &results, Results::OnResult), 1);
    EXPECT_EQ(InputOf(KorvexControl::JournalOf("ZDK_DEV_Cmd_Json").at(0)), strHeader);
    EXPECT_EQ(results.WaitForOne().at(1), ZDK_TRANSFER_DONE);

    EXPECT_EQ(conn.SendAudioFile(m_lLogin, baPath.constData(), "{\"FileType\": 1}", &results, Results::OnResult), -1);
    EXPECT_EQ(conn.SendAudioFile(m_lLogin, baPath.constData(), nullptr, &results, Results::OnResult), -1);
    const QByteArray baMissing = TempPath("absent.pcm").toLocal8Bit();
    EXPECT_EQ(conn.SendAudioFile(m_lLogin, baMissing.constData(), strHeader.c_str(), &results, Results::OnResult), -2);
    EXPECT_TRUE(log.Contains("[CQZConnect::SendAudioFile]"));
    EXPECT_TRUE(log.Contains("SendAudioFile OPFile error=-10003"));
    EXPECT_TRUE(log.Contains("ZDK_DEV_SendFileDataToDevice error=-10007"));
}

namespace {
std::atomic<int> g_nMessages{0};
bool OnMessage(int32_t, const char *, uint32_t nLength, void *pUser, int32_t nKind)
{
    if (pUser == &g_nMessages && nKind == ZDK_MSG_ALARM && nLength == sizeof(ZDK_AlarmInfo))
        ++g_nMessages;
    return true;
}
} // namespace

TEST_F(CQZConnectFiles, MessageCallback)
{
    CQZConnect conn;
    EXPECT_TRUE(conn.SetMessCallBack(OnMessage, &g_nMessages));
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_SetMessCallBack"), std::vector<std::string>{"ZDK_DEV_SetMessCallBack set"});
    ASSERT_EQ(ZDK_DEV_StartAlarmListen(m_lLogin), 1);
    ASSERT_TRUE(KorvexControl::RaiseAlarm(m_lLogin, 1, 7, ZDK_ALARM_START));
    EXPECT_TRUE(WaitUntil([] { return g_nMessages.load() > 0; }));
    // The library's event thread has nothing more to run: one alarm, one message.
    EXPECT_TRUE(KorvexControl::WaitForIdle());
    EXPECT_EQ(g_nMessages.load(), 1);
}
