#include "tests/support/PluginAppDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray ShellQuoted(const QString &strText)
{
    QByteArray quoted = strText.toLocal8Bit();
    quoted.replace('\'', "'\\''");
    return "'" + quoted + "'";
}
} // namespace

PluginAppDir::PluginAppDir(const QString &strVariant)
{
    if (!m_root.isValid() || !QDir(m_root.path()).mkdir("app"))
        return;
    m_strPath = m_root.filePath("app");
    m_strProgram = QDir(m_strPath).filePath("Quorrin_" + strVariant);
    m_bValid = QFile::copy(QStringLiteral(QUORRIN_BUILD_DIR "/Quorrin_") + strVariant, m_strProgram);
}

PluginAppDir::~PluginAppDir()
{
    if (m_nGateFd >= 0)
        ::close(m_nGateFd);
}

QString PluginAppDir::FilePath(const QString &strName) const
{
    return QDir(m_strPath).filePath(strName);
}

bool PluginAppDir::WriteFile(const QString &strName, const QByteArray &content) const
{
    QFile file(FilePath(strName));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray PluginAppDir::ReadFile(const QString &strName) const
{
    QFile file(FilePath(strName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariant PluginAppDir::ClientCfgValue(const QString &strKey) const
{
    QSettings settings(FilePath("ClientCfg.ini"), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForLocale());
    return settings.value(strKey);
}

bool PluginAppDir::WriteBrowse(const BrowseBehaviour &behaviour)
{
    const QString strOutput = m_root.filePath("browse-output");
    const QString strStarts = m_root.filePath("browse-starts");
    const QString strGate = m_root.filePath("browse-gate");
    QFile output(strOutput);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate) || output.write(behaviour.output) != behaviour.output.size())
        return false;
    output.close();

    QByteArray script = "#!/bin/sh\n";
    script += "echo \"$1 $2\" >> " + ShellQuoted(strStarts) + "\n";
    if (behaviour.bWait) {
        if (m_nGateFd < 0) {
            // Held open for reading and writing, so the chooser's read waits for a line and never for a writer.
            if (::mkfifo(QFile::encodeName(strGate).constData(), 0600) != 0)
                return false;
            m_nGateFd = ::open(QFile::encodeName(strGate).constData(), O_RDWR);
            if (m_nGateFd < 0)
                return false;
        }
        script += "read -r line < " + ShellQuoted(strGate) + "\n";
    }
    if (behaviour.bPrintArguments)
        script += "printf '%s %s' \"$1\" \"$2\"\n";
    else
        script += "cat " + ShellQuoted(strOutput) + "\n";
    if (behaviour.bCrash)
        script += "kill -KILL $$\n";
    script += "exit " + QByteArray::number(behaviour.nExitCode) + "\n";

    QFile file(FilePath("Browse"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(script) != script.size())
        return false;
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (behaviour.bExecutable)
        permissions |= QFile::ExeOwner;
    return file.setPermissions(permissions);
}

void PluginAppDir::RemoveBrowse() const
{
    QFile::remove(FilePath("Browse"));
}

QStringList PluginAppDir::BrowseStarts() const
{
    QFile file(m_root.filePath("browse-starts"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList starts;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty())
            starts << QString::fromLocal8Bit(line);
    return starts;
}

bool PluginAppDir::ReleaseBrowse()
{
    return m_nGateFd >= 0 && ::write(m_nGateFd, "\n", 1) == 1;
}

QByteArray PluginAppDir::LogFiles() const
{
    QDir dir(FilePath("Log/Plugin"));
    QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    // Names hold the process id and the time: order by time of change instead, oldest first.
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.lastModified() < b.lastModified();
    });
    QByteArray all;
    for (const QFileInfo &info : files) {
        QFile file(info.absoluteFilePath());
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    return all;
}

bool PluginAppDir::HasLogFolder() const
{
    return QFileInfo::exists(FilePath("Log"));
}
