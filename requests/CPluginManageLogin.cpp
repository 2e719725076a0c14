// Login, logout and re-login: the device side (loginDev, logoutDev) and the plug-in window's set-up and end.

#include "requests/CPluginManage.h"

#include "device/CQZConnect.h"
#include "device/CTalk.h"
#include "requests/WebMessage.h"
#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/MemoryRelease.h"
#include "runtime/ResultCodes.h"
#include "windows/PlayWidget.h"

#include <QApplication>
#include <QFile>

#include <cstring>
#include <exception>

namespace {

// What a login request gives, with the defaults of what it leaves out.
struct LoginRequest
{
    int nLoginType = 0;
    QString strTitle;
    QString strIP;
    QString strSN;
    QString strToken;
    QString strAlarmStyle;
    QString strUser;
    QString strPassword;
    int nPort = 0;
    int nBrowse = 0;
    QString strWebType;
    bool bSampleRate16 = false;
    int nDefaultWndNum = -1;
    QString strSetupName;
};

QString Text(const Json::Value &value) { return QString::fromStdString(value.asString()); }

// Reads in the request's order, so that a value of the wrong type leaves what came before it read.
void ReadLoginRequest(const Json::Value &request, LoginRequest &in)
{
    const Json::Value &device = request["Device"];
    if (device["LoginType"].isInt())
        in.nLoginType = device["LoginType"].asInt();
    if (request["Title"].isString())
        in.strTitle = Text(request["Title"]);
    switch (in.nLoginType) {
    case 0:
        in.strIP = Text(device["IP"]);
        break;
    case 1:
        in.strSN = Text(device["SN"]);
        if (request["AlarmStyle"].isString())
            in.strAlarmStyle = Text(request["AlarmStyle"]);
        break;
    case 2:
        LOGN("fasjnflk  token", "CPluginManage::onMainMsgLogin");
        in.strSN = Text(device["SN"]);
        in.strToken = Text(device["tcsToken"]);
        if (request["AlarmStyle"].isString())
            in.strAlarmStyle = Text(request["AlarmStyle"]);
        break;
    default:
        break;
    }
    in.strUser = Text(device["User"]);
    in.strPassword = Text(device["Password"]);
    in.nPort = device["Port"].asInt();
    in.nBrowse = request["Browse"].asInt();
    if (request["WebType"].isString())
        in.strWebType = Text(request["WebType"]);
    in.bSampleRate16 = request["SampleRate_16"].asBool();
    if (request["DefaultWndNum"].isInt())
        in.nDefaultWndNum = request["DefaultWndNum"].asInt();
    if (request["SetupName"].isString())
        in.strSetupName = Text(request["SetupName"]);
}

// The browser kinds whose content window is searched for at login.
bool SearchesContentWindow(int nBrowse) { return nBrowse == 0 || nBrowse == 2 || nBrowse == 6 || nBrowse == 9; }

// The screen's scale in percent, or 1 without a screen context (GUI thread).
int DpiRadio()
{
    HDC hDC = GetDC(nullptr);
    if (!hDC)
        return 1;
    const int nDpi = GetDeviceCaps(hDC, LOGPIXELSX);
    ReleaseDC(nullptr, hDC);
    return nDpi * 100 / 96;
}

// The plug-in window when there is one: a logout hides and destroys it but never makes one (GUI thread).
PlayWidget *ExistingPlayWidget()
{
    for (QWidget *pWidget : QApplication::topLevelWidgets())
        if (PlayWidget *pPlayWidget = qobject_cast<PlayWidget *>(pWidget))
            return pPlayWidget;
    return nullptr;
}

// The token is Latin-1, one byte a character: any cut lies between characters.
template <std::size_t N>
void CopyLatin1(char (&field)[N], const QString &strText)
{
    FixedText::Copy(field, strText.toLatin1().left(static_cast<int>(N) - 1));
}

} // namespace

HWND CPluginManage::GetBrowserWndID(int /*nBrowseType*/, const QString &strName)
{
    const HWND hWnd = GetForegroundWindow();
    WCHAR title[257] = {};
    const int nLength = hWnd ? GetWindowTextW(hWnd, title, 257) : 0;
    const QString strTitle = QString::fromUtf16(title, nLength > 0 ? nLength : 0);
    LOGN(QString("Name=%1 Hwnd=%2 WindName=%3")
             .arg(strTitle)
             .arg(static_cast<qulonglong>(reinterpret_cast<quintptr>(hWnd)))
             .arg(strName),
         "GetBrowserWndID");
    return hWnd && strTitle.contains(strName, Qt::CaseSensitive) ? hWnd : nullptr;
}

