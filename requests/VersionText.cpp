#include "requests/VersionText.h"

#include <QStringList>

namespace VersionText {

namespace {
constexpr int kComparedParts = 4;

int PartAt(const QStringList &parts, int nIndex)
{
    if (nIndex >= parts.size())
        return 0;
    bool bOk = false;
    const int nValue = parts[nIndex].toInt(&bOk, 10);
    return bOk ? nValue : 0;
}
} // namespace

bool CompareVersion(const QString &strNew, const QString &strCur)
{
    if (strNew.isEmpty())
        return false;
    if (strCur.isEmpty())
        return true;
    const QStringList newParts = strNew.split('.', Qt::KeepEmptyParts);
    const QStringList curParts = strCur.split('.', Qt::KeepEmptyParts);
    for (int i = 0; i < kComparedParts; ++i) {
        const int nNew = PartAt(newParts, i);
        const int nCur = PartAt(curParts, i);
        if (nNew != nCur)
            return nNew > nCur;
    }
    return false;
}

QString GetVersionFromText(const QString &strText)
{
    static const QString strKey = "version:";
    QString strVersion;
    if (strText.isEmpty())
        return strVersion;
    for (const QString &strRawLine : strText.split('\n', Qt::KeepEmptyParts)) {
        const QString strLine = strRawLine.trimmed();
        const int nPos = strLine.indexOf(strKey, 0, Qt::CaseInsensitive);
        if (nPos < 0)
            continue;
        if (strLine.size() == nPos + strKey.size())
            strVersion = strLine;
        else
            strVersion = strLine.mid(nPos + strKey.size() + 1).trimmed();
    }
    return strVersion;
}

} // namespace VersionText
