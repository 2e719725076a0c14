// Version checks of the tool and of the web pages against the update server.

#include "requests/CPluginManage.h"
#include "requests/VersionText.h"
#include "requests/WebMessage.h"
#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

constexpr int kToolFileTimeoutMs = 60000;
constexpr int kUpdateLogTimeoutMs = 10000;
constexpr int kWebFileTimeoutMs = 5000;

// The event of a check by the request's "SubType": the first pair for 0, the second for 1, -1/-1 for any other.
std::pair<int, int> EventPair(int nSubType, std::pair<int, int> first, std::pair<int, int> second)
{
    if (nSubType == 0)
        return first;
    if (nSubType == 1)
        return second;
    return {-1, -1};
}

// A GET of the address, without checking the server's certificate for an "https" address.
QNetworkRequest VersionRequest(const QString &strAddr)
{
    QNetworkRequest request(QUrl(strAddr, QUrl::TolerantMode));
    if (strAddr.contains("https", Qt::CaseSensitive)) {
        QSslConfiguration ssl = request.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(ssl);
    }
    return request;
}

// Why a finished download brought no file: Qt's error, or an answer other than 2xx. Redirects are not followed,
// and Qt reports them without an error, so the status must be looked at too: the body of a 301 is no version file.
QString DownloadFault(QNetworkReply *pReply)
{
    if (pReply->error() != QNetworkReply::NoError)
        return pReply->errorString();
    const QVariant status = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int nStatus = status.toInt();
    if (status.isValid() && (nStatus < 200 || nStatus > 299))
        return QString("HTTP status %1").arg(nStatus);
    return QString();
}

// The data of a download that came whole; one that failed, was cut, was answered with anything but 2xx or still
// runs brings nothing (and is logged with its reason when the checks log).
bool DownloadedData(QNetworkReply *pReply, QByteArray &data, bool bLog, const QString &strTag)
{
    const QString strFault = pReply->isFinished() ? DownloadFault(pReply) : QString("not finished");
    if (strFault.isEmpty()) {
        data = pReply->readAll();
        return true;
    }
    if (bLog)
        LOGN(QString("Download failed,Url:%1 %2").arg(pReply->url().toString(), strFault), strTag);
    return false;
}

} // namespace

bool CPluginManage::CompareVersion(const QString &strNew, const QString &strCur)
{
    return VersionText::CompareVersion(strNew, strCur);
}

QString CPluginManage::GetVersionFromText(const QString &strText)
{
    return VersionText::GetVersionFromText(strText);
}

