#pragma once

#include <QString>

// The process-wide OEM mode: 1 for "O60", 2 for "O61", else 0. Set once from the SDK information.
extern int g_nOemMode;

// The process-wide store of what the start-up and the login learn and several subsystems need.
class CDataCenter
{
public:
    static CDataCenter *GetInstance();
    static void ReleaseInstance();
    // Replaces the instance with one for the given application directory (tests use a temporary folder).
    static CDataCenter *CreateInstance(const QString &strAppDir);

    // Tests make their own instance with a temporary application directory.
    explicit CDataCenter(const QString &strAppDir);
    virtual ~CDataCenter();

    QString m_strAppDir;
    int m_nSessionId = 0;
};
