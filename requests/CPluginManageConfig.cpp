// Client configuration ("ClientCfg.ini"), the folder and file choices, and the alarm types the page wants to
// be told of.

#include "requests/BrowseChooser.h"
#include "requests/CPluginManage.h"
#include "requests/WebMessage.h"
#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/IniFileStore.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "windows/LocalInfo.h"
#include "windows/PlayWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTextCodec>

#include <memory>

namespace {

// The names "MainType" 15 always reports, in this order.
const char *const kAlarmTypeNames[] = {"Prompt", "all", "Motion", "Blind", "Loss", "IO", "Analyze",
                                       "Human", "FaceDetect", "DiskError", "DiskFull", "Carshape", "Falldown"};

// The chooser's two arguments for each choosing "SubType" of "MainType" 18.
struct BrowseArguments
{
    int nSubType;
    int nFirst;
    int nSecond;
};
const BrowseArguments kBrowseArguments[] = {
    {48, 0, 0}, {49, 1, 0}, {53, 2, 0}, {55, 9, 1}, {56, 0, 0}, {57, 3, 1}, {58, 4, 1},
};

enum ClientConfigSubType { SUB_WRITE_CONFIG = 50, SUB_READ_CONFIG = 51 };

// "ClientCfg.ini" of the application directory, in the locale's encoding (as the window code opens it), for
// reading.
std::unique_ptr<QSettings> OpenClientCfg()
{
    auto pSettings = std::make_unique<QSettings>(QDir(QCoreApplication::applicationDirPath()).filePath("ClientCfg.ini"),
                                                 QSettings::IniFormat);
    pSettings->setIniCodec(QTextCodec::codecForLocale());
    return pSettings;
}

// Writes the values to "ClientCfg.ini"; true when the file holds them (a refused write leaves it as it was).
bool StoreClientCfg(const IniFileStore::Values &values, const QString &strTag)
{
    const QString strPath = QDir(QCoreApplication::applicationDirPath()).filePath("ClientCfg.ini");
    QString strWhy;
    if (IniFileStore::Store(strPath, QTextCodec::codecForLocale(), values, strWhy))
        return true;
    LOGE("ClientCfg.ini not written: " + strWhy, strTag);
    return false;
}

// A member that must be a text: anything else makes the request unreadable, as a failed conversion does.
QString RequiredText(const Json::Value &request, const char *pKey)
{
    const Json::Value &value = request[pKey];
    if (!value.isString())
        Json::throwLogicError(std::string("not a string: ") + pKey);
    return QString::fromStdString(value.asString());
}

} // namespace

void CPluginManage::onMainMsgClientConfig(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgClientConfig";
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();

    if (nSubType == SUB_READ_CONFIG) {
        // Only the file is read: the plug-in window is made at login, and this may come before it.
        const LocalInfo info = LoadLocalInfoSync();
        const ToolInfo &tool = CDataCenter::GetInstance()->m_stToolInfo;
        reply["ToolVersion"] = FixedText::ReadLocal(tool.ToolVersion).toStdString();
        reply["ToolDate"] = FixedText::ReadLocal(tool.ToolDate).toStdString();
        reply["CapFileType"] = info.CaptureType;
        reply["RecordFileType"] = info.RecordType;
        reply["ImageType"] = info.ImageType;
        reply["VideoType"] = info.VideoType;
        reply["RecPath"] = FixedText::ReadLocal(info.RecPath).toStdString();
        reply["CapPath"] = FixedText::ReadLocal(info.CapPath).toStdString();
        reply["DownPath"] = FixedText::ReadLocal(info.DownPath).toStdString();
        reply.SetRet(RET_SUCCESS);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    if (nSubType == SUB_WRITE_CONFIG) {
        const QString strRecPath = RequiredText(request, "RecPath");
        const QString strCapPath = RequiredText(request, "CapPath");
        const QString strDownPath = RequiredText(request, "DownPath");
        const int nRecordType = request["RecordType"].asInt();
        const int nImageType = request["ImageType"].asInt();
        const int nVideoType = request["VideoType"].asInt();
        LOGN("save config path", strTag);
        const bool bStored = StoreClientCfg({{"Path/RecPath", strRecPath},
                                             {"Path/CapPath", strCapPath},
                                             {"Path/DownPath", strDownPath},
                                             {"Info/RecordType", nRecordType},
                                             {"Info/ImageType", nImageType},
                                             {"Info/VideoType", nVideoType}},
                                            strTag);
        reply.SetRet(bStored ? RET_SUCCESS : RET_FAIL);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    for (const BrowseArguments &arguments : kBrowseArguments) {
        if (arguments.nSubType != nSubType)
            continue;
        // The answer is built from this request's envelope, whatever requests come meanwhile.
        BrowseChooser::Start(this, arguments.nFirst, arguments.nSecond,
                             [this, reply](const BrowseChooser::Result &result) mutable {
                                 reply["nRet"] = RET_FAIL;
                                 if (result.eOutcome == BrowseChooser::Chosen) {
                                     reply["Path"] = result.Path().toStdString();
                                     reply["nRet"] = RET_SUCCESS;
                                 }
                                 sendWebSocketMsg(reply.ToQString(), 1);
                             });
        return;
    }
    // Any other "SubType": no reply.
}

void CPluginManage::onMainMsgAlarmType(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgAlarmType";
    WebMessage reply = WebMessage::Reply(14, 0, request);
    const Json::Value &alarmTypes = request["alarmtype"];
    IniFileStore::Values values;
    bool bSwitches = true;
    try {
        if (alarmTypes.isObject()) {
            for (const std::string &strName : alarmTypes.getMemberNames())
                values.emplace_back("alarmtype/" + QString::fromStdString(strName), alarmTypes[strName].asBool());
        }
    } catch (const Json::Exception &) {
        // A text, array or object is no switch; the names before it are stored all the same.
        LOGE("store alarm type error", strTag);
        bSwitches = false;
    }
    const bool bStored = values.empty() || StoreClientCfg(values, strTag);
    reply.SetRet(bSwitches && bStored ? RET_SUCCESS : RET_FAIL);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgQueryAlarmType(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(15, 0, request);
    reply.SetRet(RET_SUCCESS);
    Json::Value &alarmTypes = reply["alarmtype"];
    const std::unique_ptr<QSettings> pSettings = OpenClientCfg();
    if (pSettings->childGroups().contains("alarmtype", Qt::CaseSensitive)) {
        pSettings->beginGroup("alarmtype");
        for (const QString &strKey : pSettings->childKeys())
            alarmTypes[strKey.toStdString()] = pSettings->value(strKey).toBool();
        pSettings->endGroup();
    }
    for (const char *pName : kAlarmTypeNames)
        alarmTypes[pName] = pSettings->value(QString("alarmtype/") + pName, false).toBool();
    sendWebSocketMsg(reply.ToQString(), 1);
}
