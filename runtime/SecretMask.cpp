#include "runtime/SecretMask.h"

#include <QRegularExpression>

QString SecretMask::Mask(const QString &strText)
{
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
