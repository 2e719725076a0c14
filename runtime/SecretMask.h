#pragma once

#include <QString>

// Hides the values of the secret keys ("Password", "tcsToken", "AppSecret", "AppKey") in a
// JSON text that is about to be logged.
class SecretMask
{
public:
    static QString Mask(const QString &strText);
    static constexpr const char *kMasked = "***";
};
