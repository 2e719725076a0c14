// Configuration, abilities, upgrades and file transfer.

#include "device/CQZConnect.h"

#include "runtime/FixedText.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr int kConfigWaitMs = 20000;
constexpr int kFileCommandWaitMs = 5000;
constexpr int kImportWaitMs = 8000;
constexpr uint32_t kLargeReply = 307200;
constexpr uint32_t kCommandReply = 65536;
constexpr qint64 kMaxConfigFile = 65536;
constexpr int kNoUploadFile = 109;

// Reading device JSON: every step checks the type first, so an answer of the wrong shape reads as null instead
// of throwing out of the operation.
const Json::Value &NullValue()
{
    static const Json::Value null;
    return null;
}

const Json::Value &Member(const Json::Value &v, const std::string &strKey)
{
    return v.isObject() && v.isMember(strKey) ? v[strKey] : NullValue();
}

const Json::Value &Element(const Json::Value &v, Json::ArrayIndex i)
{
    return v.isArray() && i < v.size() ? v[i] : NullValue();
}

// The member that the answer's "Name" names.
const Json::Value &NamedMember(const Json::Value &root)
{
    const Json::Value &name = Member(root, "Name");
    return name.isString() ? Member(root, name.asString()) : NullValue();
}

bool DeviceOk(const Json::Value &root)
{
    const Json::Value &ret = Member(root, "Ret");
    return ret.isInt() && ret.asInt() == 100;
}

bool IsText(const Json::Value &v, const char *pText) { return v.isString() && v.asString() == pText; }

// The answer exactly as long as the library says it is: the buffer carries no terminating zero.
std::string AnswerText(const std::vector<char> &buffer, uint32_t nReturned)
{
    return std::string(buffer.data(), std::min<size_t>(nReturned, buffer.size()));
}

QString ShortFloat(float f) { return QString::number(static_cast<double>(f)); }

// The "OPFile" header of an upload kind; kinds without one send an empty header.
QByteArray UploadHeader(int nKind, int nChannel, qint64 nFileSize)
{
    switch (nKind) {
    case 1:
        return QString(R"({"Action" : "Send", "FileType": 1,"FilePurpose": 1,"FileSize": %1,"FileName": "",  "Path": "","Parameter":{}})")
            .arg(nFileSize)
            .toLatin1();
    case 2:
    case 3:
        return CQZConnect::VoiceHeader(false, nChannel, nKind == 2 ? 0 : 7, nFileSize);
    case 4:
        return CQZConnect::VoiceHeader(true, nChannel, 0, nFileSize);
    default:
        return QByteArray();
    }
}

