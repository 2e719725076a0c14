#include "runtime/SecretMask.h"

#include <QRegularExpression>

QString SecretMask::Mask(const QString &strText)
{
    // Most texts name no secret key: a plain search spares them the two expressions below.
    static const QLatin1String keys[] = {QLatin1String("\"Password\""), QLatin1String("\"tcsToken\""),
                                         QLatin1String("\"AppSecret\""), QLatin1String("\"AppKey\"")};
    bool bAnyKey = false;
    for (const QLatin1String &key : keys)
        bAnyKey = bAnyKey || strText.contains(key);
    if (!bAnyKey)
        return strText;
    // JSON members: "Key" : "value" (escaped quotes inside the value included), or a bare scalar value.
    static const QRegularExpression jsonString(
        "(\"(?:Password|tcsToken|AppSecret|AppKey)\"\\s*:\\s*)\"(?:[^\"\\\\]|\\\\.)*\"?");
    static const QRegularExpression jsonScalar(
        "(\"(?:Password|tcsToken|AppSecret|AppKey)\"\\s*:\\s*)(?!\\s*\")[^,}\\]\\s]+");
    QString strOut = strText;
    strOut.replace(jsonString, QString("\\1\"%1\"").arg(kMasked));
    strOut.replace(jsonScalar, QString("\\1\"%1\"").arg(kMasked));
    return strOut;
}
