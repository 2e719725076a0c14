#include "windows/LocalInfoFile.h"

#include "runtime/FixedText.h"
#include "runtime/IniFileStore.h"
#include "runtime/LightWeightLog.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextCodec>
#include <QTextStream>

#include <cstring>

namespace {

// The text after "=" on the line of the key ("Section/Key") in the INI file, as written; null when the line is
// not found.
QString WrittenValue(const QString &strIniPath, const QString &strKey)
{
    const QString strSection = strKey.section('/', 0, 0);
    const QString strName = strKey.section('/', 1);
    QFile file(strIniPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream stream(&file);
    stream.setCodec(QTextCodec::codecForLocale());
    QString strCurrentSection;
    QString strValue;
    while (!stream.atEnd()) {
        const QString strLine = stream.readLine().trimmed();
        if (strLine.startsWith('[') && strLine.endsWith(']')) {
            strCurrentSection = strLine.mid(1, strLine.size() - 2).trimmed();
            continue;
        }
        const int nEquals = strLine.indexOf('=');
        if (strCurrentSection == strSection && nEquals > 0 && strLine.left(nEquals).trimmed() == strName)
            strValue = strLine.mid(nEquals + 1).trimmed(); // the last line of a key counts, as for QSettings
    }
    return strValue;
}

// A folder as text. QSettings reads an unquoted comma as a list separator, and a list has no text form; such a
// value, written by hand ("/srv/media/Pictures, 2024"), is the folder as its line spells it.
QString FolderValue(const QSettings &settings, const QString &strKey, bool &bList)
{
    const QVariant value = settings.value(strKey, "");
    bList = value.type() == QVariant::StringList;
    if (!bList)
        return value.toString();
    const QString strWritten = WrittenValue(settings.fileName(), strKey);
    return strWritten.isNull() ? value.toStringList().join(", ") : strWritten;
}

} // namespace

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
    bool bCapList = false, bRecList = false, bDownList = false;
    QString strCapPath = FolderValue(settings, "Path/CapPath", bCapList);
    QString strRecPath = FolderValue(settings, "Path/RecPath", bRecList);
    QString strDownPath = FolderValue(settings, "Path/DownPath", bDownList);
    const int nCaptureType = settings.value("Info/CaptureType", "").toInt();
    const int nRecordType = settings.value("Info/RecordType", "").toInt();
    const int nImageType = settings.value("Info/ImageType", 0).toInt();
    const int nVideoType = settings.value("Info/VideoType", 0).toInt();

    struct Folder { QString *pPath; const char *pKey; const char *pKind; bool bList; };
    const Folder folders[] = {
        {&strCapPath, "Path/CapPath", "Capture", bCapList},
        {&strRecPath, "Path/RecPath", "Record", bRecList},
        {&strDownPath, "Path/DownPath", "Download", bDownList},
    };
    IniFileStore::Values defaults;
    for (const Folder &folder : folders) {
        if (!folder.pPath->isEmpty())
            continue;
        *folder.pPath = DefaultFolder(strAppDir, folder.pKind);
        defaults.emplace_back(folder.pKey, *folder.pPath);
    }
    // Writing rewrites the whole file, and QSettings would write a list back in a spelling of its own: a folder
    // read from a list goes back as the text it is, quoted.
    if (!defaults.empty()) {
        for (const Folder &folder : folders) {
            if (folder.bList)
                defaults.emplace_back(folder.pKey, *folder.pPath);
        }
        // A file that cannot be written keeps what it holds; the defaults are used all the same.
        QString strWhy;
        if (!IniFileStore::Store(settings.fileName(), QTextCodec::codecForLocale(), defaults, strWhy))
            LOGW("default folders not written: " + strWhy, "LocalInfoFile::Read");
    }

    FixedText::Copy(info.CapPath, strCapPath);
    FixedText::Copy(info.RecPath, strRecPath);
    FixedText::Copy(info.DownPath, strDownPath);
    info.CaptureType = nCaptureType;
    info.RecordType = nRecordType;
    info.ImageType = nImageType;
    info.VideoType = nVideoType;
}
