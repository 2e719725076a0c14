// Voice talk, the custom alarm voice and its upload, and file imports into the device.

#include "device/CQZConnect.h"
#include "device/CTalk.h"
#include "device/VoiceCustom.h"
#include "platform/korvex.h"
#include "requests/BrowseChooser.h"
#include "requests/CPluginManage.h"
#include "requests/WebMessage.h"
#include "runtime/FixedText.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <vector>

namespace {

enum TalkSubType { TALK_CHANNEL = 0, TALK_DEVICE = 1, TALK_STOP = 2, TALK_ABILITY = 3 };
enum VoiceSubType { VOICE_RECORD = 0, VOICE_STOP_RECORD = 1, VOICE_TEST = 2, VOICE_UPLOAD = 3, VOICE_STOP_TEST = 4 };
enum ImportSubType { IMPORT_CONFIG = 0, IMPORT_FILE = 1, IMPORT_VOICE_FIRST = 2, IMPORT_VOICE_LAST = 4 };

const char kTalkAbility[] = "ChannelSystemFunction@SupportIPCTalk";
constexpr int kAbilityBufferSize = 102400;
constexpr int kDefaultSendInterval = 20;
// The chooser's arguments for a file to import.
constexpr int kBrowseImportFirst = 5;
constexpr int kBrowseImportSecond = 1;
// The fields the upload's path and header are copied into.
constexpr size_t kUploadPathField = 1024;
constexpr size_t kUploadHeaderField = 2048;
// The device type whose custom voice goes to the device itself, not to a channel.
constexpr int kVoiceForDeviceType = 2;

// A key that counts only when it holds a value: absent and null are alike.
bool Present(const Json::Value &request, const char *pKey)
{
    return request.isMember(pKey) && !request[pKey].isNull();
}

// The rate of the custom voice: the login's 16000 Hz flag, then the request's own rate when it gives one.
void SetVoiceRate(const Json::Value &request, bool bSampleRate16)
{
    // Read first, so that a request that cannot be read changes nothing.
    const bool bRate = Present(request, "SampleRate");
    const int nRate = bRate ? request["SampleRate"].asInt() : 0;
    VoiceCustom *pVoice = VoiceCustom::GetInstance();
    pVoice->SetSampleRate16K(bSampleRate16);
    if (bRate)
        pVoice->SetSampleRate(nRate);
}

} // namespace

int CPluginManage::TransferResult(int32_t nKind, int32_t nValue1)
{
    switch (nKind) {
    case ZDK_TRANSFER_DONE:
        return RET_SUCCESS;
    case ZDK_TRANSFER_ANSWER:
        return nValue1;
    case ZDK_TRANSFER_BROKEN:
        return RET_ASYNC_KIND3;
    default:
        return RET_FAIL;
    }
}

int CPluginManage::ReadTalkAbility(int lLoginID, Json::Value &data)
{
    std::vector<char> buffer(kAbilityBufferSize, 0);
    const int nRet = CQZConnect::GetInstance()->GetChannelAbility(lLoginID, kTalkAbility, buffer.data(), kAbilityBufferSize);
    if (nRet == RET_SUCCESS) {
        // The text ends at its zero, and never beyond the buffer.
        const std::string strAnswer(buffer.data(), strnlen(buffer.data(), buffer.size()));
        Json::Value parsed;
        if (JsonText::Parse(strAnswer, parsed))
            data = parsed;
    }
    return nRet;
}

