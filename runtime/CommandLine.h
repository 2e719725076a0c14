#pragma once

#include <QByteArray>
#include <QString>

// The host's positional command line: session id, server name, library directory, and optionally the browser
// window handle and the SDK information.
class CommandLine
{
public:
    // Throws std::runtime_error carrying "plugin argc incorrect", "sessionID incorrect" or "serverName incorrect".
    static CommandLine Parse(int argc, char **argv);

    int m_nSessionId = 0;
    QString m_strServerName;
    QByteArray m_libraryDir;
    QString m_strWndHandle;
    QString m_strSdkInfo;
};
