#include "standin/korvex/KorvexSim.h"

#include "standin/korvex/DeviceConfig.h"
#include "standin/korvex/DownloadTask.h"
#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/LiveClock.h"
#include "standin/korvex/LiveStream.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/PlaybackStream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

thread_local int32_t t_nLastError = 0;

void CopyText(char *pField, size_t nWidth, const std::string &strText)
{
    std::memset(pField, 0, nWidth);
    std::memcpy(pField, strText.data(), std::min(strText.size(), nWidth - 1));
}

VideoSpec SpecOf(const KorvexDevice &dev, int nChannel, int nStreamType)
{
    const StreamProfile &profile = dev.Profile(nStreamType);
    VideoSpec videoSpec;
    videoSpec.strMediaFile = dev.strMediaFile;
    videoSpec.nCodec = profile.nCodec;
    videoSpec.nWidth = profile.nWidth;
    videoSpec.nHeight = profile.nHeight;
    videoSpec.nFrameRate = profile.nFrameRate;
    videoSpec.nLabel = nChannel;
    return videoSpec;
}

const char *KindName(SimStream::Kind eKind)
{
    switch (eKind) {
    case SimStream::Kind::Live: return "live";
    case SimStream::Kind::Playback: return "playback";
    case SimStream::Kind::Download: return "download";
    case SimStream::Kind::Upgrade: return "upgrade";
    case SimStream::Kind::Transfer: return "transfer";
    case SimStream::Kind::Talk: return "talk";
    }
    return "stream";
}

// "live 12, playback 14", or "none".
std::string Describe(const std::vector<std::shared_ptr<SimHandle>> &streams)
{
    std::string strText;
    for (const std::shared_ptr<SimHandle> &stream : streams)
        strText += (strText.empty() ? "" : ", ") + std::string(KindName(stream->GetKind())) + " " +
                   std::to_string(stream->Handle());
    return strText.empty() ? "none" : strText;
}

} // namespace

KorvexSim &KorvexSim::Instance()
{
    static KorvexSim sim;
    return sim;
}

KorvexSim::KorvexSim()
{
    // The loops' library is made first, so that it outlives the simulated library at the process's end; so
    // are the configuration side and the file transfers, whose tasks the clean-up stops.
    MediaLibrary::Instance();
    DeviceConfig::Instance();
    FileTransfer::Instance();
    const char *pJournal = std::getenv("KORVEX_JOURNAL");
    if (pJournal && *pJournal)
        m_pJournalFile = std::fopen(pJournal, "a");
}

KorvexSim::~KorvexSim()
{
    // A process that ends without ZDK_DEV_Cleanup still stops its streams before the statics go.
    Cleanup();
    if (m_pJournalFile)
        std::fclose(m_pJournalFile);
}

void KorvexSim::SetLastError(int32_t nError) { t_nLastError = nError; }
int32_t KorvexSim::LastError() { return t_nLastError; }

void KorvexSim::Record(const std::string &strLine)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    AddToJournal(strLine);
}

void KorvexSim::AddToJournal(std::string strLine)
{
    // At least the last kJournalLines calls are kept, so that a long-running process does not grow by its
    // journal.
    if (m_journal.size() >= 2 * kJournalLines)
        m_journal.erase(m_journal.begin(), m_journal.end() - static_cast<std::ptrdiff_t>(kJournalLines - 1));
    if (m_pJournalFile) {
        std::fprintf(m_pJournalFile, "%s\n", strLine.c_str());
        std::fflush(m_pJournalFile);
    }
    m_journal.push_back(std::move(strLine));
}

void KorvexSim::AddStream(const std::shared_ptr<SimHandle> &stream)
{
    m_streams[stream->Handle()] = stream;
    NoteInFile("login=" + std::to_string(stream->Login()) + ": opened " + KindName(stream->GetKind()) + " " +
               std::to_string(stream->Handle()));
}

