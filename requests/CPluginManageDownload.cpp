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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
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
// How often the running download's file is looked at, and the room below which a file that stopped growing
// means a full file system (the library reports no failed write).
constexpr int kWatchMs = 1000;
constexpr qint64 kMinFreeBytes = 64 * 1024;

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

QString CPluginManage::PartialDownloadName(const QString &strFile)
{
    const QFileInfo file(strFile);
    const QString strSuffix = file.suffix();
    return file.dir().filePath(file.completeBaseName() + "_partial" + (strSuffix.isEmpty() ? "" : "." + strSuffix));
}

void CPluginManage::HandleDownload(const Json::Value &request)
{
    WebMessage reply = WebMessage::Reply(request);
    DownloadMembers &download = m_download;
    const Json::Value &files = request["FileInfo"];
    const Json::ArrayIndex nFiles = files.isArray() ? files.size() : 0;
    const int nChannel = request["Channel"].asInt();
    const int nStream = request["Stream"].asInt();
    const int nFileType = request["FileType"].asInt();
    const Json::Value &event = request["Event"];
    // Read whole before anything changes: a field of the wrong type leaves the running list as it is.
    std::vector<DownloadFileEntry> list(nFiles, DownloadFileEntry{});
    for (Json::ArrayIndex i = 0; i < nFiles; ++i) {
        const Json::Value &file = files[i];
        DownloadFileEntry &entry = list[i];
        entry.Channel = nChannel;
        entry.FileLength = FileLengthField(file["FileLength"]);
        FixedText::Copy(entry.FileName, TextField(file["FileName"]));
        FixedText::Copy(entry.BeginTime, TextField(file["BeginTime"]));
        FixedText::Copy(entry.EndTime, TextField(file["EndTime"]));
        entry.Stream = nStream;
    }
    // The list still coming down ends here, and the page hears how.
    if (nFiles > 0 && m_login.m_stDevLoginInfo.DownloadHandle > 0)
        EndReplacedDownload();
    download.m_vecDownloadList = std::move(list);
    download.m_nFileType = nFileType;
    download.m_nDownloadKind = event.isString() && event.asString() == "PicturePlay" ? KIND_PICTURE : KIND_RECORD_FILE;
    download.m_nDownloadIndex = 0;

    if (nFiles == 0) {
        std::vector<DownloadFileEntry>().swap(download.m_vecDownloadList);
        reply["DownPath"] = "";
        reply.SetRet(RET_UNSUPPORTED);
        sendWebSocketMsg(reply.ToQString(), 1);
        return;
    }

    // The settings reader writes the default folder back when none is set.
    const QString strFolder = FixedText::ReadLocal(LoadLocalInfoSync().DownPath);
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
    download.m_bDownloadFailed = false;
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
        EndDownloadList(local);
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
        download.m_strDownloadFile = strFile;
        download.m_nWatchSize = -1;
        if (download.m_nWatchTimerId == 0)
            download.m_nWatchTimerId = startTimer(kWatchMs, Qt::CoarseTimer);
        return 1;
    }
    info.DownloadHandle = 0;
    download.m_mapConvertFiles.erase(download.m_nDownloadIndex);
    return -1;
}

void CPluginManage::EndDownloadList(const LocalInfo &local)
{
    DownloadMembers &download = m_download;
    const int nCount = static_cast<int>(download.m_vecDownloadList.size());
    LOGN(QString("download list end, %1 files").arg(nCount), "CPluginManage::DownloadFile");
    download.m_nTotalConvertFileNum = nCount;
    download.m_nDownloadIndex = 0;
    std::vector<DownloadFileEntry>().swap(download.m_vecDownloadList);
    const bool bRecords = download.m_nDownloadKind == KIND_RECORD_FILE && !download.m_mapConvertFiles.empty();
    // The chain's own end tells the page.
    if (bRecords && ConvertsToAvi(local, download.m_nFileType)) {
        onConvertNextFile();
        return;
    }
    download.m_mapConvertFiles.clear();
    const bool bFailed = download.m_bDownloadFailed;
    download.m_bDownloadFailed = false;
    // A record list of which nothing came down has nothing to announce, unless it failed on the way.
    if (bRecords || bFailed)
        SendDownloadDone(FixedText::ReadLocal(local.DownPath), bFailed);
}