int CPluginManage::SplitIndexFromCount(int nCount)
{
    static const int kLimits[] = {1, 4, 9, 16, 25, 36, 64};
    if (nCount > 64)
        return 0;
    for (int i = 0; i < static_cast<int>(std::size(kLimits)); ++i)
        if (nCount <= kLimits[i])
            return i;
    return 0;
}

bool CPluginManage::SecondDeviceFlag() const
{
    const DevLoginInfo &info = m_login.m_stDevLoginInfo;
    return info.DeviceType == 2 && info.ChannelTotal > 1 && info.ChannelCountA > 0;
}

void CPluginManage::onMainMsgLogin(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgLogin";
    WebMessage reply = WebMessage::Reply(request);
    CQZConnect::GetInstance();

    LoginRequest in;
    try {
        ReadLoginRequest(request, in);
    } catch (const std::exception &) {
        LOGE("something error happened", strTag);
    }
    if (in.strTitle.isEmpty())
        in.strTitle = in.nLoginType < 1 ? QStringLiteral("Web Viewer") : QStringLiteral("velmok");

    HWND hTopWnd = nullptr;
    HWND hClientWnd = nullptr;
    int nDpiRadio = 1;
    const QString strWndHandle = m_strWndHandle;
    returnToMainThreadSync([&] {
        if (!strWndHandle.isEmpty()) {
            LOGN(QString("WndHandle %1").arg(strWndHandle), strTag);
            hTopWnd = reinterpret_cast<HWND>(static_cast<quintptr>(strWndHandle.toULongLong(nullptr, 16)));
        } else {
            hTopWnd = GetBrowserWndID(in.nBrowse, in.strTitle);
        }
        if (hTopWnd && SearchesContentWindow(in.nBrowse))
            hClientWnd = PlayWidget::ErgodicAllChild(hTopWnd, in.nBrowse, 0);
        nDpiRadio = DpiRadio();
    });

    int nRet = RET_WIDGET_FAIL;
    if (hTopWnd) {
        LoginMembers &login = m_login;
        login.m_bSampleRate16 = in.bSampleRate16;
        login.m_strWebType = in.strWebType;
        login.m_strSetupName = in.strSetupName;
        if (login.m_stDevLoginInfo.LoginHandle > 0)
            logoutDev();

        DevLoginInfo &info = login.m_stDevLoginInfo;
        std::memset(&info, 0, sizeof info);
        switch (in.nLoginType) {
        case 0:
            FixedText::Copy(info.IP, in.strIP);
            break;
        case 1:
            FixedText::Copy(info.SN, in.strSN);
            break;
        case 2:
            FixedText::Copy(info.SN, in.strSN);
            CopyLatin1(info.Token, in.strToken);
            break;
        default:
            break;
        }
        info.LoginType = in.nLoginType;
        FixedText::Copy(info.User, in.strUser);
        FixedText::Copy(info.Password, in.strPassword);
        FixedText::Copy(info.AlarmStyle, in.strAlarmStyle);
        info.Port = in.nPort;

        nRet = loginDev();
        if (nRet == RET_SUCCESS) {
            login.m_bFirstDevice = info.DeviceType == 2 || info.ChannelTotal == 1;
            const bool bSecondDevice = SecondDeviceFlag();
            if (info.ChannelTotal < 1 || info.ChannelTotal > 64) {
                logoutDev();
                LOGN("WebDevInfoAbnorma", strTag);
                nRet = RET_DEVINFO_ABNORMAL;
            } else {
                CDataCenter::GetInstance()->InitToolInfo(in.strWebType.toLocal8Bit().constData(),
                                                         in.strSetupName.toLocal8Bit().constData());
                LOGN(QString("channel num=%1").arg(info.ChannelTotal), strTag);
                int nSplit = SplitIndexFromCount(info.ChannelTotal);
                if (in.nDefaultWndNum > 0 && in.nDefaultWndNum < info.ChannelTotal)
                    nSplit = SplitIndexFromCount(in.nDefaultWndNum);
                const int lLoginID = info.LoginHandle;
                const bool bFirstDevice = login.m_bFirstDevice;
                PlayWidget *pWidget = nullptr;
                returnToMainThreadSync([&] {
                    pWidget = PlayWidget::GetInstance();
                    pWidget->AttachBrowser(hTopWnd, hClientWnd, in.strTitle, in.nBrowse);
                    pWidget->SetSkin(in.strWebType);
                    pWidget->SetDeviceInfo(lLoginID, bFirstDevice, bSecondDevice);
                    pWidget->SetPageIndex(PAGE_REALPLAY);
                    pWidget->ChangeSplit(nSplit);
                });
                // The window is the GUI thread's: connecting to it from here only uses its address.
                connect(pWidget, &PlayWidget::curWndIndexSig, this, &CPluginManage::onCurWndIndexChange,
                        Qt::UniqueConnection);
                connect(pWidget, &PlayWidget::changePTZELectPage, this, &CPluginManage::onChangePTZELectPage,
                        Qt::UniqueConnection);
                m_download.m_strDownloadPicPath.clear();
            }
        } else {
            reply["ErrorCode"] = login.m_nLoginError;
            if (nRet == RET_CLOUD_ERROR)
                reply["CloudErrCode"] =
                    FixedText::ReadLocal(info.CloudError).toStdString();
        }
    }

    // Pages that send no "MsgID" expect the flag as a number.
    const bool bAdjust = hClientWnd != nullptr;
    if (!request["MsgID"].isNull())
        reply["adjustBytool"] = bAdjust;
    else
        reply["adjustBytool"] = bAdjust ? 1 : 0;
    reply["Id"] = m_nSessionId;
    reply["DPIRadio"] = nDpiRadio;
    reply.SetRet(nRet);
    sendWebSocketMsg(reply.ToQString(), 1);
}

