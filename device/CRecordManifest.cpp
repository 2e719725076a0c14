#include "device/CRecordManifest.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString CRecordManifest::PathFor(const QString &strFolder, const QString &strMp4Path)
{
    return strFolder + "/" + QFileInfo(strMp4Path).completeBaseName() + ".rec";
}

bool CRecordManifest::Write(const QString &strPath) const
{
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString strText = QString("Mp4=%1\nPort=%2\nRoute=%3\nFrameRate=%4\nSoundRate=%5\nAudioType=%6\nAudioRate=%7\n")
                                .arg(strMp4Path)
                                .arg(nPort)
                                .arg(nRoute)
                                .arg(nFrameRate)
                                .arg(nSoundRate)
                                .arg(nAudioType)
                                .arg(nAudioRate);
    const QByteArray text = strText.toUtf8();
    return file.write(text) == text.size() && file.commit();
}

bool CRecordManifest::Read(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *this = CRecordManifest();
    // A manifest is a few short lines; anything longer is not one.
    const QByteArray text = file.read(64 * 1024);
    for (const QByteArray &line : text.split('\n')) {
        const int nEq = line.indexOf('=');
        if (nEq <= 0)
            continue;
        const QByteArray key = line.left(nEq);
        const QString strValue = QString::fromUtf8(line.mid(nEq + 1));
        if (key == "Mp4")
            strMp4Path = strValue;
        else if (key == "Port")
            nPort = strValue.toInt();
        else if (key == "Route")
            nRoute = strValue.toInt();
        else if (key == "FrameRate")
            nFrameRate = strValue.toInt();
        else if (key == "SoundRate")
            nSoundRate = strValue.toInt();
        else if (key == "AudioType")
            nAudioType = strValue.toInt();
        else if (key == "AudioRate")
            nAudioRate = strValue.toInt();
    }
    return !strMp4Path.isEmpty();
}

bool CRecordManifest::operator==(const CRecordManifest &o) const
{
    return strMp4Path == o.strMp4Path && nPort == o.nPort && nRoute == o.nRoute && nFrameRate == o.nFrameRate &&
           nSoundRate == o.nSoundRate && nAudioType == o.nAudioType && nAudioRate == o.nAudioRate;
}