void CPluginManage::SendDownloadDone(const QString &strFolder, bool bFailed)
{
    WebMessage event = WebMessage::Event(1, 5);
    event["Data"]["DownPath"] = strFolder.toStdString();
    if (bFailed)
        event.SetRet(RET_FAIL);
    sendWebSocketMsg(event.ToQString(), 1);
}

void CPluginManage::KeepPartialDownload(int32_t lStopped)
{
    const QString strTag = "CPluginManage::KeepPartialDownload";
    DownloadMembers &download = m_download;
    const QString strFile = download.m_strDownloadFile;
    download.m_strDownloadFile.clear();
    if (strFile.isEmpty() || (lStopped > 0 && lStopped == download.m_lCompletedDownload))
        return;
    // Not whole, it is nothing to convert.
    const auto it = download.m_mapConvertFiles.find(download.m_nDownloadIndex);
    if (it != download.m_mapConvertFiles.end() && it->second == strFile)
        download.m_mapConvertFiles.erase(it);
    const QFileInfo file(strFile);
    if (!file.exists())
        return;
    if (download.m_nDownloadKind == KIND_PICTURE || file.size() == 0) {
        const bool bRemoved = QFile::remove(strFile);
        LOGW(QString("unfinished download %1 %2").arg(strFile, bRemoved ? "removed" : "could not be removed"), strTag);
        return;
    }
    const QString strPartial = PartialDownloadName(strFile);
    if (QFile::exists(strPartial))
        QFile::remove(strPartial);
    if (QFile::rename(strFile, strPartial)) {
        LOGW("unfinished download kept as " + strPartial, strTag);
    } else {
        // Under its own name it would pass for the whole span.
        const bool bRemoved = QFile::remove(strFile);
        LOGE(QString("unfinished download %1 could not be renamed, %2").arg(strFile, bRemoved ? "removed" : "kept"),
             strTag);
    }
}

void CPluginManage::FailDownload(const QString &strWhy)
{
    DownloadMembers &download = m_download;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const int32_t lHandle = info.DownloadHandle;
    // Whole already: its end report, still to be handled, goes on with the list.
    if (lHandle > 0 && lHandle == download.m_lCompletedDownload)
        return;
    LOGE(QString("download %1 failed: %2").arg(download.m_strDownloadFile, strWhy), "CPluginManage::FailDownload");
    if (lHandle != 0) {
        CQZConnect::GetInstance()->StopDownLoad(lHandle);
        info.DownloadHandle = 0;
    }
    KeepPartialDownload(lHandle);
    download.m_bDownloadFailed = true;
    // The rest of the list is not asked for: the list ends with the file that failed.
    const size_t nTried = static_cast<size_t>(download.m_nDownloadIndex) + 1;
    if (download.m_vecDownloadList.size() > nTried)
        download.m_vecDownloadList.resize(nTried);
    EndDownloadList(LoadLocalInfoSync());
}

void CPluginManage::EndReplacedDownload()
{
    DownloadMembers &download = m_download;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    const int32_t lHandle = info.DownloadHandle;
    CQZConnect::GetInstance()->StopDownLoad(lHandle);
    info.DownloadHandle = 0;
    const bool bWhole = lHandle == download.m_lCompletedDownload;
    const bool bLast = download.m_nDownloadIndex + 1 >= static_cast<int>(download.m_vecDownloadList.size());
    KeepPartialDownload(lHandle);
    const LocalInfo local = LoadLocalInfoSync();
    // The new list takes the conversions over: a list that needed one did not come out as asked.
    const bool bDone = bWhole && bLast && !download.m_bDownloadFailed &&
                       !(download.m_nDownloadKind == KIND_RECORD_FILE && ConvertsToAvi(local, download.m_nFileType));
    LOGW(QString("download list replaced by a new one, %1").arg(bDone ? "down whole" : "not complete"),
         "CPluginManage::onMainMsgPlayback");
    download.m_bDownloadFailed = false;
    if (download.m_nDownloadKind == KIND_RECORD_FILE || !bDone)
        SendDownloadDone(FixedText::ReadLocal(local.DownPath), !bDone);
}

