#include "runtime/CDataCenter.h"

#include "runtime/FixedText.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <cstdlib>
#include <cstring>
#include <ctime>

int g_nOemMode = 0;

namespace {

CDataCenter *g_pInstance = nullptr;

const char *const kDefaultUpdateHost = "update.quorrin.invalid";
const int kUpdatePort = 8080;

// A member that is present, not null and gives a non-empty text. A member of a type without a text form
// (object, array) throws, as the caller expects.
bool HasText(const Json::Value &root, const char *pKey)
{
    if (!root.isMember(pKey))
        return false;
    const Json::Value &value = root[pKey];
    return !value.isNull() && !value.asString().empty();
}

QByteArray TextOf(const Json::Value &value)
{
    return QByteArray::fromStdString(value.asString());
}

// A setup name names a file in the program's folder and on the update server: one with a separator or ".." in
// it (an absolute path has one) could name a file anywhere.
bool SetupNameStaysInFolder(const QString &strSetupName)
{
    return !strSetupName.contains('/') && !strSetupName.contains('\\') && !strSetupName.contains(QLatin1String(".."));
}

} // namespace

CDataCenter *CDataCenter::GetInstance()
{
    if (!g_pInstance)
        g_pInstance = new CDataCenter(QCoreApplication::applicationDirPath());
    return g_pInstance;
}

void CDataCenter::ReleaseInstance()
{
    delete g_pInstance;
    g_pInstance = nullptr;
}

CDataCenter *CDataCenter::CreateInstance(const QString &strAppDir)
{
    ReleaseInstance();
    g_pInstance = new CDataCenter(strAppDir);
    return g_pInstance;
}

CDataCenter::CDataCenter(const QString &strAppDir)
    : m_strAppDir(strAppDir)
{
}

CDataCenter::~CDataCenter() = default;

void CDataCenter::InitSDKInfo(const QString &strSdkInfo)
{
    const QString strTag = "CDataCenter::InitSDKInfo";
    LOGN("InitSDKInfo begin", strTag);
    try {
        Json::Value parsed;
        if (JsonText::Parse(strSdkInfo.toLocal8Bit().toStdString(), parsed)) {
            const Json::Value &root = parsed; // reading never adds members
            if (root["MainType"].asInt() != 35)
                return;
            if (HasText(root, "OemID")) {
                g_nOemMode = GetOemMode(QString::fromLocal8Bit(TextOf(root["OemID"])));
                LOGN(QString("OemID=%1").arg(g_nOemMode), strTag);
            }
            if (root["SubMsg"].asInt() == 0) {
                ZDK_AppAccountInfo account;
                std::memset(&account, 0, sizeof account);
                UserDataInfo userData;
                std::memset(&userData, 0, sizeof userData);

                const bool bAccount = HasText(root, "Uuid") && HasText(root, "AppKey") && HasText(root, "AppSecret");
                if (bAccount) {
                    FixedText::Copy(account.Uuid, TextOf(root["Uuid"]));
                    FixedText::Copy(account.AppKey, TextOf(root["AppKey"]));
                    FixedText::Copy(account.AppSecret, TextOf(root["AppSecret"]));
                    account.MoveCard = root["MoveCard"].asInt();
                }
                if (HasText(root, "UserData")) {
                    FixedText::Copy(userData.UserData, TextOf(root["UserData"]));
                    userData.type = root["type"].asInt();
                    // The library reads this many bytes of the field: never more than the field holds.
                    const int nLen = root["len"].asInt();
                    userData.len = qBound(0, nLen, static_cast<int>(sizeof userData.UserData));
                    userData.bUse = 1;
                    LOGN(QString("SetSDKInfo bUse:%1").arg(FixedText::ReadLocal(userData.UserData)),
                         strTag);
                }
                if (bAccount || userData.bUse) {
                    LOGN(QString("SetSDKInfo bUse:%1 bAccountInfo:%2").arg(userData.bUse).arg(bAccount ? 1 : 0), strTag);
                    m_stSdkInfo.bHandOn = true;
                    m_stSdkInfo.bAccount = bAccount;
                    m_stSdkInfo.Account = account;
                    m_stSdkInfo.UserData = userData;
                }
            }
        }
    } catch (...) {
        LOGE("something error happened", strTag);
    }
    LOGN("InitSDKInfo end", strTag);
}

int CDataCenter::GetOemMode(const QString &strOemId)
{
    if (strOemId == QLatin1String("O60"))
        return 1;
    if (strOemId == QLatin1String("O61"))
        return 2;
    return 0;
}

QString CDataCenter::UpdateServerAddr(const QString &strPath)
{
    QString strHost = qEnvironmentVariable("QUORRIN_UPDATE_HOST");
    if (strHost.isEmpty())
        strHost = QString::fromLatin1(kDefaultUpdateHost);
    // A test server may listen elsewhere than on the fixed port: "host:port" keeps its own port.
    static const QRegularExpression hostWithPort("^[^:/\\[\\]]+:[0-9]+$");
    if (!hostWithPort.match(strHost).hasMatch())
        strHost += QString(":%1").arg(kUpdatePort);
    return QString("http://%1%2").arg(strHost, strPath);
}

