#pragma once

#include <QString>

// Hides the values of secret keys in a text that is about to be logged. A key is secret by its name as the JSON
// reader reads it (escapes decoded, any case): "Password", "tcsToken", "AppSecret", "AppKey", and any name with
// "passw", "pwd", "token" or "secret" in it. The text keeps its form; only each secret value becomes "***".
// A text that is not JSON (a request that will be dropped) is masked as far as it can be read, and after every
// occurrence of a secret name, escaped or not, whatever follows in the place of a value is masked too.
class SecretMask
{
public:
    static QString Mask(const QString &strText);
    static constexpr const char *kMasked = "***";

    // Whether a key, as the reader decodes it, names a secret.
    static bool IsSecretName(const QString &strName);
};
