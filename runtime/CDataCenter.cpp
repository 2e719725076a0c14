#include "runtime/CDataCenter.h"

#include <QCoreApplication>

int g_nOemMode = 0;

namespace {
CDataCenter *g_pInstance = nullptr;
}

CDataCenter *CDataCenter::GetInstance()
{
    if (!g_pInstance)
        g_pInstance = new CDataCenter(QCoreApplication::applicationDirPath());
    return g_pInstance;
}

void CDataCenter::ReleaseInstance()
{
    delete g_pInstance;
    g_pInstance = nullptr;
}

CDataCenter *CDataCenter::CreateInstance(const QString &strAppDir)
{
    ReleaseInstance();
    g_pInstance = new CDataCenter(strAppDir);
    return g_pInstance;
}

CDataCenter::CDataCenter(const QString &strAppDir)
    : m_strAppDir(strAppDir)
{
}

CDataCenter::~CDataCenter() = default;