// "OPFile" with the header, then the file: 1, -1 (the command failed) or -2 (the transfer did not start). The
// last error of the failed call is left for the caller.
int SendWithHeader(int lLoginID, const char *pPath, const char *pHeader, void *pUser, ZDK_fFileTransferCallBack cb,
                   const QString &strTag)
{
    const char *pText = pHeader ? pHeader : "";
    if (ZDK_DEV_Cmd_Json(lLoginID, ZDK_CMD_FILE, "OPFile", pText, static_cast<uint32_t>(std::strlen(pText)),
                         kFileCommandWaitMs, -1) != 1) {
        LOGN(QString("SendAudioFile OPFile error=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return -1;
    }
    if (ZDK_DEV_SendFileDataToDevice(lLoginID, pPath, cb, pUser) == 0) {
        LOGN(QString("ZDK_DEV_SendFileDataToDevice error=%1").arg(ZDK_DEV_GetLastError()), strTag);
        return -2;
    }
    return 1;
}

} // namespace

int CQZConnect::GetChannelAbility(int lLoginID, const char *pName, char *pBuffer, int nBufferSize)
{
    int nResult = ZDK_ERR_ILLEGAL_PARAM;
    if (pBuffer && nBufferSize > 1) {
        // One byte stays free for the terminating zero, which the library does not write.
        const uint32_t nSize = static_cast<uint32_t>(nBufferSize - 1);
        uint32_t nReturned = 0;
        nResult = ZDK_DEV_GetChannelAbility_Json(lLoginID, pName, -1, pBuffer, nSize, &nReturned, kConfigWaitMs);
        if (nResult > 0) {
            pBuffer[std::min(nReturned, nSize)] = '\0';
            return RET_SUCCESS;
        }
    }
    LOGN(QString("ZDK_DEV_GetChannelAbility_Json Name:%1 Ret:%2").arg(QString::fromLocal8Bit(pName)).arg(nResult),
         "CQZConnect::GetChannelAbility");
    return ErrorToRet(nResult);
}

int CQZConnect::GetEncodeFormat(int lLoginID, int (&flags)[2][64])
{
    const QString strTag = "CQZConnect::GetEncodeFormat";
    std::vector<char> buffer(kLargeReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_GetDevConfig_Json(lLoginID, "AVEnc.A3Encode", ZDK_CMD_ENCODE, -1, buffer.data(),
                                                  kLargeReply, &nReturned, kConfigWaitMs);
    if (nResult <= 0) {
        LOGN(QString("ZDK_DEV_GetDevConfig_Json AVEnc.A3Encode Ret:%1").arg(nResult), strTag);
        return RET_SUCCESS;
    }
    Json::Value root;
    const Json::Value *pList = nullptr;
    if (JsonText::Parse(AnswerText(buffer, nReturned), root))
        pList = &NamedMember(root);
    if (!pList || !pList->isArray()) {
        LOGN("AVEnc.A3Encode answer without a list of channels", strTag);
        return RET_SUCCESS;
    }
    const Json::ArrayIndex nCount = std::min<Json::ArrayIndex>(pList->size(), 64);
    for (Json::ArrayIndex i = 0; i < nCount; ++i) {
        const Json::Value &entry = Element(*pList, i);
        if (IsText(Member(entry, "MainFormat"), "H.264"))
            flags[0][i] = 1;
        if (IsText(Member(entry, "ExtraFormat"), "H.264"))
            flags[1][i] = 1;
    }
    return RET_SUCCESS;
}

bool CQZConnect::GetScaleTwoLensAbility(int lLoginID, int nChannel, bool bQuick)
{
    const QString strTag = "CQZConnect::GetScaleTwoLensAbility";
    if (bQuick)
        return ZDK_DEV_GetAbility(lLoginID, "SystemFunction/OtherFunction/SupportScaleTwoLens", 0) != 0;
    std::vector<char> buffer(kLargeReply);
    uint32_t nReturned = 0;
    const int nRet = ZDK_DEV_GetDevConfig_Json(lLoginID, "bypass@SystemFunction", ZDK_CMD_SYSTEM_FUNCTION, nChannel,
                                               buffer.data(), kLargeReply, &nReturned, kConfigWaitMs);
    LOGN(QString("GetScaleTwoLensAbility----->ret:%1").arg(nRet), strTag);
    if (nRet != 1)
        return false;
    Json::Value root;
    if (!JsonText::Parse(AnswerText(buffer, nReturned), root)) {
        LOGN("bypass@SystemFunction answer does not parse", strTag);
        return false;
    }
    const Json::Value &v = Member(Member(NamedMember(root), "OtherFunction"), "SupportScaleTwoLens");
    if (v.isBool())
        return v.asBool();
    if (v.isIntegral())
        return v.asLargestInt() != 0;
    LOGN("bypass@SystemFunction answer without a readable SupportScaleTwoLens", strTag);
    return false;
}

int CQZConnect::GetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float &fTimes, bool bAllChannels,
                                      float &fMaxTimes)
{
    const QString strTag = "CQZConnect::GetScaleTwoLensConfig";
    const QByteArray baIn = QString(R"([{"StreamType": %1}])").arg(nStreamType).toLatin1();
    std::vector<char> buffer(kCommandReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_CmdGeneral_Json(lLoginID, ZDK_CMD_SENSOR_GET, "OPSensorGet", baIn.constData(),
                                                static_cast<uint32_t>(baIn.size()), buffer.data(), kCommandReply,
                                                &nReturned, kConfigWaitMs, bAllChannels ? -1 : nChannel);
    if (nResult <= 0) {
        LOGN(QString("OPSensorGet failed Ret:%1").arg(nResult), strTag);
        return -1;
    }
    const std::string strAnswer = AnswerText(buffer, nReturned);
    LOGN(QString("OPSensorGet %1").arg(QString::fromStdString(strAnswer)), strTag);
    Json::Value root;
    if (!JsonText::Parse(strAnswer, root) || !DeviceOk(root))
        return 0;
    const Json::Value &entry = Element(bAllChannels ? Member(root, "OPSensorGet") : NamedMember(root), 0);
    const Json::Value &times = Member(entry, "Times");
    const Json::Value &timesOri = Member(entry, "TimesOri");
    const Json::Value &maxTimes = Member(entry, "MaxTimes");
    if (!times.isNumeric() || !(timesOri.isNull() || timesOri.isNumeric()) ||
        !(maxTimes.isNull() || maxTimes.isNumeric())) {
        LOGE("OPSensorGet answer without readable Times and MaxTimes", strTag);
        return -1;
    }
    fTimes = std::max(times.asFloat(), 0.0f);
    fMaxTimes = maxTimes.isNull() ? 8.0f : maxTimes.asFloat();
    // The main stream's zoom is applied after the sub stream was set back to none.
    if (nStreamType == 0)
        SetScaleTwoLensConfig(lLoginID, nChannel, 1, 0.0f, 0.0f);
    SetScaleTwoLensConfig(lLoginID, nChannel, nStreamType, fTimes, fTimes);
    return 1;
}

int CQZConnect::SetScaleTwoLensConfig(int lLoginID, int nChannel, int nStreamType, float fTimesOri, float fTimes)
{
    // Numbers in the C form whatever the locale: the device reads JSON.
    const QByteArray baIn = QString(R"([{"StreamType": %1,"TimesOri": %2,"Times": %3}])")
                                .arg(QString::number(nStreamType), QString::number(double(fTimesOri), 'f', 1),
                                     QString::number(double(fTimes), 'f', 1))
                                .toLatin1();
    std::vector<char> buffer(kCommandReply);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_CmdGeneral_Json(lLoginID, ZDK_CMD_SCALE_TIMES_SWITCH, "OPScaleTimesSwitch",
                                                baIn.constData(), static_cast<uint32_t>(baIn.size()), buffer.data(),
                                                kCommandReply, &nReturned, kConfigWaitMs, nChannel);
    if (nResult < 1) {
        LOGN(QString("SetScaleTwoLensConfig failed,nStreamType:%1,fOrignalTimes:%2,fCurTimes:%3")
                 .arg(nStreamType)
                 .arg(ShortFloat(fTimesOri))
                 .arg(ShortFloat(fTimes)),
             "CQZConnect::SetScaleTwoLensConfig");
        return -1;
    }
    return 1;
}

int CQZConnect::GetNewVersionInfo(int lLoginID, const QString &strCurrentDate, QString &strNewVersion)
{
    ZDK_UpgradeInfo info;
    std::memset(&info, 0, sizeof info);
    uint32_t nReturned = 0;
    const int nResult = ZDK_DEV_GetDevConfig(lLoginID, ZDK_CFG_UPGRADE_INFO, -1, reinterpret_cast<char *>(&info),
                                             sizeof info, &nReturned, kConfigWaitMs);
    // Only the first version is read, and only when the device filled it.
    const bool bFirst = nReturned >= offsetof(ZDK_UpgradeInfo, versions) + sizeof(ZDK_UpgradeVersion);
    if (nResult > 0 && bFirst && info.nCount > 0) {
        const QString strDate = FixedText::ReadLocal(info.versions[0].sDate);
        if (strDate != strCurrentDate)
            strNewVersion = FixedText::ReadLocal(info.versions[0].sName);
    }
    LOGN(QString("GetNewVersionInfo Ret:%1 count:%2 version:%3")
             .arg(nResult)
             .arg(nResult > 0 && bFirst ? info.nCount : 0)
             .arg(strNewVersion),
         "CQZConnect::GetNewVersionInfo");
    return nResult;
}

int CQZConnect::UpgradeStartResult(int lHandle, const char *pName, const QString &strTag)
{
    LOGN(QString("%1:Ret = %2").arg(pName).arg(lHandle), strTag);
    if (lHandle > 0)
        return RET_SUCCESS;
    const int nError = ZDK_DEV_GetLastError();
    const int nRet = nError == ZDK_ERR_UPGRADE_REFUSED ? static_cast<int>(RET_UPGRADE_REFUSED) : ErrorToRet(nError);
    LOGN(QString("%1:Error = %2").arg(pName).arg(nRet), strTag);
    return nRet;
}

int CQZConnect::StartLocalUpgrade(int lLoginID, const QString &strFilePath, ZDK_fUpgradeCallBack cbProgress,
                                  void *pUser, int *pHandle)
{
    const QString strTag = "CQZConnect::StartLocalUpgrade";
    const int lHandle = ZDK_DEV_StartLocalUpgrade(lLoginID, strFilePath.toLocal8Bit().constData(),
                                                  ZDK_UPGRADE_LOCAL, cbProgress, pUser);
    if (pHandle)
        *pHandle = lHandle > 0 ? lHandle : 0;
    return UpgradeStartResult(lHandle, "StartLocalUpgrade", strTag);
}

int CQZConnect::StartOnlineUpgrade(int lLoginID, const QString &strVersion, ZDK_fUpgradeCallBack cbProgress,
                                   void *pUser, int *pHandle)
{
    const QString strTag = "CQZConnect::StartOnlineUpgrade";
    const int lHandle = ZDK_DEV_StartOnlineUpgrade(lLoginID, strVersion.toLocal8Bit().constData(),
                                                   ZDK_UPGRADE_ONLINE, cbProgress, pUser);
    if (pHandle)
        *pHandle = lHandle > 0 ? lHandle : 0;
    return UpgradeStartResult(lHandle, "StartOnlineUpgrade", strTag);
}

int CQZConnect::GetUpgradeState(int lUpgradeHandle) { return ZDK_DEV_GetUpgradeState(lUpgradeHandle); }

bool CQZConnect::CloseUpgrade(int lUpgradeHandle)
{
    if (lUpgradeHandle <= 0)
        return false;
    return ZDK_DEV_CloseUpgradeHandle(lUpgradeHandle) != 0;
}

int CQZConnect::ImportFile(int nKind, int lLoginID, int nChannel, const QString &strPath, ZDK_fFileTransferCallBack cb,
                           void *pUser)
{
    const QString strTag = "CQZConnect::ImportFile";
    if (nKind == 0) {
        LOGN("Import Config by ZDK_DEV_SetDevConfig", strTag);
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly)) {
            LOGN(QString("Import Config: cannot open %1").arg(strPath), strTag);
            return RET_UNSUPPORTED;
        }
        const qint64 nSize = file.size();
        if (nSize > kMaxConfigFile) {
            LOGN("ZDK_DEV_SetDevConfig pBuf size > 64k", strTag);
            return RET_CONFIG_TOO_LARGE;
        }
        const QByteArray data = file.read(kMaxConfigFile);
        if (ZDK_DEV_SetDevConfig(lLoginID, ZDK_CFG_IMPORT, -1, data.constData(), static_cast<uint32_t>(data.size()),
                                 kImportWaitMs) < 0) {
            const int nError = ZDK_DEV_GetLastError();
            LOGN(QString("fileszie = %1<===============>ZDK_DEV_SetDevConfig error=%2").arg(nSize).arg(nError), strTag);
            return ErrorToRet(nError);
        }
        return RET_SUCCESS;
    }

    // The size is read without opening the file for writing, so a missing file is not created.
    const QFileInfo fileInfo(strPath);
    QFile file(strPath);
    if (!fileInfo.isFile() || !file.open(QIODevice::ReadOnly) || file.size() == 0) {
        LOGN(QString("upload file missing or empty: %1").arg(strPath), strTag);
        return kNoUploadFile;
    }
    const qint64 nSize = file.size();
    file.close();
    const QByteArray baHeader = UploadHeader(nKind, nChannel, nSize);
    const QByteArray baPath = strPath.toLocal8Bit();
    if (SendWithHeader(lLoginID, baPath.constData(), baHeader.constData(), pUser, cb, strTag) != 1)
        return ErrorToRet(ZDK_DEV_GetLastError());
    return RET_SUCCESS;
}

