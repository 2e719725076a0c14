#pragma once

#include "platform/korvex.h"
#include "standin/korvex/DeviceCatalog.h"
#include "standin/korvex/EventDispatcher.h"
#include "standin/korvex/SimStream.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LiveClock;
class LiveStream;
class PlaybackStream;
class DownloadTask;

// The simulated device library's state, behind the korvex.h functions: devices, logins, streams, the event
// thread and what the control header sets.
class KorvexSim
{
public:
    static KorvexSim &Instance();

    // Every call begins here: it is journaled, waits the latency set for it, and fails when the library is not
    // initialised or a failure was set for it (the last error is set then). Returns false to fail the call.
    bool Enter(const char *pName, const std::string &strArgs, bool bNeedInit = true);
    // Records a line in the journal.
    void Record(const std::string &strLine);

    static void SetLastError(int32_t nError);
    static int32_t LastError();

    // Set-up.
    int32_t Init(ZDK_fDisConnect cbDisConnect, void *pUser);
    int32_t InitAppInfo(const ZDK_AppAccountInfo *pAccount);
    int32_t UserData(int32_t nType, const char *pData, int32_t nLen);
    int32_t SetMessCallBack(ZDK_fMessCallBack cb, void *pUser);
    int32_t Cleanup();

    // Logins. bToken: login by serial number and token.
    int32_t Login(const char *pAddress, int32_t nPort, const char *pUser, const char *pPassword, bool bToken,
                  const char *pToken, int32_t nLoginKind, NetDeviceInfo *pInfo, int32_t nConnectKind);
    int32_t AlarmListen(int32_t lLogin, bool bListen);
    int32_t Logout(int32_t lLogin);

    // Live streams.
    int32_t RealPlay(int32_t lLogin, const ZDK_ClientInfo &client);
    int32_t SetRealDataCallBack(int32_t lPlay, ZDK_fRealDataCallBack cb, void *pUser, bool bSet);
    int32_t SetRealDataCallBackV2(int32_t lPlay, ZDK_fRealDataCallBack_V2 cb, void *pUser, bool bSet);
    int32_t StopStream(int32_t lHandle, SimHandle::Kind eKind);
    int32_t SetStreamOption(int32_t lLogin, int32_t nChannel, int32_t nStreamType);

    // Playback and download; the times are seconds since 1970 of the device's local time.
    int32_t PlayBack(int32_t lLogin, int32_t nChannel, int32_t nStreamType, int64_t nBegin, int64_t nEnd,
                     ZDK_fRealDataCallBack cbData, void *pDataUser, ZDK_fDownLoadPosCallBack cbPos, void *pPosUser);
    int32_t PlayBackControl(int32_t lPlay, int32_t nCommand, int32_t nValue);
    int32_t Download(int32_t lLogin, int32_t nChannel, int32_t nStreamType, int64_t nBegin, int64_t nEnd,
                     const char *pFileName, const char *pPath, ZDK_fDownLoadPosCallBack cbPos, void *pUser);

    // Device values.
    int32_t QueryValue(int32_t lLogin, const ZDK_QueryInfo &query, int32_t *pResult);

    // For the device side kept in files of its own (configuration, upgrades, file transfers).
    // The device of an open login, or null with the last error set.
    std::shared_ptr<const KorvexDevice> LoginDevice(int32_t lLogin);
    // Makes a task of an open login with a new handle, keeps it with the login's streams (so its logout and
    // the clean-up stop it) and starts it. The maker may refuse (null, with the last error set); it runs with
    // the library's lock held and must not call back into KorvexSim. Returns the handle, or 0.
    using TaskMaker =
        std::function<std::shared_ptr<SimStream>(int32_t nHandle, const std::shared_ptr<const KorvexDevice> &device)>;
    int32_t StartTask(int32_t lLogin, const TaskMaker &make);
    // The task of that handle and kind, or null with the last error set.
    std::shared_ptr<SimStream> FindTask(int32_t lHandle, SimStream::Kind eKind);

