// Downloads of recordings and pictures into the download folder, one file after the other; record files of a
// device whose recordings become AVI are converted one by one once the whole list is down.

#include "requests/CPluginManage.h"
#include "requests/WebMessage.h"
#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "windows/LocalInfo.h"
#include "windows/PlayWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextCodec>
#include <QThread>

#include <cstring>

namespace {

enum DownloadKind { KIND_PLAYBACK = 0, KIND_RECORD_FILE = 1, KIND_PICTURE = 2 };
// The record type of the client configuration whose recordings are AVI files.
constexpr int kRecordTypeAvi = 2;
// The decode library's conversion to AVI.
constexpr int kConvertAvi = 2;
constexpr unsigned long kNextFileMs = 200;
const char *const kAviMark = "_for_avi.h265x";

// A time text as a part of a file name: nothing in it can leave the download folder.
QString NamePart(QString strText)
{
    return strText.replace('/', '_').replace('\\', '_');
}

bool ConvertsToAvi(const LocalInfo &info, int nFileType) { return info.RecordType == kRecordTypeAvi && nFileType == 0; }

} // namespace

int CPluginManage::DownloadPosPerMille(int nTotal, int nDone)
{
    if (nDone == -1)
        return 1000;
    if (nTotal <= 0)
        return 0;
    return static_cast<int>(static_cast<int64_t>(nDone) * 1000 / nTotal);
}

QString CPluginManage::DownloadFileName(const QString &strFolder, const DownloadFileEntry &entry, bool bForAvi)
{
    const QString strName = FixedText::ReadLocal(entry.FileName);
    const QString strExtension = strName.contains(".jpg") ? ".jpg" : ".h265x";
    QString strBegin = FixedText::ReadLocal(entry.BeginTime);
    strBegin.remove(':').replace(' ', '_');
    QString strEnd = FixedText::ReadLocal(entry.EndTime).right(8);
    strEnd.remove(':');
    const QString strFile = QString::asprintf("%02d_", entry.Channel + 1) + NamePart(strBegin) + "_" +
                            NamePart(strEnd) + (bForAvi ? "_for_avi" : "") + strExtension;
    return QDir(strFolder).filePath(strFile);
}

QString CPluginManage::ConvertTargetName(const QString &strSource)
{
    if (!strSource.endsWith(kAviMark))
        return QString();
    return strSource.left(strSource.size() - static_cast<int>(std::strlen(kAviMark))) + ".avi";
}