void CPluginManage::onMainMsgTalk(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgTalk";
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();

    if (nSubType == TALK_STOP) {
        const bool bAutoTest = request["AutoTestEnabled"].asBool();
        int nRet = RET_SUCCESS;
        if (m_talk.m_pTalk) {
            nRet = m_talk.m_pTalk->StopTalk() ? RET_SUCCESS : RET_FAIL;
            const int nError = m_talk.m_pTalk->GetErrorCode();
            if (bAutoTest && nError != CTalk::kFileTaskStarted)
                nRet = nError;
            m_talk.m_pTalk.reset();
        }
        LOGN("StopTalk", strTag);
        reply.SetRet(nRet);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    if (nSubType == TALK_ABILITY) {
        Json::Value data;
        reply.SetRet(ReadTalkAbility(m_login.m_stDevLoginInfo.LoginHandle, data));
        if (!data.isNull())
            reply["Data"] = data;
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    // Every key is read before the running talk is touched, so that an unreadable request changes nothing.
    const bool bAutoTest = request["AutoTestEnabled"].asBool();
    int nChannel = request["Channel"].asInt();
    const int nSendInterval = Present(request, "SendInterval") ? request["SendInterval"].asInt() : kDefaultSendInterval;
    const bool bRate = Present(request, "SampleRate");
    const int nSampleRate = bRate ? request["SampleRate"].asInt() : 0;

    if (m_talk.m_pTalk) {
        m_talk.m_pTalk->StopTalk();
        m_talk.m_pTalk.reset();
    }
    m_talk.m_pTalk = std::make_unique<CTalk>();
    CTalk *pTalk = m_talk.m_pTalk.get();
    pTalk->SetFileMode(bAutoTest);
    pTalk->SetSendInterval(nSendInterval);
    pTalk->SetSampleRate16K(m_login.m_bSampleRate16);
    if (nChannel == 255)
        nChannel = -1;
    // A talk with the device itself keeps the rate the login's flag gives.
    if (bRate && nChannel >= 0)
        pTalk->SetSampleRate(nSampleRate);
    pTalk->SetDeviceInfo(m_login.m_stDevLoginInfo);

    bool bStarted = false;
    if (nSubType == TALK_CHANNEL)
        bStarted = pTalk->TalkChannel(nChannel);
    else if (nSubType == TALK_DEVICE)
        bStarted = pTalk->TalkDevice();
    if (!bStarted)
        m_talk.m_pTalk.reset();
    const int nRet = bStarted ? RET_SUCCESS : RET_FAIL;
    LOGN(QString("StartTalk nSubMsg=%1 Ret=%2").arg(nSubType).arg(nRet), strTag);
    reply.SetRet(nRet);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgVoiceCustom(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    VoiceCustom *pVoice = VoiceCustom::GetInstance();
    int nResult = -1;
    switch (nSubType) {
    case VOICE_RECORD:
        SetVoiceRate(request, m_login.m_bSampleRate16);
        nResult = pVoice->StartRecord();
        break;
    case VOICE_STOP_RECORD:
        nResult = pVoice->StopRecordVoice();
        break;
    case VOICE_TEST:
        SetVoiceRate(request, m_login.m_bSampleRate16);
        nResult = pVoice->StartTest();
        break;
    case VOICE_UPLOAD: {
        const int nChannel = request["Channel"].asInt();
        const int nFilePurpose = request["FilePurpose"].asInt();
        nResult = UploadVoiceFile(nChannel, nFilePurpose);
        break;
    }
    case VOICE_STOP_TEST:
        pVoice->StopTest();
        nResult = 0;
        break;
    default:
        break;
    }
    LOGN(QString("SubMsg:%1 nRet=%2").arg(nSubType).arg(nResult), "CPluginManage::onMainMsgVoiceCustom");
    reply.SetRet(nResult == 0 ? RET_SUCCESS : RET_FAIL);
    sendWebSocketMsg(reply.ToQString(), 1);
}

int CPluginManage::UploadVoiceFile(int nChannel, int nFilePurpose)
{
    const QString strPath = VoiceCustom::GetInstance()->FilePath();
    // The size is read without opening the file for writing: a missing voice is not made into an empty one.
    const QFileInfo fileInfo(strPath);
    if (!fileInfo.exists())
        return -3;
    QFile file(strPath);
    if (!fileInfo.isFile() || !file.open(QIODevice::ReadOnly))
        return -2;
    const qint64 nSize = file.size();
    file.close();
    if (nSize == 0)
        return -3;

    const bool bDevice = m_login.m_stDevLoginInfo.DeviceType == kVoiceForDeviceType;
    const QByteArray baHeader = CQZConnect::VoiceHeader(bDevice, nChannel, nFilePurpose, nSize);
    char szPath[kUploadPathField] = {};
    char szHeader[kUploadHeaderField] = {};
    FixedText::Copy(szPath, strPath);
    FixedText::Copy(szHeader, baHeader);
    const int nRet = CQZConnect::GetInstance()->SendAudioFile(m_login.m_stDevLoginInfo.LoginHandle, szPath, szHeader,
                                                              this, &CPluginManage::VoiceUploadCallBack);
    return nRet < 0 ? -4 : 0;
}

void CPluginManage::VoiceUploadCallBack(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2, void *pUser)
{
    ZDK_DEV_FileTransferAck(lHandle, 1, nValue1, nValue2);
    CPluginManage *pManage = static_cast<CPluginManage *>(pUser);
    if (pManage)
        pManage->sendWebSocketMsg(WebMessage::Event(6, 2).SetRet(TransferResult(nKind, nValue1)).ToQString(), 1);
    QFile::remove(VoiceCustom::GetInstance()->FilePath());
}

void CPluginManage::AsyncResultCallBack(int32_t, int32_t nKind, int32_t nValue, int32_t, void *pUser)
{
    CPluginManage *pManage = static_cast<CPluginManage *>(pUser);
    if (!pManage)
        return;
    const PendingImport pending = pManage->m_import.m_pending.load();
    Json::Value envelope;
    envelope["MsgID"] = pending.nMsgId;
    WebMessage reply = WebMessage::Reply(30, pending.nSubType, envelope);
    reply.SetRet(TransferResult(nKind, nValue));
    pManage->sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgImportFile(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    const int nMsgId = request["MsgID"].asInt();
    const int nChannel = request["Channel"].asInt();
    m_import.m_pending.store(PendingImport{nSubType, nMsgId});

    if (nSubType == IMPORT_CONFIG || nSubType == IMPORT_FILE) {
        // The answer belongs to this request, whatever imports come while the user chooses.
        BrowseChooser::Start(this, kBrowseImportFirst, kBrowseImportSecond,
                             [this, reply, nSubType, nMsgId, nChannel](const BrowseChooser::Result &result) mutable {
                                 // A chooser that failed, crashed or was cancelled is answered too, so that the
                                 // page never waits on.
                                 int nRet = RET_FAIL;
                                 const QString strPath = result.Path();
                                 if (result.eOutcome == BrowseChooser::Chosen && strPath.isEmpty()) {
                                     nRet = RET_NO_FILE_CHOSEN;
                                 } else if (result.eOutcome == BrowseChooser::Chosen) {
                                     // The device's answer to this import names this request.
                                     m_import.m_pending.store(PendingImport{nSubType, nMsgId});
                                     nRet = CQZConnect::GetInstance()->ImportFile(
                                         nSubType, m_login.m_stDevLoginInfo.LoginHandle, nChannel, strPath,
                                         &CPluginManage::AsyncResultCallBack, this);
                                 }
                                 if (nSubType == IMPORT_FILE && nRet == RET_SUCCESS)
                                     return;
                                 reply["nRet"] = nRet;
                                 sendWebSocketMsg(reply.ToQString(), 1);
                             });
        return;
    }

    if (nSubType >= IMPORT_VOICE_FIRST && nSubType <= IMPORT_VOICE_LAST) {
        const int nRet = CQZConnect::GetInstance()->ImportFile(nSubType, m_login.m_stDevLoginInfo.LoginHandle, nChannel,
                                                               VoiceCustom::GetInstance()->FilePath(),
                                                               &CPluginManage::AsyncResultCallBack, this);
        if (nRet != RET_SUCCESS) {
            reply.SetRet(nRet);
            sendWebSocketMsg(reply.ToQString(), 1);
        }
    }
    // Any other "SubType": nothing is sent.
}