void KorvexSim::NoteInFile(const std::string &strText)
{
    if (!m_pJournalFile)
        return;
    std::fprintf(m_pJournalFile, "# %s\n", strText.c_str());
    std::fflush(m_pJournalFile);
}

bool KorvexSim::Enter(const char *pName, const std::string &strArgs, bool bNeedInit)
{
    int nLatency = 0;
    int32_t nForced = 0;
    bool bInitialised = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        AddToJournal(strArgs.empty() ? std::string(pName) : std::string(pName) + " " + strArgs);
        auto itLatency = m_latency.find(pName);
        if (itLatency == m_latency.end())
            itLatency = m_latency.find("");
        if (itLatency != m_latency.end())
            nLatency = itLatency->second;
        auto itFail = m_failNext.find(pName);
        if (itFail != m_failNext.end() && !itFail->second.empty()) {
            nForced = itFail->second.front();
            itFail->second.pop_front();
        }
        bInitialised = m_bInitialised;
    }
    if (nLatency > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(nLatency));
    if (nForced != 0) {
        SetLastError(nForced);
        return false;
    }
    if (bNeedInit && !bInitialised) {
        SetLastError(ZDK_ERR_NOT_INIT);
        return false;
    }
    return true;
}

// ----------------------------------------------------------------------------------------------------------
// Set-up.

int32_t KorvexSim::Init(ZDK_fDisConnect cbDisConnect, void *pUser)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bInitialised) {
        std::string strError;
        std::vector<KorvexDevice> devices = DeviceCatalog::Load(strError);
        if (devices.empty()) {
            std::fprintf(stderr, "korvex stand-in: %s\n", strError.c_str());
            SetLastError(ZDK_ERR_FILE_OPEN);
            return 0;
        }
        m_devices.clear();
        for (KorvexDevice &dev : devices)
            m_devices.push_back(std::make_shared<const KorvexDevice>(std::move(dev)));
        m_events.Start();
        m_bInitialised = true;
    }
    m_cbDisConnect = cbDisConnect;
    m_pDisConnectUser = pUser;
    return 1;
}

int32_t KorvexSim::InitAppInfo(const ZDK_AppAccountInfo *pAccount)
{
    if (!pAccount) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_account = *pAccount;
    return 1;
}

int32_t KorvexSim::UserData(int32_t nType, const char *pData, int32_t nLen)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nUserDataType = nType;
    m_strUserData = pData ? std::string(pData, strnlen(pData, nLen > 0 && nLen < 64 ? static_cast<size_t>(nLen) : 64))
                          : std::string();
    return 1;
}

int32_t KorvexSim::SetMessCallBack(ZDK_fMessCallBack cb, void *pUser)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cbMessage = cb;
        m_pMessageUser = pUser;
    }
    // The callback replaced is not called after this returns.
    m_events.Barrier();
    return 1;
}

int32_t KorvexSim::Cleanup()
{
    if (SimStream::OnLibraryThread()) {
        SetLastError(ZDK_ERR_WRONG_THREAD);
        return 0;
    }
    std::vector<std::shared_ptr<SimHandle>> streams;
    std::vector<std::thread> graveyard;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &entry : m_streams)
            streams.push_back(entry.second);
        if (m_bInitialised)
            NoteInFile("cleanup: logins left open " + std::to_string(m_logins.size()) + "; streams left open: " +
                       Describe(streams));
        // The logins' live clocks end after their streams.
        for (auto &entry : m_logins)
            if (entry.second->pLiveClock)
                streams.push_back(entry.second->pLiveClock);
        m_bInitialised = false;
        m_streams.clear();
        m_logins.clear();
    }
    for (const std::shared_ptr<SimHandle> &stream : streams) {
        std::thread thread = stream->Stop();
        if (thread.joinable())
            graveyard.push_back(std::move(thread));
    }
    m_events.Stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::thread &thread : m_graveyard)
            graveyard.push_back(std::move(thread));
        m_graveyard.clear();
        m_cbDisConnect = nullptr;
        m_pDisConnectUser = nullptr;
        m_cbMessage = nullptr;
        m_pMessageUser = nullptr;
    }
    for (std::thread &thread : graveyard)
        thread.join();
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// Logins.

