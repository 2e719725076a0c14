#include "device/CRecordManifest.h"

#include "platform/FilePtr.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

QString CRecordManifest::PathFor(const QString &strFolder, const QString &strMp4Path)
{
    return strFolder + "/" + QFileInfo(strMp4Path).completeBaseName() + ".rec";
}

bool CRecordManifest::Write(const QString &strPath) const
{
    const QString strText = QString("Mp4=%1\nPort=%2\nRoute=%3\nFrameRate=%4\nSoundRate=%5\nAudioType=%6\nAudioRate=%7\n"
                                    "Bytes=%8\nSoundBytes=%9\nJoined=%10\n")
                                .arg(strMp4Path)
                                .arg(nPort)
                                .arg(nRoute)
                                .arg(nFrameRate)
                                .arg(nSoundRate)
                                .arg(nAudioType)
                                .arg(nAudioRate)
                                .arg(nBytes)
                                .arg(nSoundBytes)
                                .arg(nJoined);
    const QByteArray text = strText.toUtf8();
    const QByteArray path = strPath.toLocal8Bit();
    const QByteArray next = path + ".new";
    FilePtr pFile(std::fopen(next.constData(), "wb"));
    bool bWritten = pFile && std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), pFile.get()) ==
                                 static_cast<size_t>(text.size());
    if (pFile && std::fclose(pFile.release()) != 0)
        bWritten = false;
    if (!bWritten || std::rename(next.constData(), path.constData()) != 0) {
        std::remove(next.constData());
        return false;
    }
    return true;
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
        else if (key == "Bytes")
            nBytes = strValue.toLongLong();
        else if (key == "SoundBytes")
            nSoundBytes = strValue.toLongLong();
        else if (key == "Joined")
            nJoined = strValue.toLongLong();
    }
    return !strMp4Path.isEmpty();
}

bool CRecordManifest::operator==(const CRecordManifest &o) const
{
    return strMp4Path == o.strMp4Path && nPort == o.nPort && nRoute == o.nRoute && nFrameRate == o.nFrameRate &&
           nSoundRate == o.nSoundRate && nAudioType == o.nAudioType && nAudioRate == o.nAudioRate &&
           nBytes == o.nBytes && nSoundBytes == o.nSoundBytes && nJoined == o.nJoined;
}
