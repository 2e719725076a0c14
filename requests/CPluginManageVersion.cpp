// Version checks of the tool and of the web pages.

#include "requests/CPluginManage.h"
#include "requests/VersionText.h"

bool CPluginManage::CompareVersion(const QString &strNew, const QString &strCur)
{
    return VersionText::CompareVersion(strNew, strCur);
}

QString CPluginManage::GetVersionFromText(const QString &strText)
{
    return VersionText::GetVersionFromText(strText);
}