std::shared_ptr<KorvexSim::LoginState> KorvexSim::FindLogin(int32_t lLogin)
{
    auto it = m_logins.find(lLogin);
    if (it == m_logins.end()) {
        SetLastError(ZDK_ERR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second->bCut) {
        SetLastError(ZDK_ERR_DISCONNECTED);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<KorvexSim::LoginState> KorvexSim::FindLoginChannel(int32_t lLogin, int32_t nChannel)
{
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    if (login && (nChannel < 0 || nChannel >= login->device->ChannelCount())) {
        SetLastError(ZDK_ERR_NO_CHANNEL);
        return nullptr;
    }
    return login;
}

int32_t KorvexSim::Login(const char *pAddress, int32_t nPort, const char *pUser, const char *pPassword, bool bToken,
                         const char *pToken, int32_t nLoginKind, NetDeviceInfo *pInfo, int32_t nConnectKind)
{
    if (!pAddress || !pInfo || (!bToken && (!pUser || !pPassword)) || (bToken && !pToken)) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    if ((bToken && (nConnectKind != ZDK_CONNECT_SERIAL || nLoginKind != ZDK_LOGIN_KIND_TOKEN)) ||
        (!bToken && nConnectKind != ZDK_CONNECT_ADDRESS && nConnectKind != ZDK_CONNECT_SERIAL)) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<const KorvexDevice> device;
    for (const auto &dev : m_devices) {
        const bool bMatch = nConnectKind == ZDK_CONNECT_ADDRESS ? (dev->strIP == pAddress && dev->nPort == nPort)
                                                                : dev->strSerial == pAddress;
        if (bMatch) {
            device = dev;
            break;
        }
    }
    if (!device) {
        SetLastError(ZDK_ERR_CONNECT_FAILED);
        return 0;
    }
    int32_t nForced = device->nLoginError;
    std::string strCloud = device->strCloudError;
    auto itForced = m_loginErrors.find(pAddress);
    if (itForced != m_loginErrors.end()) {
        nForced = itForced->second.first;
        strCloud = itForced->second.second;
    }
    if (nForced != 0) {
        if (nForced == ZDK_ERR_CLOUD)
            CopyText(pInfo->sCloudError, sizeof pInfo->sCloudError, strCloud);
        SetLastError(nForced);
        return 0;
    }
    if (bToken) {
        if (device->strToken != pToken) {
            SetLastError(ZDK_ERR_LOGIN_REFUSED);
            return 0;
        }
    } else if (device->strUser != pUser) {
        SetLastError(ZDK_ERR_NO_USER);
        return 0;
    } else if (device->strPassword != pPassword) {
        SetLastError(ZDK_ERR_PASSWORD);
        return 0;
    }
    // The record comes zeroed with the client flag as input; the flag is kept.
    const int32_t nClientFlag = pInfo->nClientFlag;
    std::memset(pInfo, 0, sizeof *pInfo);
    pInfo->nClientFlag = nClientFlag;
    CopyText(pInfo->sDeviceText1, sizeof pInfo->sDeviceText1, device->strDeviceText1);
    pInfo->nYear = device->nYear;
    pInfo->nMonth = device->nMonth;
    pInfo->nDay = device->nDay;
    CopyText(pInfo->sSerialNumber, sizeof pInfo->sSerialNumber, device->strSerial);
    pInfo->nChannelCountA = device->nChannelCountA;
    pInfo->nChannelCountB = device->nChannelCountB;
    pInfo->nDeviceType = device->nDeviceType;
    CopyText(pInfo->sDeviceText2, sizeof pInfo->sDeviceText2, device->strDeviceText2);
    auto login = std::make_shared<LoginState>();
    login->nHandle = NextHandle();
    login->device = device;
    m_logins[login->nHandle] = login;
    NoteInFile("login=" + std::to_string(login->nHandle) + ": logged in to " + device->strIP + " " + device->strSerial);
    ScheduleEvents(login);
    return login->nHandle;
}

void KorvexSim::ScheduleEvents(const std::shared_ptr<LoginState> &login)
{
    const auto loginTime = SimStream::Now();
    const int32_t lLogin = login->nHandle;
    // A logout forgets the login's events, so those not due by then never run.
    for (const KorvexTimedEvent &ev : login->device->events) {
        if (ev.nAfterDownloadPercent > 0 || ev.bAfterUpgradeStart)
            continue;   // its downloads or upgrades cut the login (Download, CutAfterUpgradeStart)
        const auto at = loginTime + std::chrono::milliseconds(ev.nAfterLoginMs);
        if (ev.bCut) {
            m_events.PostAt(lLogin, at, [this, lLogin] {
                bool bCut = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    bCut = MarkCut(lLogin);
                }
                if (bCut)
                    DeliverDisconnect(lLogin);
            });
        } else {
            m_events.PostAt(lLogin, at, [this, lLogin, ev] {
                DeliverAlarm(lLogin, ev.nChannel, ev.nCode, ev.nStatus, ev.nKind);
            });
        }
    }
}

int32_t KorvexSim::AlarmListen(int32_t lLogin, bool bListen)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_logins.find(lLogin);
    if (it == m_logins.end()) {
        SetLastError(ZDK_ERR_INVALID_HANDLE);
        return 0;
    }
    it->second->bListening = bListen;
    return 1;
}

void KorvexSim::StopStreams(const std::vector<std::shared_ptr<SimHandle>> &streams)
{
    std::vector<std::thread> kept;
    for (const std::shared_ptr<SimHandle> &stream : streams) {
        std::thread thread = stream->Stop();
        if (thread.joinable())
            kept.push_back(std::move(thread));
    }
    if (kept.empty())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::thread &thread : kept)
        m_graveyard.push_back(std::move(thread));
}