void CPluginManage::HandleDownload(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    DownloadMembers &download = m_download;
    const Json::Value &files = request["FileInfo"];
    const Json::ArrayIndex nFiles = files.isArray() ? files.size() : 0;
    download.m_vecDownloadList.assign(nFiles, DownloadFileEntry{});
    const int nChannel = request["Channel"].asInt();
    const int nStream = request["Stream"].asInt();
    for (Json::ArrayIndex i = 0; i < nFiles; ++i) {
        const Json::Value &file = files[i];
        DownloadFileEntry &entry = download.m_vecDownloadList[i];
        entry.Channel = nChannel;
        entry.FileLength = FileLengthField(file["FileLength"]);
        FixedText::Copy(entry.FileName, TextField(file["FileName"]));
        FixedText::Copy(entry.BeginTime, TextField(file["BeginTime"]));
        FixedText::Copy(entry.EndTime, TextField(file["EndTime"]));
        entry.Stream = nStream;
    }
    download.m_nFileType = request["FileType"].asInt();
    const Json::Value &event = request["Event"];
    download.m_nDownloadKind = event.isString() && event.asString() == "PicturePlay" ? KIND_PICTURE : KIND_RECORD_FILE;
    download.m_nDownloadIndex = 0;

    if (nFiles == 0) {
        std::vector<DownloadFileEntry>().swap(download.m_vecDownloadList);
        reply["DownPath"] = "";
        reply.SetRet(RET_UNSUPPORTED);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    const QString strAppDir = QCoreApplication::applicationDirPath();
    QString strFolder;
    {
        QSettings settings(QDir(strAppDir).filePath("ClientCfg.ini"), QSettings::IniFormat);
        settings.setIniCodec(QTextCodec::codecForLocale());
        strFolder = settings.value("Path/DownPath", "").toString();
        if (strFolder.isEmpty()) {
            strFolder = QDir::toNativeSeparators(strAppDir + "/Device/Download");
            settings.setValue("Path/DownPath", strFolder);
        }
    }
    QDir().mkpath(strFolder);
    // The conversions and the map are this list's from here on: a chain of the last list still waiting for a
    // conversion ends here, and that conversion's end goes unheard.
    if (download.m_nConvertWaiting != 0) {
        LOGW("conversion of the last list given up", "CPluginManage::onMainMsgPlayback");
        download.m_nConvertWaiting = 0;
        download.m_nTotalConvertFileNum = 0;
        download.m_nCurConvertFileNum = 0;
    }
    download.m_mapConvertFiles.clear();
    download.m_bDownloadStop = false;
    const int nStarted = DownloadFile();
    reply["DownPath"] = strFolder.toStdString();
    reply.SetRet(nStarted == 1 ? RET_SUCCESS : nStarted == -1 ? RET_DOWNLOAD_FAIL : RET_FAIL);
    sendWebSocketMsg(reply.ToQString(), 1);
}

void CPluginManage::HandleDownloadStop(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    StopDownload();
    std::vector<DownloadFileEntry>().swap(m_download.m_vecDownloadList);
    m_download.m_nDownloadIndex = 0;
    reply.SetRet(RET_SUCCESS);
    sendWebSocketMsg(reply.ToQString(), 1);
}

int CPluginManage::DownloadFile()
{
    const QString strTag = "CPluginManage::DownloadFile";
    DownloadMembers &download = m_download;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const LocalInfo local = LoadLocalInfoSync();
    const QString strFolder = FixedText::ReadLocal(local.DownPath);
    if (strFolder.isEmpty() || !QDir(strFolder).exists())
        return -1;

    const int nCount = static_cast<int>(download.m_vecDownloadList.size());
    // An entry without a channel cannot be downloaded; the list goes on without it.
    while (download.m_nDownloadIndex < nCount &&
           download.m_vecDownloadList[static_cast<size_t>(download.m_nDownloadIndex)].Channel < 0) {
        LOGW(QString("skip download %1: no channel").arg(download.m_nDownloadIndex), strTag);
        ++download.m_nDownloadIndex;
    }
    if (download.m_nDownloadIndex >= nCount) {
        LOGN(QString("download list end, %1 files").arg(nCount), strTag);
        download.m_nTotalConvertFileNum = nCount;
        download.m_nDownloadIndex = 0;
        std::vector<DownloadFileEntry>().swap(download.m_vecDownloadList);
        // A record list of which nothing came down has nothing to convert or announce.
        if (download.m_nDownloadKind == KIND_RECORD_FILE && !download.m_mapConvertFiles.empty()) {
            if (ConvertsToAvi(local, download.m_nFileType)) {
                onConvertNextFile();
            } else {
                download.m_mapConvertFiles.clear();
                WebMessage event = WebMessage::Event(1, 5);
                event["Data"]["DownPath"] = strFolder.toStdString();
                sendWebSocketMsg(event.ToQString(), 1);
            }
        }
        return -2;
    }

    const DownloadFileEntry &entry = download.m_vecDownloadList[static_cast<size_t>(download.m_nDownloadIndex)];
    if (info.DownloadHandle != 0) {
        CQZConnect::GetInstance()->StopDownLoad(info.DownloadHandle);
        info.DownloadHandle = 0;
    }
    PlayUserRecord &record = download.m_stDownloadRecord;
    record.State = 1;
    QString strFile;
    if (download.m_nDownloadKind == KIND_RECORD_FILE) {
        strFile = DownloadFileName(strFolder, entry, ConvertsToAvi(local, download.m_nFileType));
    } else {
        strFile = QDir(strFolder).filePath("temp.jpg");
        if (!download.m_strDownloadPicPath.isEmpty() && QFile::exists(download.m_strDownloadPicPath))
            QFile::remove(download.m_strDownloadPicPath);
        download.m_strDownloadPicPath = strFile;
        record.State = 0;
    }
    record.Kind = download.m_nDownloadKind;
    record.Channel = entry.Channel;
    if (download.m_nDownloadKind == KIND_RECORD_FILE)
        download.m_mapConvertFiles[download.m_nDownloadIndex] = strFile;

    const int lHandle = CQZConnect::GetInstance()->StartDownLoad(
        info.LoginHandle, entry, strFile.toLocal8Bit().constData(), &CPluginManage::PlayPosCallBack, &record);
    if (lHandle > 0) {
        info.DownloadHandle = lHandle;
        return 1;
    }
    info.DownloadHandle = 0;
    return -1;
}

void CPluginManage::onSendDownloadPos(int32_t /*lHandle*/, int nTotal, int nDone, int nKind, int nPane)
{
    if (nKind == KIND_PLAYBACK) {
        onPlaybackDelivered(nPane);
        return;
    }
    DownloadMembers &download = m_download;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    if ((nKind != KIND_RECORD_FILE && nKind != KIND_PICTURE) || info.DownloadHandle < 1 || nTotal < 1)
        return;
    if (nKind == KIND_RECORD_FILE) {
        WebMessage event = WebMessage::Event(1, 4);
        event["Data"]["Pos"] = DownloadPosPerMille(nTotal, nDone);
        sendWebSocketMsg(event.ToQString(), static_cast<quint8>(nKind));
    }
    if (nDone != -1)
        return;
    CQZConnect::GetInstance()->StopDownLoad(info.DownloadHandle);
    info.DownloadHandle = 0;
    if (nKind == KIND_PICTURE) {
        const QString strPicture = download.m_strDownloadPicPath;
        if (!strPicture.isEmpty() && QFile::exists(strPicture))
            WithPlayWidget([strPicture](PlayWidget &widget) { widget.SetBackgroundPic(strPicture); });
    }
    QThread::msleep(kNextFileMs);
    ++download.m_nDownloadIndex;
    DownloadFile();
}

void CPluginManage::onConvertNextFile()
{
    const QString strTag = "CPluginManage::onConvertNextFile";
    DownloadMembers &download = m_download;
    LOGN(QString("m_nTotalConvertFileNum:%1<----------------->m_nCurConvertFileNum:%2")
             .arg(download.m_nTotalConvertFileNum)
             .arg(download.m_nCurConvertFileNum),
         strTag);
    if (download.m_bDownloadStop) {
        download.m_mapConvertFiles.clear();
        download.m_bDownloadStop = false;
    }
    std::map<int, QString> &files = download.m_mapConvertFiles;
    if (download.m_nCurConvertFileNum > 0) {
        // The source of the conversion that has just ended; a failed one was taken off the map and stays.
        const auto it = files.find(download.m_nCurConvertFileNum - 1);
        const QString strPrevious = it != files.end() ? it->second : QString();
        LOGN("delete file:" + strPrevious, strTag);
        if (!strPrevious.isEmpty() && QFile::exists(strPrevious)) {
            if (QFile::remove(strPrevious))
                LOGN("delete file successful:" + strPrevious, strTag);
            else
                LOGN("delete file faild:" + strPrevious, strTag);
        }
        if (download.m_nTotalConvertFileNum >= 1) {
            WebMessage event = WebMessage::Event(1, 4);
            event["Data"]["Pos"] = download.m_nCurConvertFileNum * 1000 / download.m_nTotalConvertFileNum;
            sendWebSocketMsg(event.ToQString(), 1);
        }
    }

    if (download.m_nCurConvertFileNum < download.m_nTotalConvertFileNum && download.m_nTotalConvertFileNum >= 1) {
        if (files.empty()) {
            // Stopped, or nothing of the list was downloaded: the chain ends, ready for the next list.
            download.m_nTotalConvertFileNum = 0;
            download.m_nCurConvertFileNum = 0;
            return;
        }
        const int nIndex = download.m_nCurConvertFileNum;
        const auto it = files.find(nIndex);
        const QString strSource = it != files.end() ? it->second : QString();
        ++download.m_nCurConvertFileNum;
        // Only a marked record download becomes an AVI file; anything else is left as it is.
        const QString strTarget = ConvertTargetName(strSource);
        bool bConverting = false;
        const intptr_t nTicket = ++download.m_nConvertTicket;
        if (!strTarget.isEmpty())
            returnToMainThreadSync([&] {
                bConverting = PlayWidget::ChangeFileFormat(strSource, strTarget, kConvertAvi,
                                                           &CPluginManage::ConvertFilePosCallback,
                                                           reinterpret_cast<void *>(nTicket));
            });
        if (bConverting) {
            download.m_nConvertWaiting = nTicket;
            LOGN(QString("m_nCurConvertFileNum:%1<------------------>successful").arg(download.m_nCurConvertFileNum),
                 strTag);
            return;
        }
        LOGN(QString("m_nCurConvertFileNum:%1 <------------------>failed").arg(download.m_nCurConvertFileNum), strTag);
        // The source of a conversion that did not start stays on disk.
        files.erase(nIndex);
        onConvertNextFile();
        return;
    }

    download.m_bDownloadStop = false;
    download.m_nTotalConvertFileNum = 0;
    download.m_nCurConvertFileNum = 0;
    files.clear();
    if (download.m_nDownloadKind == KIND_PICTURE)
        return;
    const LocalInfo local = LoadLocalInfoSync();
    WebMessage event = WebMessage::Event(1, 5);
    event["Data"]["DownPath"] = FixedText::ReadLocal(local.DownPath).toStdString();
    sendWebSocketMsg(event.ToQString(), 1);
}

void CPluginManage::onConvertFileEnd(intptr_t nTicket)
{
    if (nTicket != m_download.m_nConvertWaiting)
        return;
    m_download.m_nConvertWaiting = 0;
    onConvertNextFile();
}

void CPluginManage::ConvertFilePosCallback(int32_t nCurrent, int32_t nTotal, void *pUser)
{
    LOGN(QString("CurrentPos: %1 <--------------------> TotoalPos: %2").arg(nCurrent).arg(nTotal),
         "CPluginManage::ConvertFilePosCallback");
    CPluginManage *pManage = Instance();
    if (!pManage || nCurrent != nTotal)
        return;
    const intptr_t nTicket = reinterpret_cast<intptr_t>(pUser);
    emit pManage->returnToThisThreadSig([pManage, nTicket] { pManage->onConvertFileEnd(nTicket); });
}