    // Control (KorvexControl).
    std::vector<std::string> Journal();
    void ClearJournal();
    void FailNextCall(const std::string &strName, int32_t nError);
    void SetLatency(const std::string &strName, int nMilliseconds);
    void SetLoginError(const std::string &strAddressOrSerial, int32_t nError, const std::string &strCloudText);
    void SetDownloadSpeed(double dSpeed);
    bool CutLogin(int32_t lLogin);
    // Cuts the login, after the call returned, when its device has an "AfterUpgradeStart" cut.
    void CutAfterUpgradeStart(int32_t lLogin);
    bool RaiseAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind);
    int OpenLogins();
    int OpenStreams();
    std::vector<KorvexDevice> Devices();
    void Reset();

    // What the set-up calls received.
    bool IsInitialised();
    ZDK_AppAccountInfo Account();
    int UserDataType();
    std::string UserDataText();

private:
    struct LoginState
    {
        int32_t nHandle = 0;
        std::shared_ptr<const KorvexDevice> device;
        bool bListening = false;
        bool bCut = false;
        std::shared_ptr<LiveClock> pLiveClock;  // made with the first live stream
    };

    KorvexSim();
    ~KorvexSim();
    int32_t NextHandle() { return m_nNextHandle++; }
    // m_mutex held. The login, or null with the last error set.
    std::shared_ptr<LoginState> FindLogin(int32_t lLogin);
    // The login, when the channel is one of its device's (else ZDK_ERR_NO_CHANNEL); m_mutex held.
    std::shared_ptr<LoginState> FindLoginChannel(int32_t lLogin, int32_t nChannel);
    template <typename T>
    std::shared_ptr<T> FindStream(int32_t lHandle, SimStream::Kind eKind);
    // Stops the streams (m_mutex not held) and keeps threads that cannot be joined yet.
    void StopStreams(const std::vector<std::shared_ptr<SimHandle>> &streams);
    // What a request for recordings asks, before anything is looked up: its own arguments (bArguments), a stream
    // type of 0 or 1, and a span that ends after it begins where it needs one; false with the last error set.
    static bool RecordingRequest(bool bArguments, int32_t nStreamType, bool bSpan, int64_t nBegin, int64_t nEnd);
    // m_mutex held: the timed events of the login's device, counted from now.
    void ScheduleEvents(const std::shared_ptr<LoginState> &login);
    // m_mutex held: marks the login cut and breaks its streams; false when there is no such login or it was cut
    // already.
    bool MarkCut(int32_t lLogin);
    // On the event thread: the disconnect callback; the message callback with an alarm record, when the login
    // is still open and listens.
    void DeliverDisconnect(int32_t lLogin);
    void DeliverAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind);

    std::mutex m_mutex;
    bool m_bInitialised = false;
    ZDK_fDisConnect m_cbDisConnect = nullptr;
    void *m_pDisConnectUser = nullptr;
    ZDK_fMessCallBack m_cbMessage = nullptr;
    void *m_pMessageUser = nullptr;
    ZDK_AppAccountInfo m_account{};
    int m_nUserDataType = 0;
    std::string m_strUserData;

    std::vector<std::shared_ptr<const KorvexDevice>> m_devices;
    std::map<int32_t, std::shared_ptr<LoginState>> m_logins;
    std::map<int32_t, std::shared_ptr<SimHandle>> m_streams;
    int32_t m_nNextHandle = 1;      // handles are never reused, not even after a clean-up
    EventDispatcher m_events;
    std::vector<std::thread> m_graveyard;

    static constexpr size_t kJournalLines = 20000;
    // m_mutex held. A journal line also goes to the journal file, when there is one.
    void AddToJournal(std::string strLine);
    // m_mutex held: keeps the stream (or task) with the streams, noted in the journal file.
    void AddStream(const std::shared_ptr<SimHandle> &stream);
    // m_mutex held: a note of the library's own in the journal file only ("# " and the text).
    void NoteInFile(const std::string &strText);
    std::vector<std::string> m_journal;
    // The file named by KORVEX_JOURNAL, so that a test outside the process can read what the library was asked
    // and what it found still open at each logout and at its clean-up.
    std::FILE *m_pJournalFile = nullptr;
    std::map<std::string, std::deque<int32_t>> m_failNext;
    std::map<std::string, int> m_latency;
    std::map<std::string, std::pair<int32_t, std::string>> m_loginErrors;
    double m_dDownloadSpeed = 8.0;
};