void CPluginManage::WatchDownload()
{
    DownloadMembers &download = m_download;
    if (m_login.m_stDevLoginInfo.DownloadHandle <= 0) {
        killTimer(download.m_nWatchTimerId);
        download.m_nWatchTimerId = 0;
        return;
    }
    const QFileInfo file(download.m_strDownloadFile);
    const qint64 nSize = file.exists() ? file.size() : 0;
    const bool bGrew = nSize != download.m_nWatchSize;
    download.m_nWatchSize = nSize;
    if (bGrew)
        return;
    const QStorageInfo storage(file.absolutePath());
    if (storage.isValid() && storage.bytesAvailable() < kMinFreeBytes)
        FailDownload(QString("no room left on %1").arg(storage.rootPath()));
}

void CPluginManage::onDownloadLoginLost(int32_t lLoginID)
{
    const DevLoginInfo &info = m_login.m_stDevLoginInfo;
    if (lLoginID > 0 && lLoginID == info.LoginHandle && info.DownloadHandle > 0)
        FailDownload("the device connection was lost");
}

void CPluginManage::onSendDownloadPos(int32_t lHandle, int nTotal, int nDone, int nKind, int nPane)
{
    if (nKind == KIND_PLAYBACK) {
        onPlaybackDelivered(nPane, lHandle);
        return;
    }
    DownloadMembers &download = m_download;
    DevLoginInfo &info = m_login.m_stDevLoginInfo;
    if ((nKind != KIND_RECORD_FILE && nKind != KIND_PICTURE) || info.DownloadHandle < 1 || nTotal < 1)
        return;
    // Handled only after the next download had started: it is not this one's.
    if (lHandle != info.DownloadHandle) {
        LOGN(QString("report of an earlier download %1 dropped").arg(lHandle), "CPluginManage::onSendDownloadPos");
        return;
    }
    if (nKind == KIND_RECORD_FILE) {
        WebMessage event = WebMessage::Event(1, 4);
        event["Data"]["Pos"] = DownloadPosPerMille(nTotal, nDone);
        sendWebSocketMsg(event.ToQString(), static_cast<quint8>(nKind));
    }
    if (nDone != -1)
        return;
    // Whole: nothing to keep as partial any more.
    download.m_strDownloadFile.clear();
    CQZConnect::GetInstance()->StopDownLoad(info.DownloadHandle);
    info.DownloadHandle = 0;
    if (nKind == KIND_PICTURE) {
        const QString strPicture = download.m_strDownloadPicPath;
        if (!strPicture.isEmpty() && QFile::exists(strPicture))
            WithPlayWidget([strPicture](PlayWidget &widget) { widget.SetBackgroundPic(strPicture); });
    }
    QThread::msleep(kNextFileMs);
    ++download.m_nDownloadIndex;
    // A later file refused (the connection lost meanwhile, the folder gone) ends the list as a failure.
    if (DownloadFile() == -1) {
        LOGE(QString("download %1 of the list could not start").arg(download.m_nDownloadIndex),
             "CPluginManage::onSendDownloadPos");
        download.m_bDownloadFailed = true;
        download.m_vecDownloadList.resize(static_cast<size_t>(download.m_nDownloadIndex));
        EndDownloadList(LoadLocalInfoSync());
    }
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
    const bool bFailed = download.m_bDownloadFailed;
    download.m_bDownloadFailed = false;
    if (download.m_nDownloadKind == KIND_PICTURE)
        return;
    SendDownloadDone(FixedText::ReadLocal(LoadLocalInfoSync().DownPath), bFailed);
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
