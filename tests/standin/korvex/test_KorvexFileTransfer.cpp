// File transfers to the simulated device: the "OPFile" header shapes it accepts, the whole file read during
// the call, one result report on a library thread, acknowledgements from inside the callback, and no report
// after the logout.

#include "platform/korvex.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char *kAudio = R"("AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"})";

std::string FileHeader(int nSize)
{
    return R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": )" + std::to_string(nSize) +
           R"(,"FileName": "",  "Path": "","Parameter":{}})";
}

std::string ChannelHeader(int nChannel, int nPurpose, int nSize, int nParamChannel)
{
    return R"({"Action": "Send","FileType": 1,"Channel": [)" + std::to_string(nChannel) + R"(],"FilePurpose": )" +
           std::to_string(nPurpose) + R"(,"FileSize": )" + std::to_string(nSize) +
           R"(,"FileName": "customAlarmVoice.pcm","Parameter":  {)" + kAudio + R"(,"Channel": [)" +
           std::to_string(nParamChannel) + "]}}";
}

std::string DeviceHeader(int nSize)
{
    return R"({"FileType": 1,"FilePurpose": 0,"FileSize": )" + std::to_string(nSize) +
           R"(,"FileName": "customAlarmVoice.pcm","Parameter": {)" + kAudio + "}}";
}

struct TransferReport
{
    int32_t lHandle, nKind, nValue1, nValue2;
    std::thread::id thread;
    int32_t nAck;
};

class TransferProbe
{
public:
    static void OnResult(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2, void *pUser)
    {
        auto *p = static_cast<TransferProbe *>(pUser);
        // As the voice upload does: acknowledge from inside the callback.
        const int32_t nAck = ZDK_DEV_FileTransferAck(lHandle, 1, nValue1, nValue2);
        {
            std::lock_guard<std::mutex> lock(p->m_mutex);
            p->m_reports.push_back(TransferReport{lHandle, nKind, nValue1, nValue2, std::this_thread::get_id(), nAck});
        }
        p->m_cv.notify_all();
    }
    std::vector<TransferReport> Reports() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }
    bool WaitFor(size_t n, int nTimeoutMs = 20000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_reports.size() >= n; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<TransferReport> m_reports;
};

} // namespace

class KorvexFileTransfer : public KorvexFixture
{
protected:
    void SetUp() override
    {
        KorvexFixture::SetUp();
        UseDevices(R"([{"IP": "127.0.0.1", "Port": 34567, "Channels": 4}])");
        m_lLogin = LoginBuiltIn();
    }
    int32_t Announce(const std::string &strHeader)
    {
        return ZDK_DEV_Cmd_Json(m_lLogin, ZDK_CMD_FILE, "OPFile", strHeader.data(),
                                static_cast<uint32_t>(strHeader.size()), 1000, -1);
    }
    std::string WriteFile(const QString &strName, const QByteArray &data)
    {
        QFile file(TempPath(strName));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return TempPath(strName).toStdString();
    }
    int32_t m_lLogin = 0;
};

TEST_F(KorvexFileTransfer, HeaderShapes)
{
    struct Case
    {
        const char *pWhat;
        std::string strHeader;
        bool bAccepted;
    };
    using namespace std::string_literals;
    std::string strExtra = DeviceHeader(8);
    strExtra.insert(1, R"("Action": "Send",)");
    std::string strRate = DeviceHeader(8);
    strRate.replace(strRate.find("8000"), 4, "16000");
    std::string strLaw = DeviceHeader(8);
    strLaw.replace(strLaw.find("G711_ALAW"), 9, "G711_ULAW");
    std::string strName = ChannelHeader(1, 0, 8, 1);
    strName.replace(strName.find("customAlarmVoice.pcm"), 20, "alarm.pcm");
    std::string strFloat = FileHeader(8);
    strFloat.replace(strFloat.find(": 8,"), 4, ": 8.0,");
    std::string strTyped = FileHeader(8);
    strTyped.replace(strTyped.find(": 8,"), 4, ": \"8\",");
    const Case cases[] = {
        {"a file for the device", FileHeader(8), true},
        {"a voice for a channel", ChannelHeader(1, 0, 8, 1), true},
        {"a voice for every channel", ChannelHeader(-1, 7, 8, -1), true},
        {"a voice with another purpose", ChannelHeader(2, 3, 8, 2), true},
        {"a voice for the device", DeviceHeader(8), true},
        {"two different channels", ChannelHeader(1, 0, 8, 2), false},
        {"a channel the device does not have", ChannelHeader(4, 0, 8, 4), false},
        {"channel 255 as it is", ChannelHeader(255, 0, 8, 255), false},
        {"a key too many", strExtra, false},
        {"16000 Hz", strRate, false},
        {"mu-law", strLaw, false},
        {"another file name", strName, false},
        {"a size written as 8.0", strFloat, false},
        {"a size as a text", strTyped, false},
        {"an empty file", FileHeader(0), false},
        {"a terminating zero counted", FileHeader(8) + "\0"s, false},
        {"a comment", FileHeader(8) + " // size", false},
        {"an empty header", "", false},
        {"a header of two objects", FileHeader(8) + DeviceHeader(8), false},
    };
    for (const Case &c : cases) {
        const int32_t nResult = Announce(c.strHeader);
        EXPECT_EQ(nResult, c.bAccepted ? 1 : ZDK_ERR_ILLEGAL_PARAM) << c.pWhat;
    }
    // Only channel -1 carries the command.
    const std::string strHeader = FileHeader(8);
    EXPECT_EQ(ZDK_DEV_Cmd_Json(m_lLogin, ZDK_CMD_FILE, "OPFile", strHeader.data(), static_cast<uint32_t>(strHeader.size()),
                               1000, 0),
              ZDK_ERR_ILLEGAL_PARAM);
}

