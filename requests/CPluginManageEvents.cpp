// The device library's alarm and disconnect callbacks: each turns its notification into an event for the page,
// on the library's thread, and changes no state of the process (a lost connection is handed on to the request
// thread for the download it ends).

#include "requests/CPluginManage.h"

#include "requests/WebMessage.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"

#include <cstring>

namespace {

struct AlarmNameRow
{
    const char *pName;
    int32_t nCode;
};

// Searched from the top: the first row of a code wins, so some later rows are never reached.
const AlarmNameRow kAlarmEventNames[] = {
    {"VideoMotion", 4},
    {"VideoBlind", 6},
    {"VideoLoss", 5},
    {"LocalIO", 1},
    {"NetAlarm", 2},
    {"CommAlarm", 14},
    {"NetAbort", 13},
    {"StorageNotExist", 10},
    {"StorrageLowSpace", 12},
    {"StorageFailure", 11},
    {"ManualAlarm", 3},
    {"VideoTitle", 7},
    {"VideoSplit", 8},
    {"VideoTour", 9},
    {"NetAbort", 13},
    {"CommAlarm", 14},
    {"StorageFailureRead", 15},
    {"StorageFailureWrite", 16},
    {"NetIPConflict", 17},
    {"VideoAnalyze", 25},
    {"IPCAlarm", 25},
    {"LoginFailed", 29},
    {"SerialAlarm", 30},
    {"PIRAlarm", 31},
    {"ConsSensorAlarm", 32},
    {"WordDetect", 33},
    {"BlurCheck", 34},
    {"PlateDetect", 35},
    {"FaceDetectV2", 36},
    {"433Alarm", 37},
    {"PIRDetect", 38},
    {"appEventHumanDetectAlarm", 39},
    {"FaceDetect", 40},
    {"FaceRecognition", 41},
    {"", 43},
};

// The message kind that carries an alarm record, and the part of the record that is read.
constexpr int32_t kAlarmMessage = 1;
constexpr uint32_t kAlarmFieldsBytes = 3 * sizeof(int32_t);

} // namespace

QString CPluginManage::AlarmEventName(int32_t nCode)
{
    for (const AlarmNameRow &row : kAlarmEventNames)
        if (row.nCode == nCode)
            return QString::fromLatin1(row.pName);
    return QString();
}

QString CPluginManage::AlarmStatusText(int32_t nStatus)
{
    switch (nStatus) {
    case 0: return QStringLiteral("Start");
    case 1: return QStringLiteral("Stop");
    case 2: return QStringLiteral("Pulse");
    default: return QString();
    }
}

QString CPluginManage::AlarmEvent(const char *pBuf, uint32_t nBufLen, int32_t nKind)
{
    if (nKind != kAlarmMessage || !pBuf || nBufLen < kAlarmFieldsBytes)
        return QString();
    int32_t fields[3];
    std::memcpy(fields, pBuf, kAlarmFieldsBytes);
    WebMessage event = WebMessage::Event(2, 0);
    event["Name"] = "AlarmInfo";
    Json::Value &info = event["AlarmInfo"];
    info["Channel"] = fields[0];
    info["Event"] = AlarmEventName(fields[1]).toStdString();
    info["Status"] = AlarmStatusText(fields[2]).toStdString();
    return event.ToQString();
}

bool CPluginManage::AlarmMessCallBack(int32_t /*lLoginID*/, const char *pBuf, uint32_t nBufLen, void *pUser,
                                      int32_t nKind)
{
    CPluginManage *pManage = static_cast<CPluginManage *>(pUser);
    const QString strEvent = AlarmEvent(pBuf, nBufLen, nKind);
    if (pManage && !strEvent.isEmpty())
        pManage->sendWebSocketMsg(strEvent, 1);
    return true;
}

void CPluginManage::DisconnectFunction(int32_t lLoginID, const char *pchDVRIP, int32_t nDVRPort, void *pUser)
{
    LOGN(QString("Device Disconnect IP=%1 LoginID=%2 Port=%3")
             .arg(QString::fromLocal8Bit(pchDVRIP ? pchDVRIP : ""))
             .arg(lLoginID)
             .arg(nDVRPort),
         "CPluginManage::DisconnectFunction");
    CPluginManage *pManage = static_cast<CPluginManage *>(pUser);
    // The colour page's second login goes with the device the first one reports.
    if (!pManage || pManage->IsColorLogin(lLoginID))
        return;
    pManage->sendWebSocketMsg(WebMessage::Event(5, 0).SetRet(RET_SUCCESS).ToQString(), 1);
    emit pManage->returnToThisThreadSig([pManage, lLoginID] { pManage->onDownloadLoginLost(lLoginID); });
}
