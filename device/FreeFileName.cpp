#include "device/FreeFileName.h"

#include <QFileInfo>

QString FreeFileName(const QString &strPath)
{
    if (!QFileInfo::exists(strPath))
        return strPath;
    const QFileInfo info(strPath);
    const QString strStem = info.absolutePath() + "/" + info.completeBaseName();
    const QString strExt = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    for (int n = 1;; ++n) {
        const QString strName = QString("%1_%2%3").arg(strStem).arg(n).arg(strExt);
        if (!QFileInfo::exists(strName))
            return strName;
    }
}
