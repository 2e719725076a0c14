// Small requests of the live and colour pages: the configuration snapshot of a channel, the colour page's preview
// over a second login, electronic PTZ, the two-lens zoom step, the smart-rule overlay and a fresh key text.

#include "requests/CPluginManage.h"

#include "device/CQZConnect.h"
#include "requests/WebMessage.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "runtime/SecretMask.h"
#include "windows/PlayWidget.h"
#include "windows/SmartRuleInfo.h"

#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// How long a channel opened only for a configuration snapshot plays before the picture is taken.
constexpr std::chrono::milliseconds kCaptureSettle(2000);

// The key text: 16 printable characters from "!" to "~".
constexpr int kKeyLength = 16;
constexpr int kKeyFirst = 33;
constexpr int kKeyAlphabet = 94;

uint8_t Byte(const Json::Value &value) { return static_cast<uint8_t>(value.asInt()); }

} // namespace

void CPluginManage::onMainMsgCapturePicture(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgCapturePicture";
    const int nChannel = request["SubType"].asInt();
    WebMessage reply = WebMessage::Reply(request["MainType"].asInt(), nChannel, request, "Channel");
    DevLoginInfo &info = m_login.m_stDevLoginInfo;

    int nResult = -1;
    if (nChannel < 0 || nChannel > 63) {
        LOGW(QString("no live channel %1").arg(nChannel), strTag);
    } else if (info.RealPlayHandle[nChannel] < 1) {
        // Opened for the picture only, in no tile (the current window keeps its channel), and closed again
        // whatever happens on the way.
        int nPlay = -1;
        WithPlayWidget([&](PlayWidget &widget) { nPlay = widget.CapturePreviewPlay(0, nChannel); });
        if (nPlay >= 0) {
            CQZConnect *pConnect = CQZConnect::GetInstance();
            void *pUser = ZDK_ChannelToUser(nChannel);
            int lPlay = pConnect->ConnectChanel(info.LoginHandle, nChannel, 0, &CPluginManage::CaptureDataCallBack,
                                                pUser);
            if (lPlay == 0)
                lPlay = -1;
            info.RealPlayHandle[nChannel] = lPlay;
            if (lPlay > 0) {
                if (pConnect->SetStreamOpt(info.LoginHandle, nChannel, 0)) {
                    std::this_thread::sleep_for(kCaptureSettle);
                    WithPlayWidget([&](PlayWidget &widget) { nResult = widget.Snapshot(nChannel, true); });
                }
                pConnect->DisconnectChannel(lPlay, &CPluginManage::CaptureDataCallBack, pUser);
                info.RealPlayHandle[nChannel] = 0;
            }
            WithPlayWidget([nChannel](PlayWidget &widget) { widget.PreviewStop(nChannel); });
        }
    } else {
        WithPlayWidget([&](PlayWidget &widget) { nResult = widget.Snapshot(nChannel, true); });
    }
    reply.SetRet(nResult < 0 ? RET_FAIL : RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgColorPreview(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgColorPreview";
    const int nSubType = request["SubType"].asInt();
    if (nSubType != 0 && nSubType != 1)
        return;
    WebMessage reply = WebMessage::Reply(request);
    // Read before the running preview is stopped, so that a request that cannot be read changes nothing.
    const int nChannel = nSubType == 0 ? request["Channel"].asInt() : 0;
    const int nStream = nSubType == 0 ? request["Stream"].asInt() : 0;
    StopColorPreview();
    if (nSubType == 1) {
        reply.SetRet(RET_SUCCESS);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    CQZConnect *pConnect = CQZConnect::GetInstance();

    // The same device and user, but the page hears of alarms and a lost connection through the first login
    // only: this one listens for no alarm, and its disconnection is not reported.
    DevLoginInfo second = info;
    std::memset(second.AlarmStyle, 0, sizeof second.AlarmStyle);
    int nError = 0;
    const int lLogin = pConnect->ConnectDevice(second, nError, m_login.m_strWebType.toLocal8Bit().constData());
    if (lLogin < 1) {
        info.ColorLoginHandle = -1;
        reply.SetRet(RET_LOGIN_FAIL);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }
    info.ColorLoginHandle = lLogin;
    m_view.m_nColorLoginID = lLogin;

    int nStart = -1;
    WithPlayWidget([&](PlayWidget &widget) { nStart = widget.ColorPreviewStart(nStream); });
    if (nStart < 0) {
        LOGW(QString("the colour page does not play, second login %1 ends").arg(lLogin), strTag);
        info.ColorPlayHandle = -1;
        pConnect->DisconnectDevice(lLogin);
        info.ColorLoginHandle = -1;
        reply.SetRet(RET_WND_FAIL);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }
    int lPlay = pConnect->ConnectChanel(lLogin, nChannel, nStream, &CPluginManage::RealDataCallBack, this);
    if (lPlay == 0)
        lPlay = -1;
    info.ColorPlayHandle = lPlay;
    if (lPlay > 0) {
        reply.SetRet(RET_SUCCESS);
    } else {
        WithPlayWidget([](PlayWidget &widget) { widget.ColorPreviewStop(); });
        pConnect->DisconnectDevice(lLogin);
        info.ColorLoginHandle = -1;
        reply.SetRet(RET_OPEN_CHANNEL_FAIL);
    }
    sendWebSocketMsg(reply.ToQString(), 1);
}

bool CPluginManage::IsColorLogin(int32_t lLoginID) const
{
    return lLoginID > 0 && lLoginID == m_view.m_nColorLoginID.load();
}

void CPluginManage::onMainMsgElectPTZ(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    const int nChannel = request["Channel"].asInt();
    // Read here, on the request thread: only the operation itself runs on the GUI thread.
    const int nStep = nSubType >= 0 && nSubType <= 5 ? request["Step"].asInt() : 0;
    const int nPreset = nSubType >= 6 && nSubType <= 8 ? request["Preset"].asInt() : 0;
    int nResult = RET_UNSUPPORTED;
    const bool bWindow = WithPlayWidget([&](PlayWidget &widget) {
        switch (nSubType) {
        case 0: case 1: case 2: case 3:
            nResult = widget.PTZElectronicMove(nChannel, nSubType, nStep);
            break;
        case 4:
            nResult = widget.PTZElectZoomOut(nChannel, nStep);
            break;
        case 5:
            nResult = widget.PTZElectZoomIn(nChannel, nStep);
            break;
        case 6: case 7: case 8:
            nResult = widget.PTZElectPresent(nChannel, nSubType, nPreset);
            break;
        case 9:
            nResult = widget.PTZElectRedu(nChannel);
            break;
        case 10:
            nResult = widget.PTZElectOpen(nChannel, -1);
            break;
        default:
            break;
        }
    });
    // Without a window (logged out) a command is not carried out.
    if (!bWindow && nSubType >= 0 && nSubType <= 10)
        nResult = 0;
    reply.SetRet(nResult < 1 ? RET_FAIL : RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgScaleSwitch(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nDirection = request["SubType"].asInt();
    const int nSpeed = request["Speed"].asInt();
    WithPlayWidget([&](PlayWidget &widget) { widget.ScaleSwitch(nDirection, nSpeed); });
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::FillSmartRule(const Json::Value &request, SmartRuleInfo &info)
{
    std::memset(&info, 0, sizeof info);
    info.Channel = request["Channel"].asInt() & 0xFF;
    // The block holds SMART_RULE_MAX rules and SMART_RULE_MAX_POINTS points a region; larger counts would
    // send the overlay's drawing past them.
    info.AreaNum = std::clamp(request["AreaNum"].asInt(), 0, SMART_RULE_MAX);
    info.LineNum = std::clamp(request["LineNum"].asInt(), 0, SMART_RULE_MAX);
    info.ShowRule = Byte(request["ShowRule"]);
    const Json::Value &rules = request["PedRule"];
    const int nRules = std::min(static_cast<int>(rules.size()), SMART_RULE_MAX);
    for (int i = 0; i < nRules; ++i) {
        const Json::Value &in = rules[i];
        SmartRule &rule = info.PedRule[i];
        rule.Enable = Byte(in["Enable"]);
        rule.RuleType = Byte(in["RuleType"]);
        const Json::Value &line = in["RuleLine"];
        rule.LineAlarmDirect = Byte(line["AlarmDirect"]);
        const Json::Value &linePts = line["Pts"];
        rule.StartX = linePts["StartX"].asInt();
        rule.StartY = linePts["StartY"].asInt();
        rule.StopX = linePts["StopX"].asInt();
        rule.StopY = linePts["StopY"].asInt();
        const Json::Value &region = in["RuleRegion"];
        rule.RegionAlarmDirect = Byte(region["AlarmDirect"]);
        rule.PtsNum = std::clamp(region["PtsNum"].asInt(), 0, SMART_RULE_MAX_POINTS);
        const Json::Value &pts = region["Pts"];
        const int nPoints = std::min(static_cast<int>(pts.size()), SMART_RULE_MAX_POINTS);
        for (int j = 0; j < nPoints; ++j) {
            rule.Pts[j].X = pts[j]["X"].asInt();
            rule.Pts[j].Y = pts[j]["Y"].asInt();
        }
    }
}

void CPluginManage::onMainMsgSmartRule(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    reply["WndNum"] = 0;
    reply["Chn"] = 0;
    SmartRuleInfo info;
    FillSmartRule(request, info);
    const int nOn = request["SubType"].asInt();
    int nResult = RET_SUCCESS;
    if (!WithPlayWidget([&](PlayWidget &widget) { widget.SetSmartRule(nOn, info, nResult); }))
        nResult = RET_FAIL;
    reply.SetRet(nResult);
    sendWebSocketMsg(reply.ToQString(), 1);
}

QString CPluginManage::MakeKeyText()
{
    // A secret: from the system's random source, never from a generator seeded with the time.
    QRandomGenerator *pRandom = QRandomGenerator::system();
    QString strKey;
    for (int i = 0; i < kKeyLength; ++i)
        strKey += QChar(kKeyFirst + static_cast<int>(pRandom->bounded(kKeyAlphabet)));
    return strKey;
}

void CPluginManage::onMainMsgConsultAesKey(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    Json::Value &key = reply["key"];
    key["key"] = MakeKeyText().toStdString();
    key["iv"] = "";
    reply.SetRet(RET_SUCCESS);
    const QString strReply = reply.ToQString();

    Json::Value logged = reply.Value();
    logged["key"]["key"] = SecretMask::kMasked;
    LOGN(QString::fromStdString(JsonText::Write(logged)), "CPluginManage::onMainMsgConsultAesKey");
    QString strText;
    if (FitMessage(strReply, strText))
        emit sendWebSocketMsgSig(strText);
}