void CPluginManage::onMainMsgCheckToolVersion(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgCheckToolVersion";
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = request["SubType"].asInt();
    QString strLanguage;
    if (request.isMember("Language")) {
        if (!request["Language"].isString())
            Json::throwLogicError("Language is not a string");
        strLanguage = QString::fromStdString(request["Language"].asString());
    }

    const ToolInfo tool = CDataCenter::GetInstance()->m_stToolInfo;
    const bool bLog = tool.PrintLogEn == 1;
    const QString strVersionAddr = FixedText::ReadLocal(tool.VersionFileAddr);
    QString strLogAddr = FixedText::ReadLocal(tool.UpdateLogAddr);
    if (strLanguage == QLatin1String("SimpChinese") && !strLogAddr.isEmpty())
        strLogAddr += "_zh";
    if (bLog)
        LOGN(QString("[%1]Start downloading version files from the server,Url:%2").arg(m_nSessionId).arg(strVersionAddr),
             strTag);

    // The check's objects go together, on every path: the manager with its downloads, and the timer. A check still
    // waiting for its server when the request thread ends goes with it.
    QObject *pCheck = new QObject(this);
    QNetworkAccessManager *pManager = new QNetworkAccessManager(pCheck);
    QTimer *pTimer = new QTimer(pCheck);
    pTimer->setSingleShot(true);
    connect(QThread::currentThread(), &QThread::finished, pCheck, &QObject::deleteLater, Qt::DirectConnection);

    QNetworkReply *pReply = pManager->get(VersionRequest(strVersionAddr));
    const QMetaObject::Connection timeout = connect(pTimer, &QTimer::timeout, pCheck, [pCheck, pReply, bLog, strTag] {
        // OnTimeout: the version file never came; no event.
        if (bLog)
            LOGN("access timeout", strTag);
        QObject::disconnect(pReply, nullptr, pCheck, nullptr);
        pCheck->deleteLater();
    });
    connect(pReply, &QNetworkReply::finished, pCheck,
            [this, pCheck, pManager, pTimer, pReply, timeout, bLog, nSubType, strLogAddr, tool, strTag] {
                // OnDownloadFinished.
                pTimer->stop();
                QObject::disconnect(timeout);
                if (bLog)
                    LOGN(QString("[%1]Download completed").arg(m_nSessionId), strTag);
                const QString strIni = QDir(CDataCenter::GetInstance()->m_strAppDir).filePath("NewVersion.ini");
                if (QFile::exists(strIni))
                    QFile::remove(strIni);
                QFile file(strIni);
                if (!file.open(QIODevice::ReadWrite)) {
                    pCheck->deleteLater();
                    return;
                }
                // A download that failed or was cut names no version: the file stays empty.
                QByteArray data;
                DownloadedData(pReply, data, bLog, strTag);
                file.write(data);
                file.close();

                const QString strCurVersion = FixedText::ReadLocal(tool.ToolVersion);
                const QString strCurDate = FixedText::ReadLocal(tool.ToolDate);
                QSettings settings(strIni, QSettings::IniFormat);
                settings.setIniCodec("UTF-8");
                const QString strNewDate = settings.value("Tool/date", "").toString();
                const QString strNewVersion = settings.value("Tool/version", "").toString();
                bool bNew = false;
                if (!strNewVersion.isEmpty())
                    bNew = strCurVersion.isEmpty() || CompareVersion(strNewVersion, strCurVersion);
                if (bLog)
                    LOGN(QString("bNewVersion %1 strNew %2 strCur %3").arg(bNew ? 1 : 0).arg(strNewVersion, strCurVersion),
                         strTag);

                const std::pair<int, int> pair = EventPair(nSubType, {0, 4}, {4, 54});
                WebMessage event = WebMessage::Event(pair.first, pair.second);
                event["curVersion"] = strCurVersion.toStdString();
                event["curDate"] = strCurDate.toStdString();
                event["newVersion"] = strNewVersion.toStdString();
                event["newDate"] = strNewDate.toStdString();
                event["bNew"] = bNew;

                if (bNew && !strLogAddr.isEmpty()) {
                    if (bLog)
                        LOGN(QString("[%1]Start downloading log files from the server,Url:%2")
                                 .arg(m_nSessionId)
                                 .arg(strLogAddr),
                             strTag);
                    QNetworkReply *pLogReply = pManager->get(VersionRequest(strLogAddr));
                    QEventLoop loop;
                    connect(pTimer, &QTimer::timeout, pCheck, [pLogReply, bLog, strTag] {
                        if (bLog)
                            LOGN("access timeout", strTag);
                        // Ended here, so that nothing arriving while a later wait holds this one up counts.
                        pLogReply->abort();
                    });
                    connect(pTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
                    connect(pLogReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
                    pTimer->start(kUpdateLogTimeoutMs);
                    if (!pLogReply->isFinished())
                        loop.exec(QEventLoop::ExcludeUserInputEvents);
                    pTimer->stop();
                    // A log that did not come whole in time is left out rather than shown cut.
                    QByteArray log;
                    if (DownloadedData(pLogReply, log, bLog, strTag)) {
                        event["OmbrixUpdateLog"] = QString::fromUtf8(log).toStdString();
                        if (bLog)
                            LOGN(QString("[%1]Successfully obtained logs").arg(m_nSessionId), strTag);
                    }
                }
                pCheck->deleteLater();
                sendWebSocketMsg(event.ToQString(), 1);
            });
    pTimer->start(kToolFileTimeoutMs);

    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::onMainMsgCheckWebVersion(const Json::Value &request)
{
    const QString strTag = "CPluginManage::onMainMsgCheckWebVersion";
    WebMessage reply = WebMessage::Reply(request);
    const int nSubType = reply.Value()["SubMsg"].asInt();
    const ToolInfo tool = CDataCenter::GetInstance()->m_stToolInfo;
    const bool bLog = tool.PrintLogEn == 1;

    const QString strWeb = m_login.m_strWebType.isEmpty() ? QString("Web") : m_login.m_strWebType;
    QString strAppDir = CDataCenter::GetInstance()->m_strAppDir;
    strAppDir.replace('\\', '/');
    const int nSlash = strAppDir.lastIndexOf('/');
    const QString strParent = nSlash < 0 ? strAppDir : strAppDir.left(nSlash);
    QString strLocalText = "Version:V0.0.0.0";
    QFile local(strParent + "/" + strWeb + "/" + strWeb + "Version.txt");
    if (local.open(QIODevice::ReadOnly))
        strLocalText = QString::fromUtf8(local.readAll());
    const QString strCurVersion = GetVersionFromText(strLocalText);

    const QString strWebAddr = FixedText::ReadLocal(tool.WebVersionAddr);
    if (bLog)
        LOGN("[" + QString::number(m_nSessionId) + "]Start downloading version files from the server,Path:" + strWebAddr,
             strTag);

    // Everything of the download is local: freed when the check returns, however the wait ended.
    QString strServerText;
    {
        QNetworkAccessManager manager;
        QTimer timer;
        timer.setSingleShot(true);
        QNetworkReply *pReply = manager.get(VersionRequest(strWebAddr));
        QEventLoop loop;
        // The download ends when the time is up, even while a later request's wait holds this one up.
        connect(&timer, &QTimer::timeout, pReply, &QNetworkReply::abort);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(pReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        timer.start(kWebFileTimeoutMs);
        if (!pReply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        timer.stop();
        // A download that failed, was cut or had not come whole in time names no version.
        QByteArray data;
        if (DownloadedData(pReply, data, bLog, strTag)) {
            strServerText = QString::fromUtf8(data);
            if (bLog)
                LOGN(QString("[%1]Download successful").arg(m_nSessionId), strTag);
        }
        pReply->disconnect();
        delete pReply;
    }
    const QString strNewVersion = GetVersionFromText(strServerText);
    if (bLog)
        LOGN(QString("[%1]New Version=%2 Cur Version:%3").arg(m_nSessionId).arg(strNewVersion, strCurVersion), strTag);
    const bool bNew = CompareVersion(strNewVersion, strCurVersion);

    const std::pair<int, int> pair = EventPair(nSubType, {0, 7}, {4, 59});
    WebMessage event = WebMessage::Event(pair.first, pair.second);
    event["curVersion"] = strCurVersion.toStdString();
    event["newVersion"] = strNewVersion.toStdString();
    event["bNew"] = bNew;
    sendWebSocketMsg(event.ToQString(), 1);

    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}