int CPluginManage::loginDev()
{
    CQZConnect *pConnect = CQZConnect::GetInstance();
    LoginMembers &login = m_login;
    DevLoginInfo &info = login.m_stDevLoginInfo;
    // Exactly "Tool" with its terminating zero.
    if (std::memcmp(info.AlarmStyle, "Tool", 5) == 0) {
        pConnect->SetMessCallBack(&CPluginManage::AlarmMessCallBack, this);
        login.m_bMessCallBack = true;
    }
    int nError = 0;
    const int lLogin = pConnect->ConnectDevice(info, nError, login.m_strWebType.toLocal8Bit().constData());
    info.LoginHandle = lLogin;
    if (lLogin <= 0) {
        login.m_nLoginError = lLogin;
        // No logout follows a login that failed: its alarm callback goes now.
        if (login.m_bMessCallBack) {
            pConnect->SetMessCallBack(nullptr, nullptr);
            login.m_bMessCallBack = false;
        }
        return nError;
    }
    LOGN(QString("loginDev----------devType:%1").arg(info.DeviceType), "CPluginManage::loginDev");
    return RET_SUCCESS;
}

void CPluginManage::logoutDev()
{
    const QString strTag = "CPluginManage::logoutDev";
    if (m_talk.m_pTalk) {
        m_talk.m_pTalk->StopTalk();
        m_talk.m_pTalk.reset();
    }
    CQZConnect *pConnect = CQZConnect::GetInstance();
    DevLoginInfo &info = m_login.m_stDevLoginInfo;

    // Every channel with a stream is closed, whatever the device's channel count says.
    LOGN("stop preview begin", strTag);
    for (int nChannel = 0; nChannel < 64; ++nChannel) {
        if (info.RealPlayHandle[nChannel] <= 0)
            continue;
        StopLiveStream(nChannel);
        WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
    }
    LOGN("stop preview end", strTag);

    StopPlaybackPanes();
    LOGN("PlaybackStop end", strTag);
    StopDownload();

    StopColorPreview();
    CloseUpgrades();

    if (info.LoginHandle > 0) {
        pConnect->DisconnectDevice(info.LoginHandle);
        info.LoginHandle = 0;
    }
    // A later login must not hear this one's device: the callback goes with the login that registered it.
    if (m_login.m_bMessCallBack) {
        pConnect->SetMessCallBack(nullptr, nullptr);
        m_login.m_bMessCallBack = false;
    }
}

void CPluginManage::StopPlaybackPanes()
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    for (int nPane = 0; nPane < 4; ++nPane) {
        const int lPlay = info.PlaybackHandle[nPane];
        if (lPlay <= 0)
            continue;
        CQZConnect::GetInstance()->EndPlayback(lPlay);
        WithPlayWidget([nPane](PlayWidget &widget) { widget.PlaybackStop(nPane); });
        info.PlaybackHandle[nPane] = 0;
    }
}

void CPluginManage::KillPlaybackTimers()
{
    for (int *pTimerId : {&m_panes.m_nWndTimerId, &m_panes.m_nBufferTimerId}) {
        if (*pTimerId != 0)
            killTimer(*pTimerId);
        *pTimerId = 0;
    }
}

