#include "standin/korvex/KorvexControl.h"

#include "standin/korvex/DeviceConfig.h"
#include "standin/korvex/KorvexSim.h"
#include "standin/korvex/UpgradeTask.h"
#include "standin/korvex/VoiceCom.h"

#include <cstring>

namespace KorvexControl {

std::vector<std::string> Journal() { return KorvexSim::Instance().Journal(); }

std::vector<std::string> JournalOf(const std::string &strName)
{
    std::vector<std::string> lines;
    for (const std::string &line : KorvexSim::Instance().Journal())
        if (line == strName || line.compare(0, strName.size() + 1, strName + " ") == 0)
            lines.push_back(line);
    return lines;
}

void ClearJournal() { KorvexSim::Instance().ClearJournal(); }

bool IsInitialised() { return KorvexSim::Instance().IsInitialised(); }

std::string AppUuid()
{
    const ZDK_AppAccountInfo account = KorvexSim::Instance().Account();
    return std::string(account.Uuid, strnlen(account.Uuid, sizeof account.Uuid));
}

std::string AppKey()
{
    const ZDK_AppAccountInfo account = KorvexSim::Instance().Account();
    return std::string(account.AppKey, strnlen(account.AppKey, sizeof account.AppKey));
}

int AppMoveCard() { return KorvexSim::Instance().Account().MoveCard; }
int UserDataType() { return KorvexSim::Instance().UserDataType(); }
std::string UserData() { return KorvexSim::Instance().UserDataText(); }

void FailNextCall(const std::string &strName, int32_t nError) { KorvexSim::Instance().FailNextCall(strName, nError); }
void SetLatency(const std::string &strName, int nMilliseconds) { KorvexSim::Instance().SetLatency(strName, nMilliseconds); }

void SetLoginError(const std::string &strAddressOrSerial, int32_t nError, const std::string &strCloudText)
{
    KorvexSim::Instance().SetLoginError(strAddressOrSerial, nError, strCloudText);
}

void SetDownloadSpeed(double dSpeed) { KorvexSim::Instance().SetDownloadSpeed(dSpeed); }
bool CutLogin(int32_t lLogin) { return KorvexSim::Instance().CutLogin(lLogin); }

bool RaiseAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind)
{
    return KorvexSim::Instance().RaiseAlarm(lLogin, nChannel, nEvent, nStatus, nKind);
}

int OpenLogins() { return KorvexSim::Instance().OpenLogins(); }
int OpenStreams() { return KorvexSim::Instance().OpenStreams(); }
int RunningThreads() { return SimStream::RunningThreads(); }
std::vector<KorvexDevice> Devices() { return KorvexSim::Instance().Devices(); }
void ReplyNext(const std::string &strName, const std::string &strReply)
{
    DeviceConfig::Instance().ReplyNext(strName, strReply);
}

void SetReplyTail(const std::string &strTail) { DeviceConfig::Instance().SetReplyTail(strTail); }
std::string ImportedConfig(int32_t lLogin) { return DeviceConfig::Instance().ImportedConfig(lLogin); }
void SetNextTransferResult(int32_t nKind, int32_t nValue) { FileTransfer::Instance().SetNextResult(nKind, nValue); }
std::vector<KorvexReceivedFile> ReceivedFiles() { return FileTransfer::Instance().ReceivedFiles(); }
std::vector<KorvexTalkFrame> TalkFrames() { return VoiceCom::Instance().Frames(); }
bool WaitForTalkFrames(size_t nCount, int nTimeoutMs) { return VoiceCom::Instance().WaitForFrames(nCount, nTimeoutMs); }
void ClearTalkFrames() { VoiceCom::Instance().ClearFrames(); }
int OpenTalks() { return VoiceCom::Instance().OpenTalks(); }
void SetUpgradeStep(int nMilliseconds) { UpgradeTask::SetStepMs(nMilliseconds); }

void HoldClock() { SimStream::HoldClock(); }
void AdvanceClock(int nMilliseconds) { SimStream::AdvanceClock(std::chrono::milliseconds(nMilliseconds)); }
void ReleaseClock() { SimStream::ReleaseClock(); }
bool WaitForIdle(int nTimeoutMs) { return SimStream::WaitForIdle(nTimeoutMs); }

void Reset()
{
    KorvexSim::Instance().Reset();
    SimStream::ReleaseClock();
    DeviceConfig::Instance().Reset();
    FileTransfer::Instance().Reset();
    UpgradeTask::Reset();
    VoiceCom::Instance().Reset();
}

} // namespace KorvexControl