TEST_F(KorvexFileTransfer, WholeFileReadDuringTheCallAndOneReport)
{
    struct Case
    {
        const char *pWhat;
        int nAnnounced;
        int nForcedKind;
        int32_t nKind, nValue1, nValue2;
    };
    const Case cases[] = {
        {"complete", 5000, 0, ZDK_TRANSFER_DONE, 5000, 5000},
        {"shorter than announced", 6000, 0, ZDK_TRANSFER_BROKEN, 5000, 6000},
        {"longer than announced", 4000, 0, ZDK_TRANSFER_BROKEN, 4000, 4000},
        {"the device answers a code", 5000, ZDK_TRANSFER_ANSWER, ZDK_TRANSFER_ANSWER, 1234, 5000},
    };
    QByteArray data(5000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    TransferProbe probes[sizeof cases / sizeof cases[0]];
    const StreamsStop stop;
    for (const Case &c : cases) {
        TransferProbe &probe = probes[&c - cases];
        const std::string strPath = WriteFile("voice.pcm", data);
        if (c.nForcedKind)
            KorvexControl::SetNextTransferResult(c.nForcedKind, 1234);
        ASSERT_EQ(Announce(DeviceHeader(c.nAnnounced)), 1);
        const int32_t lHandle = ZDK_DEV_SendFileDataToDevice(m_lLogin, strPath.c_str(), TransferProbe::OnResult, &probe);
        ASSERT_GT(lHandle, 0) << c.pWhat << " error " << ZDK_DEV_GetLastError();
        EXPECT_TRUE(probe.Reports().empty()) << "not inside the call";
        // The file may go at once: the device has it whole.
        ASSERT_TRUE(QFile::remove(QString::fromStdString(strPath)));
        ASSERT_TRUE(probe.WaitFor(1)) << c.pWhat;
        // The transfer's thread ends after its report.
        ASSERT_TRUE(KorvexControl::WaitForIdle());
        const std::vector<TransferReport> reports = probe.Reports();
        ASSERT_EQ(reports.size(), 1u) << c.pWhat;
        EXPECT_EQ(reports[0].lHandle, lHandle);
        EXPECT_EQ(reports[0].nKind, c.nKind) << c.pWhat;
        EXPECT_EQ(reports[0].nValue1, c.nValue1) << c.pWhat;
        EXPECT_EQ(reports[0].nValue2, c.nValue2) << c.pWhat;
        EXPECT_NE(reports[0].thread, std::this_thread::get_id());
        EXPECT_EQ(reports[0].nAck, 1) << "acknowledged from inside the callback";
        const KorvexReceivedFile received = KorvexControl::ReceivedFiles().back();
        EXPECT_EQ(received.nHandle, lHandle);
        EXPECT_EQ(received.strData, data.toStdString()) << c.pWhat;
        EXPECT_EQ(received.strHeader, DeviceHeader(c.nAnnounced));
        // The announcement was used up.
        const std::string strAgain = WriteFile("again.pcm", data);
        EXPECT_EQ(ZDK_DEV_SendFileDataToDevice(m_lLogin, strAgain.c_str(), TransferProbe::OnResult, &probe), 0);
        EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    }
    EXPECT_EQ(KorvexControl::JournalOf("ZDK_DEV_FileTransferAck").size(), 4u);
}

TEST_F(KorvexFileTransfer, Refusals)
{
    TransferProbe probe;
    const StreamsStop stop;
    const std::string strPath = WriteFile("voice.pcm", QByteArray(10, 'v'));
    // Nothing announced.
    EXPECT_EQ(ZDK_DEV_SendFileDataToDevice(m_lLogin, strPath.c_str(), TransferProbe::OnResult, &probe), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    // A file that does not open keeps the announcement for the next one.
    ASSERT_EQ(Announce(DeviceHeader(10)), 1);
    const std::string strMissing = TempPath("missing.pcm").toStdString();
    EXPECT_EQ(ZDK_DEV_SendFileDataToDevice(m_lLogin, strMissing.c_str(), TransferProbe::OnResult, &probe), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_FILE_OPEN);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(strMissing)));
    EXPECT_EQ(ZDK_DEV_SendFileDataToDevice(m_lLogin, strPath.c_str(), nullptr, &probe), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_ILLEGAL_PARAM);
    EXPECT_GT(ZDK_DEV_SendFileDataToDevice(m_lLogin, strPath.c_str(), TransferProbe::OnResult, &probe), 0);
    ASSERT_TRUE(probe.WaitFor(1));
    // An acknowledgement needs a transfer handle and kind 1.
    EXPECT_EQ(ZDK_DEV_FileTransferAck(999, 1, 0, 0), 0);
    EXPECT_EQ(ZDK_DEV_GetLastError(), ZDK_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZDK_DEV_FileTransferAck(probe.Reports()[0].lHandle, 2, 0, 0), 0);
}

TEST_F(KorvexFileTransfer, NoReportAfterLogout)
{
    // A megabyte takes the device a quarter of a second.
    TransferProbe probe;
    const StreamsStop stop;
    const std::string strPath = WriteFile("voice.pcm", QByteArray(1 << 20, 'v'));
    ASSERT_EQ(Announce(DeviceHeader(1 << 20)), 1);
    ASSERT_GT(ZDK_DEV_SendFileDataToDevice(m_lLogin, strPath.c_str(), TransferProbe::OnResult, &probe), 0);
    EXPECT_EQ(ZDK_DEV_Logout(m_lLogin), 1);
    RunLibraryFor(400);
    EXPECT_TRUE(probe.Reports().empty());
    EXPECT_EQ(KorvexControl::OpenStreams(), 0);
}
