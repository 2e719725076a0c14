#include "windows/LocalInfoFile.h"

#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"

#include <QDir>
#include <QSettings>
#include <QTextCodec>

#include <cstring>

QString LocalInfoFile::DefaultFolder(const QString &strAppDir, const QString &strKind)
{
    return QDir::toNativeSeparators(strAppDir + "/Device/" + strKind);
}

void LocalInfoFile::Load(LocalInfo &info, const QString &strAppDir)
{
    // The plug-in window reaches this through its own loader; the log keeps that name.
    const QString strTag = "PlayWidget::LoadLocalInfo";
    LOGN("LoadLocalInfo begin", strTag);
    Read(info, strAppDir);
    LOGN("Load cfg finish", strTag);
}

void LocalInfoFile::Read(LocalInfo &info, const QString &strAppDir)
{
    std::memset(&info, 0, sizeof info);

    QSettings settings(strAppDir + "/ClientCfg.ini", QSettings::IniFormat);
    // The locale's encoding, which "System" names on Windows (Qt 5 knows no codec by that name here).
    settings.setIniCodec(QTextCodec::codecForLocale());
    QString strCapPath = settings.value("Path/CapPath", "").toString();
    QString strRecPath = settings.value("Path/RecPath", "").toString();
    QString strDownPath = settings.value("Path/DownPath", "").toString();
    const int nCaptureType = settings.value("Info/CaptureType", "").toInt();
    const int nRecordType = settings.value("Info/RecordType", "").toInt();
    const int nImageType = settings.value("Info/ImageType", 0).toInt();
    const int nVideoType = settings.value("Info/VideoType", 0).toInt();

    struct Folder { QString *pPath; const char *pKey; const char *pKind; };
    const Folder folders[] = {
        {&strCapPath, "Path/CapPath", "Capture"},
        {&strRecPath, "Path/RecPath", "Record"},
        {&strDownPath, "Path/DownPath", "Download"},
    };
    for (const Folder &folder : folders) {
        if (!folder.pPath->isEmpty())
            continue;
        *folder.pPath = DefaultFolder(strAppDir, folder.pKind);
        settings.setValue(folder.pKey, *folder.pPath);
    }
    settings.sync();

    FixedText::Copy(info.CapPath, strCapPath);
    FixedText::Copy(info.RecPath, strRecPath);
    FixedText::Copy(info.DownPath, strDownPath);
    info.CaptureType = nCaptureType;
    info.RecordType = nRecordType;
    info.ImageType = nImageType;
    info.VideoType = nVideoType;
}
