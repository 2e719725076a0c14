#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// What the chooser "Browse" beside the program does when it is started.
struct BrowseBehaviour
{
    QByteArray output;       // written to its standard output, byte for byte
    bool bPrintArguments = false; // writes "FIRST SECOND" (its two arguments) instead of output
    int nExitCode = 0;
    bool bCrash = false;     // killed by a signal after writing, instead of exiting
    bool bWait = false;      // waits for PluginAppDir::ReleaseBrowse() before writing
    bool bExecutable = true; // false: the file is there but cannot be started
};

// A fresh application directory of a test's own: a copy of the built program and, beside it, what the test
// puts there ("ClientCfg.ini", the "Browse" chooser, any file). The program makes its log folder in it. The
// fixture's own files (the chooser's output and records) lie outside it, so that the directory holds only what
// the program would find at a user's.
class PluginAppDir
{
public:
    // strVariant: "x64" or "x86".
    explicit PluginAppDir(const QString &strVariant = "x64");
    ~PluginAppDir();
    PluginAppDir(const PluginAppDir &) = delete;
    PluginAppDir &operator=(const PluginAppDir &) = delete;

    bool IsValid() const { return m_bValid; }
    QString Path() const { return m_strPath; }
    QString Program() const { return m_strProgram; }
    QString FilePath(const QString &strName) const;

    bool WriteFile(const QString &strName, const QByteArray &content) const;
    QByteArray ReadFile(const QString &strName) const;
    bool WriteClientCfg(const QByteArray &text) const { return WriteFile("ClientCfg.ini", text); }
    // A value of "ClientCfg.ini" read as the program reads it (locale encoding); invalid when absent.
    QVariant ClientCfgValue(const QString &strKey) const;

    // Puts the chooser beside the program; without a call there is none (a chooser that cannot be started).
    bool WriteBrowse(const BrowseBehaviour &behaviour);
    void RemoveBrowse() const;
    // The arguments of each start of the chooser so far, as "FIRST SECOND", in order.
    QStringList BrowseStarts() const;
    // Lets one waiting chooser go on (one per call, in any order).
    bool ReleaseBrowse();

    // Every log file of the program's log folder, oldest first, joined. The program writes through a buffer:
    // the text is whole once the program has ended.
    QByteArray LogFiles() const;
    bool HasLogFolder() const;

private:
    QTemporaryDir m_root;
    QString m_strPath;
    QString m_strProgram;
    bool m_bValid = false;
    int m_nGateFd = -1;
};