int CDataCenter::InitToolInfo(const char *pOemId, const char *pSetupName)
{
    const QString strOemId = QString::fromLocal8Bit(pOemId ? pOemId : "");
    QString strSetupName = QString::fromLocal8Bit(pSetupName ? pSetupName : "");
    if (!SetupNameStaysInFolder(strSetupName)) {
        LOGW(QString("SetupName %1 leaves the program's folder: the default is used").arg(strSetupName),
             "CDataCenter::InitToolInfo");
        strSetupName.clear();
    }
    const QString strToolBase = UpdateServerAddr("/ocx/");

    QString strIniName;
    QString strVersionFileAddr;
    QString strUpdateLogAddr;
    static const QStringList ownVersionFileOems = {"O1", "O10", "O18", "O20", "O23"};
    if (ownVersionFileOems.contains(strOemId)) {
        strIniName = strOemId + "OmbrixVersion.ini";
        strVersionFileAddr = strToolBase + strIniName;
    } else if (!strSetupName.isEmpty() && strSetupName != QLatin1String("OmbrixSetup")) {
        strIniName = strSetupName + ".ini";
        strVersionFileAddr = strToolBase + strIniName;
        strUpdateLogAddr = strToolBase + strSetupName + "UpdateLog";
    } else {
        strIniName = "OmbrixVersion.ini";
        strVersionFileAddr = strToolBase + strIniName;
        strUpdateLogAddr = strToolBase + "ombrixupdatelog";
    }

    QSettings settings(m_strAppDir + "/" + strIniName, QSettings::IniFormat);
    FixedText::Copy(m_stToolInfo.ToolVersion, settings.value("Tool/version", "").toString());
    FixedText::Copy(m_stToolInfo.ToolDate, settings.value("Tool/date", "").toString());
    m_stToolInfo.PrintLogEn = settings.value("Enable/PrintLogEn", 1).toInt();

    const QString strConfiguredAddr = settings.value("Tool/versionFileAddr", "").toString();
    FixedText::Copy(m_stToolInfo.VersionFileAddr, strConfiguredAddr.isEmpty() ? strVersionFileAddr : strConfiguredAddr);

    QString strWebBase = settings.value("Tool/webFileAddr", "").toString();
    if (strWebBase.isEmpty())
        strWebBase = UpdateServerAddr("/web/");
    else if (!strWebBase.endsWith('/'))
        strWebBase += '/';
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int nRandom = std::rand() % 32768;
    const QString strWebAddr = QString("%1%2/%3Info.txt?random=%4")
                                   .arg(strWebBase, strOemId.isEmpty() ? QString("Web") : strOemId, strOemId)
                                   .arg(nRandom);
    FixedText::Copy(m_stToolInfo.WebVersionAddr, strWebAddr);
    if (m_stToolInfo.PrintLogEn != 0)
        qDebug().noquote() << QString("Server Web Version url:%1").arg(strWebAddr);

    FixedText::Copy(m_stToolInfo.UpdateLogAddr, strUpdateLogAddr);
    return 0;
}

void CDataCenter::GetChannelCodec(ChannelCodecTable &table) const
{
    std::memcpy(table, m_nChannelCodec, sizeof(ChannelCodecTable));
}

void CDataCenter::SetChannelCodec(const ChannelCodecTable &table)
{
    std::memcpy(m_nChannelCodec, table, sizeof(ChannelCodecTable));
}

int CDataCenter::DeleteDirectory(const QString &strPath, bool bRemoveRoot)
{
    // QDir reads an empty path as the current folder, whose entries would then be sought under "/".
    if (strPath.isEmpty())
        return -2;
    const QFileInfo rootInfo(strPath);
    // A root that is itself a link: only the link goes, never what it points to.
    if (rootInfo.isSymLink()) {
        if (!rootInfo.isDir())
            return -2;
        if (bRemoveRoot && !QFile::remove(strPath))
            return -4;
        return 0;
    }
    QDir dir(strPath);
    if (!dir.exists())
        return -2;

    // System entries are listed only so that dangling links are found too; other system entries stay.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString strEntry = strPath + "/" + entry.fileName();
        if (entry.isSymLink()) {
            // Removing the link leaves its target, which may lie outside the tree, untouched.
            if (!QFile::remove(strEntry))
                return -3;
        } else if (entry.isDir()) {
            const int nRet = DeleteDirectory(strEntry, bRemoveRoot);
            if (nRet != 0)
                return nRet;
        } else if (entry.isFile()) {
            QFile::setPermissions(strEntry, QFile::permissions(strEntry) | QFile::ReadOwner | QFile::WriteOwner);
            if (!QFile::remove(strEntry))
                return -3;
        }
    }
    if (bRemoveRoot && !QDir().rmdir(strPath))
        return -4;
    return 0;
}