int32_t KorvexSim::Logout(int32_t lLogin)
{
    std::vector<std::shared_ptr<SimHandle>> streams;
    std::shared_ptr<LiveClock> pLiveClock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_logins.find(lLogin);
        if (it == m_logins.end()) {
            SetLastError(ZDK_ERR_INVALID_HANDLE);
            return 0;
        }
        pLiveClock = it->second->pLiveClock;
        m_logins.erase(it);
        for (auto itStream = m_streams.begin(); itStream != m_streams.end();) {
            if (itStream->second->Login() == lLogin) {
                streams.push_back(itStream->second);
                itStream = m_streams.erase(itStream);
            } else {
                ++itStream;
            }
        }
        // What the caller left open, which the logout stops now.
        NoteInFile("logout login=" + std::to_string(lLogin) + ": streams left open: " + Describe(streams));
    }
    // The live clock ends after the streams it serves.
    if (pLiveClock)
        streams.push_back(pLiveClock);
    StopStreams(streams);
    m_events.Forget(lLogin);
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// Streams.

template <typename T>
std::shared_ptr<T> KorvexSim::FindStream(int32_t lHandle, SimStream::Kind eKind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_streams.find(lHandle);
    if (it == m_streams.end() || it->second->GetKind() != eKind) {
        SetLastError(ZDK_ERR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(it->second);
}

int32_t KorvexSim::RealPlay(int32_t lLogin, const ZDK_ClientInfo &client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    if (!login)
        return 0;
    if (client.nChannel < 0 || client.nChannel >= login->device->ChannelCount()) {
        SetLastError(ZDK_ERR_NO_CHANNEL);
        return 0;
    }
    if (client.nStreamType != 0 && client.nStreamType != 1) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    const KorvexDevice &dev = *login->device;
    if (!login->pLiveClock) {
        login->pLiveClock = std::make_shared<LiveClock>(lLogin);
        login->pLiveClock->Start();
    }
    auto stream = std::make_shared<LiveStream>(NextHandle(), lLogin, SpecOf(dev, client.nChannel, client.nStreamType),
                                               dev.nAudioType, dev.nAudioRate, login->pLiveClock);
    AddStream(stream);
    stream->Start();
    return stream->Handle();
}

namespace {

// Sets or removes a live stream's V1 or V2 data callback.
template <typename Callback>
int32_t ChangeLiveCallback(const std::shared_ptr<LiveStream> &stream, Callback cb, void *pUser, bool bSet)
{
    if (!stream)
        return 0;
    if (!cb) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    if (bSet) {
        stream->SetCallback(cb, pUser);
        return 1;
    }
    if (!stream->RemoveCallback(cb, pUser)) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return 1;
}

} // namespace

int32_t KorvexSim::SetRealDataCallBack(int32_t lPlay, ZDK_fRealDataCallBack cb, void *pUser, bool bSet)
{
    return ChangeLiveCallback(FindStream<LiveStream>(lPlay, SimStream::Kind::Live), cb, pUser, bSet);
}

int32_t KorvexSim::SetRealDataCallBackV2(int32_t lPlay, ZDK_fRealDataCallBack_V2 cb, void *pUser, bool bSet)
{
    return ChangeLiveCallback(FindStream<LiveStream>(lPlay, SimStream::Kind::Live), cb, pUser, bSet);
}

int32_t KorvexSim::StopStream(int32_t lHandle, SimHandle::Kind eKind)
{
    std::shared_ptr<SimHandle> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_streams.find(lHandle);
        if (it == m_streams.end() || it->second->GetKind() != eKind) {
            SetLastError(ZDK_ERR_INVALID_HANDLE);
            return 0;
        }
        stream = it->second;
        m_streams.erase(it);
    }
    StopStreams({stream});
    return 1;
}

int32_t KorvexSim::SetStreamOption(int32_t lLogin, int32_t nChannel, int32_t nStreamType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLoginChannel(lLogin, nChannel);
    if (!login)
        return 0;
    if (nStreamType != 0 && nStreamType != 1) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return 1;
}

bool KorvexSim::RecordingRequest(bool bArguments, int32_t nStreamType, bool bSpan, int64_t nBegin, int64_t nEnd)
{
    if (!bArguments || nStreamType < 0 || nStreamType > 1) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return false;
    }
    if (bSpan && !(nBegin > 0 && nEnd > nBegin)) {
        SetLastError(ZDK_ERR_NO_RECORD);
        return false;
    }
    return true;
}

