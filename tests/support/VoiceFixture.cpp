#include "tests/support/VoiceFixture.h"

#include "device/media/G711Alaw.h"
#include "runtime/CDataCenter.h"
#include "standin/pavline/WavFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace {

const char *kTalkDevices = R"([
  {"IP": "127.0.0.1", "Port": 34567, "Channels": 4,
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, true, false, false]}},
  {"IP": "10.0.0.2", "Port": 34567, "Channels": 2, "DeviceTalk": false,
   "ChannelAbilities": {"ChannelSystemFunction@SupportIPCTalk": [false, false]}}
])";

} // namespace

void VoiceFixture::SetUp()
{
    PavlineFixture::SetUp();
    unsetenv("PAVLINE_MIC_WAV");
    CDataCenter::CreateInstance(m_tempDir.path());
    UseDevices(kTalkDevices);
    m_lLogin = LoginBuiltIn();
    KorvexControl::ClearJournal();
}

void VoiceFixture::TearDown()
{
    unsetenv("PAVLINE_MIC_WAV");
    PavlineFixture::TearDown();
}

DevLoginInfo VoiceFixture::LoginInfo(int32_t lLogin) const
{
    DevLoginInfo info{};
    info.LoginHandle = lLogin ? lLogin : m_lLogin;
    info.ChannelTotal = 4;
    info.ChannelCountB = 4;
    return info;
}

std::vector<int16_t> VoiceFixture::UseMic(int nRate, int nSamples)
{
    std::vector<int16_t> samples(static_cast<size_t>(nSamples));
    uint32_t nState = 12345;
    for (int16_t &s : samples) {
        nState = nState * 1103515245u + 12345u;
        s = static_cast<int16_t>(static_cast<int32_t>((nState >> 8) % 40001) - 20000);
    }
    const std::string strPath = m_tempDir.filePath("mic.wav").toStdString();
    WavFile wav;
    EXPECT_TRUE(wav.Create(strPath, nRate));
    EXPECT_TRUE(wav.Append(samples.data(), samples.size()));
    setenv("PAVLINE_MIC_WAV", strPath.c_str(), 1);
    return samples;
}

QString VoiceFixture::AppPath(const QString &strName) const { return QDir(m_tempDir.path()).filePath(strName); }

bool VoiceFixture::WriteAppFile(const QString &strName, const std::string &strData) const
{
    const QString strPath = AppPath(strName);
    QDir().mkpath(QFileInfo(strPath).path());
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(strData.data(), static_cast<qint64>(strData.size())) == static_cast<qint64>(strData.size());
}

std::string VoiceFixture::ReadAppFile(const QString &strName) const
{
    QFile file(AppPath(strName));
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    return file.readAll().toStdString();
}

namespace VoiceTest {

std::string Alaw(const std::vector<int16_t> &samples, size_t nFrom, size_t nCount)
{
    std::string out;
    for (size_t i = 0; i < nCount; ++i)
        out.push_back(static_cast<char>(G711AlawEncodeSample(samples[(nFrom + i) % samples.size()])));
    return out;
}

std::string Hex(const std::string &strData, size_t n)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < n && i < strData.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(strData[i]);
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 15]);
    }
    return out;
}

std::vector<std::string> SplitFrames(const std::string &strStream)
{
    std::vector<std::string> frames;
    size_t nAt = 0;
    while (strStream.size() - nAt >= 8) {
        const size_t nPayload = static_cast<unsigned char>(strStream[nAt + 6]) |
                                (static_cast<size_t>(static_cast<unsigned char>(strStream[nAt + 7])) << 8);
        if (strStream.size() - nAt < 8 + nPayload)
            break;
        frames.push_back(strStream.substr(nAt, 8 + nPayload));
        nAt += 8 + nPayload;
    }
    if (nAt < strStream.size())
        frames.push_back(strStream.substr(nAt));
    return frames;
}

std::string AcceptedPayloads(size_t nFirst, size_t nCount)
{
    std::string out;
    size_t nIndex = 0;
    for (const KorvexTalkFrame &f : KorvexControl::TalkFrames()) {
        if (!f.bAccepted)
            continue;
        if (nIndex >= nFirst && nIndex - nFirst < nCount)
            out += f.strData.substr(8);
        ++nIndex;
    }
    return out;
}

} // namespace VoiceTest