QByteArray CQZConnect::VoiceHeader(bool bDevice, int nChannel, int nFilePurpose, int64_t nFileSize)
{
    const QString strAudio = R"("AudioFormat": {"BitRate": 128,"SampleRate": 8000,"SampleBit": 8,"EncodeType": "G711_ALAW"})";
    if (bDevice)
        return QString(R"({"FileType": 1,"FilePurpose": 0,"FileSize": %1,"FileName": "customAlarmVoice.pcm","Parameter": {%2}})")
            .arg(QString::number(nFileSize), strAudio)
            .toLatin1();
    const QString strChannel = QString::number(nChannel == 255 ? -1 : nChannel);
    return QString(R"({"Action": "Send","FileType": 1,"Channel": [%1],"FilePurpose": %2,"FileSize": %3,"FileName": "customAlarmVoice.pcm","Parameter":  {%4,"Channel": [%5]}})")
        .arg(strChannel, QString::number(nFilePurpose), QString::number(nFileSize), strAudio, strChannel)
        .toLatin1();
}

int CQZConnect::SendAudioFile(int lLoginID, const char *pPath, const char *pHeader, void *pUser,
                              ZDK_fFileTransferCallBack cb)
{
    return SendWithHeader(lLoginID, pPath, pHeader, pUser, cb, "CQZConnect::SendAudioFile");
}

bool CQZConnect::SetMessCallBack(ZDK_fMessCallBack cbMessage, void *pUser)
{
    return ZDK_DEV_SetMessCallBack(cbMessage, pUser) != 0;
}