int32_t KorvexSim::PlayBack(int32_t lLogin, int32_t nChannel, int32_t nStreamType, int64_t nBegin, int64_t nEnd,
                            ZDK_fRealDataCallBack cbData, void *pDataUser, ZDK_fDownLoadPosCallBack cbPos,
                            void *pPosUser)
{
    if (!RecordingRequest(cbData != nullptr, nStreamType, true, nBegin, nEnd))
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLoginChannel(lLogin, nChannel);
    if (!login)
        return 0;
    const KorvexDevice &dev = *login->device;
    auto stream = std::make_shared<PlaybackStream>(NextHandle(), lLogin, SpecOf(dev, nChannel, nStreamType),
                                                   dev.nAudioType, dev.nAudioRate, nBegin, (nEnd - nBegin) * 1000,
                                                   cbData, pDataUser, cbPos, pPosUser);
    AddStream(stream);
    stream->Start();
    return stream->Handle();
}

int32_t KorvexSim::PlayBackControl(int32_t lPlay, int32_t nCommand, int32_t nValue)
{
    std::shared_ptr<PlaybackStream> stream = FindStream<PlaybackStream>(lPlay, SimStream::Kind::Playback);
    if (!stream)
        return 0;
    if (!stream->Control(nCommand, nValue)) {
        SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    return 1;
}

int32_t KorvexSim::Download(int32_t lLogin, int32_t nChannel, int32_t nStreamType, int64_t nBegin, int64_t nEnd,
                            const char *pFileName, const char *pPath, ZDK_fDownLoadPosCallBack cbPos, void *pUser)
{
    const bool bPicture = pFileName && std::strstr(pFileName, ".jpg") != nullptr;
    if (!RecordingRequest(pPath && *pPath, nStreamType, !bPicture, nBegin, nEnd))
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLoginChannel(lLogin, nChannel);
    if (!login)
        return 0;
    FilePtr file(std::fopen(pPath, "wb"));
    if (!file) {
        SetLastError(ZDK_ERR_FILE_OPEN);
        return 0;
    }
    const KorvexDevice &dev = *login->device;
    int nCutPercent = 0;
    for (const KorvexTimedEvent &ev : dev.events)
        if (ev.nAfterDownloadPercent > 0 && (nCutPercent == 0 || ev.nAfterDownloadPercent < nCutPercent))
            nCutPercent = ev.nAfterDownloadPercent;
    DownloadTask::Cut cut;
    if (nCutPercent > 0)
        cut = {nCutPercent, [this, lLogin] { CutLogin(lLogin); }};
    auto task = std::make_shared<DownloadTask>(NextHandle(), lLogin, SpecOf(dev, nChannel, nStreamType),
                                               dev.nAudioType, dev.nAudioRate, nBegin, (nEnd - nBegin) * 1000, bPicture,
                                               std::move(file), m_dDownloadSpeed, std::move(cut), cbPos, pUser);
    AddStream(task);
    task->Start();
    return task->Handle();
}

int32_t KorvexSim::QueryValue(int32_t lLogin, const ZDK_QueryInfo &query, int32_t *pResult)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    if (!login)
        return 0;
    auto it = login->device->queries.find(std::make_tuple(query.nCommand, query.nChannel, query.nParam));
    if (it == login->device->queries.end()) {
        SetLastError(ZDK_ERR_NOT_SUPPORTED);
        return 0;
    }
    *pResult = it->second;
    return 1;
}