void CPluginManage::StopDownload()
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    m_download.m_bDownloadStop = true;
    if (info.DownloadHandle == 0)
        return;
    m_download.m_mapConvertFiles.clear();
    const int32_t lHandle = info.DownloadHandle;
    CQZConnect::GetInstance()->StopDownLoad(lHandle);
    info.DownloadHandle = 0;
    KeepPartialDownload(lHandle);
}

void CPluginManage::StopColorPreview()
{
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    CQZConnect *pConnect = CQZConnect::GetInstance();
    if (info.ColorPlayHandle > 0) {
        pConnect->DisconnectChannel(info.ColorPlayHandle, &CPluginManage::RealDataCallBack, this);
        WithPlayWidget([](PlayWidget &widget) { widget.ColorPreviewStop(); });
        info.ColorPlayHandle = -1;
    }
    if (info.ColorLoginHandle > 0) {
        pConnect->DisconnectDevice(info.ColorLoginHandle);
        info.ColorLoginHandle = -1;
    }
}

void CPluginManage::onMainMsgLogout(const Json::Value &)
{
    const QString strTag = "CPluginManage::onMainMsgLogout";
    // Not waited for; it captures nothing of this call.
    emit returnToMainThreadAsyncSig([] {
        if (PlayWidget *pWidget = ExistingPlayWidget())
            pWidget->onWidgetStatuChange(WebCtrlHide, PluginRegion{0, 0, 0, 0});
    });
    LOGN(QString("logout nSessionID=%1").arg(m_nSessionId), strTag);
    LOGN("killTimer", strTag);
    KillPlaybackTimers();

    logoutDev();

    LOGN("release data begin", strTag);
    QString &strPicPath = m_download.m_strDownloadPicPath;
    if (!strPicPath.isEmpty() && QFile::exists(strPicPath))
        QFile::remove(strPicPath);
    strPicPath.clear();
    std::vector<DownloadFileEntry>().swap(m_download.m_vecDownloadList);
    std::vector<PlaybackFileEntry>().swap(m_panes.m_vecFileList);
    LOGN("release data end", strTag);

    returnToMainThreadSync([] { PlayWidget::DestroyInstance(); });
    // The window and its decode threads are gone: what they freed goes back, so that it does not count against
    // the next login's memory budget.
    MemoryRelease::GiveBack();
}

void CPluginManage::SaveChannel(int nChannel)
{
    int nWnd = -1;
    int nStream = 0;
    WithPlayWidget([&](PlayWidget &widget) {
        PlayWidget *pWidget = &widget;
        nWnd = pWidget->GetWndIndexByChannel(PAGE_REALPLAY, nChannel);
        nStream = pWidget->GetStreamType(nChannel);
    });
    ChannelRestoreTable &table = m_login.m_stDevLoginInfo.RestoreTable;
    table.Wnd[nChannel] = static_cast<uint8_t>(nWnd);
    table.Entry[nChannel] = static_cast<uint8_t>(1 | (nStream == 1 ? 2 : 0));
}

void CPluginManage::onMainMsgReLogin(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    // Read before the login is closed, so that a request that cannot be read leaves it open.
    const Json::Value &address = request["IPAddress"];
    const bool bNewAddress = !address.isNull();
    const QByteArray newAddress = bNewAddress ? QByteArray::fromStdString(address.asString()) : QByteArray();

    for (int nChannel = 0; nChannel < 64; ++nChannel)
        if (info.RealPlayHandle[nChannel] > 0)
            SaveChannel(nChannel);
    if (info.LoginHandle > 0)
        logoutDev();
    if (bNewAddress)
        FixedText::Copy(info.IP, newAddress);

    int nRet = loginDev();
    if (nRet == RET_SUCCESS) {
        if (info.ChannelTotal < 1 || info.ChannelTotal > 64) {
            logoutDev();
            nRet = RET_DEVINFO_ABNORMAL;
        } else {
            const int lLoginID = info.LoginHandle;
            const bool bFirstDevice = m_login.m_bFirstDevice;
            const bool bSecondDevice = SecondDeviceFlag();
            // The window of the login; after a logout there is none, and a re-login makes none.
            WithPlayWidget([&](PlayWidget &widget) { widget.SetDeviceInfo(lLoginID, bFirstDevice, bSecondDevice); });
        }
    }
    reply["Id"] = m_nSessionId;
    reply["SerialNo"] = FixedText::ReadLocal(info.SN).toStdString();
    reply.SetRet(nRet);
    sendWebSocketMsg(reply.ToQString(), 1);
}
