#pragma once

#include <QString>

// The name a new recording or snapshot takes: strPath when no file has that name, else the first free one with
// "_1", "_2", ... before the extension. Names carry the time to the second, so two files of one second would
// otherwise replace each other.
QString FreeFileName(const QString &strPath);