// ----------------------------------------------------------------------------------------------------------
// Tasks of the device side in files of their own.

std::shared_ptr<const KorvexDevice> KorvexSim::LoginDevice(int32_t lLogin)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    return login ? login->device : nullptr;
}

int32_t KorvexSim::StartTask(int32_t lLogin, const TaskMaker &make)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    if (!login)
        return 0;
    std::shared_ptr<SimStream> task = make(m_nNextHandle, login->device);
    if (!task)
        return 0;
    NextHandle();
    AddStream(task);
    task->Start();
    return task->Handle();
}

std::shared_ptr<SimStream> KorvexSim::FindTask(int32_t lHandle, SimStream::Kind eKind)
{
    return FindStream<SimStream>(lHandle, eKind);  // the kinds of tasks, each a SimStream
}

// ----------------------------------------------------------------------------------------------------------
// Control.

std::vector<std::string> KorvexSim::Journal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_journal;
}

void KorvexSim::ClearJournal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
}

void KorvexSim::FailNextCall(const std::string &strName, int32_t nError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failNext[strName].push_back(nError);
}

void KorvexSim::SetLatency(const std::string &strName, int nMilliseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nMilliseconds > 0)
        m_latency[strName] = nMilliseconds;
    else
        m_latency.erase(strName);
}

void KorvexSim::SetLoginError(const std::string &strAddressOrSerial, int32_t nError, const std::string &strCloudText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nError == 0)
        m_loginErrors.erase(strAddressOrSerial);
    else
        m_loginErrors[strAddressOrSerial] = std::make_pair(nError, strCloudText);
}

