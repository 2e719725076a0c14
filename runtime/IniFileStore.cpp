#include "runtime/IniFileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace {

bool WriteWhole(const QString &strPath, const QByteArray &bytes, QString &strWhy)
{
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        strWhy = QString("cannot write %1: %2").arg(strPath, file.errorString());
        return false;
    }
    return true;
}

bool ReadWhole(const QString &strPath, QByteArray &bytes, QString &strWhy)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        strWhy = QString("cannot read %1: %2").arg(strPath, file.errorString());
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        strWhy = QString("cannot read %1: %2").arg(strPath, file.errorString());
        return false;
    }
    return true;
}

// A value as Qt writes it and as it reads it back: a number or a switch comes back as its text.
bool SameSetting(const QVariant &written, const QVariant &read)
{
    if (written.type() == QVariant::StringList || read.type() == QVariant::StringList)
        return written.toStringList() == read.toStringList();
    return written.toString() == read.toString();
}

// Whether the text Qt wrote for the settings is whole: read afresh under another name (Qt's cache knows files by
// name), it must give every key the writer holds, with its value.
bool CheckWritten(const QSettings &written, const QString &strOtherName, QTextCodec *pCodec)
{
    QSettings check(strOtherName, QSettings::IniFormat);
    check.setIniCodec(pCodec);
    const QStringList keys = written.allKeys();
    if (check.status() != QSettings::NoError || check.allKeys().size() != keys.size())
        return false;
    for (const QString &strKey : keys)
        if (!check.contains(strKey) || !SameSetting(written.value(strKey), check.value(strKey)))
            return false;
    return true;
}

} // namespace

bool IniFileStore::Store(const QString &strPath, QTextCodec *pCodec, const Values &values, QString &strWhy)
{
    const QFileInfo before(strPath);
    const bool bExisted = before.exists();
    const qint64 nSizeBefore = bExisted ? before.size() : 0;
    const QDateTime changedBefore = bExisted ? before.lastModified() : QDateTime();
    QByteArray original;
    if (bExisted && !ReadWhole(strPath, original, strWhy))
        return false;

    // A folder of this call's own: Qt has never seen the copy's name, so it reads the copy and nothing cached.
    QTemporaryDir work(QDir(QDir::tempPath()).filePath("quorrin-ini-XXXXXX"));
    if (!work.isValid()) {
        strWhy = "no folder for the new text: " + work.errorString();
        return false;
    }
    const QString strCopy = work.filePath("settings.ini");
    if (!WriteWhole(strCopy, original, strWhy))
        return false;
    {
        QSettings copy(strCopy, QSettings::IniFormat);
        copy.setIniCodec(pCodec);
        for (const auto &entry : values)
            copy.setValue(entry.first, entry.second);
        copy.sync();
        // A file that Qt could not read whole (a section line without its "]") is written anew all the same: what
        // it read of it is checked below like the rest.
        const QString strCheck = work.filePath("check.ini");
        if (copy.status() == QSettings::AccessError || !QFile::link(strCopy, strCheck) ||
            !CheckWritten(copy, strCheck, pCodec)) {
            strWhy = "the new text did not come out whole";
            return false;
        }
    }
    QByteArray text;
    if (!ReadWhole(strCopy, text, strWhy))
        return false;

    // Written beside the file and put in its place only once whole, so a refused write leaves the old file.
    QSaveFile target(strPath);
    if (!target.open(QIODevice::WriteOnly)) {
        strWhy = QString("cannot write %1: %2").arg(strPath, target.errorString());
        return false;
    }
    // Qt's commit does not look at how its own flush went (that is how QSettings empties a file on a full disk):
    // the text is flushed here, and checked.
    if (target.write(text) != text.size() || !target.flush()) {
        strWhy = QString("cannot write %1: %2").arg(strPath, target.errorString());
        target.cancelWriting();
        return false;
    }
    if (!target.commit()) {
        strWhy = QString("cannot write %1: %2").arg(strPath, target.errorString());
        return false;
    }

    // Qt's cache of the file takes it as unchanged while its size and its time of change (to the millisecond) are
    // the same: a change within the same millisecond is moved on by one, so that readers here see the new text.
    const QFileInfo after(strPath);
    if (bExisted && after.size() == nSizeBefore && after.lastModified() == changedBefore) {
        QFile file(strPath);
        if (file.open(QIODevice::ReadOnly))
            file.setFileTime(changedBefore.addMSecs(1), QFileDevice::FileModificationTime);
    }
    return true;
}