void KorvexSim::SetDownloadSpeed(double dSpeed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dDownloadSpeed = dSpeed < 0 ? 0 : dSpeed;
}

bool KorvexSim::MarkCut(int32_t lLogin)
{
    auto it = m_logins.find(lLogin);
    if (it == m_logins.end() || it->second->bCut)
        return false;
    it->second->bCut = true;
    for (auto &entry : m_streams)
        if (entry.second->Login() == lLogin)
            entry.second->Break();
    return true;
}

void KorvexSim::DeliverDisconnect(int32_t lLogin)
{
    ZDK_fDisConnect cb = nullptr;
    void *pUser = nullptr;
    std::shared_ptr<const KorvexDevice> device;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_logins.find(lLogin);
        if (it == m_logins.end())
            return;
        device = it->second->device;
        cb = m_cbDisConnect;
        pUser = m_pDisConnectUser;
    }
    if (cb)
        cb(lLogin, device->strIP.c_str(), device->nPort, pUser);
}

void KorvexSim::DeliverAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind)
{
    ZDK_fMessCallBack cb = nullptr;
    void *pUser = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_logins.find(lLogin);
        if (it == m_logins.end() || it->second->bCut || !it->second->bListening)
            return;
        cb = m_cbMessage;
        pUser = m_pMessageUser;
    }
    if (!cb)
        return;
    ZDK_AlarmInfo alarm{};
    alarm.nChannel = nChannel;
    alarm.nEvent = nEvent;
    alarm.nStatus = nStatus;
    const time_t t = std::time(nullptr);
    struct tm local;
    localtime_r(&t, &local);
    std::strftime(alarm.sTime, sizeof alarm.sTime, "%Y-%m-%d %H:%M:%S", &local);
    cb(lLogin, reinterpret_cast<const char *>(&alarm), sizeof alarm, pUser, nKind);
}

void KorvexSim::CutAfterUpgradeStart(int32_t lLogin)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<LoginState> login = FindLogin(lLogin);
    if (!login)
        return;
    for (const KorvexTimedEvent &ev : login->device->events)
        if (ev.bAfterUpgradeStart) {
            // Never inside the call that started the upgrade: the cut comes from the event thread after it.
            m_events.Post(lLogin, [this, lLogin] { CutLogin(lLogin); });
            return;
        }
}

bool KorvexSim::CutLogin(int32_t lLogin)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!MarkCut(lLogin))
        return false;
    m_events.Post(lLogin, [this, lLogin] { DeliverDisconnect(lLogin); });
    return true;
}

bool KorvexSim::RaiseAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_logins.find(lLogin);
    if (it == m_logins.end() || it->second->bCut || !it->second->bListening || !m_cbMessage)
        return false;
    m_events.Post(lLogin, [this, lLogin, nChannel, nEvent, nStatus, nKind] {
        DeliverAlarm(lLogin, nChannel, nEvent, nStatus, nKind);
    });
    return true;
}

int KorvexSim::OpenLogins()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_logins.size());
}

int KorvexSim::OpenStreams()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_streams.size());
}

std::vector<KorvexDevice> KorvexSim::Devices()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<KorvexDevice> devices;
    for (const auto &dev : m_devices)
        devices.push_back(*dev);
    return devices;
}

bool KorvexSim::IsInitialised()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bInitialised;
}

ZDK_AppAccountInfo KorvexSim::Account()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_account;
}

int KorvexSim::UserDataType()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nUserDataType;
}

std::string KorvexSim::UserDataText()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strUserData;
}

void KorvexSim::Reset()
{
    Cleanup();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.clear();
    m_failNext.clear();
    m_latency.clear();
    m_loginErrors.clear();
    m_dDownloadSpeed = 8.0;
    m_account = ZDK_AppAccountInfo{};
    m_nUserDataType = 0;
    m_strUserData.clear();
    m_devices.clear();
}
