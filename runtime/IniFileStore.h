#pragma once

#include <QString>
#include <QVariant>

#include <utility>
#include <vector>

class QTextCodec;

// Writes keys of an INI file that QSettings reads, so that the file is whole afterwards whatever the disk does.
// QSettings' own write-back cannot be trusted with that: on a full disk it reports no error and leaves the file
// empty (the failed write is never looked at), and values it could not write stay in its cache of the file,
// shared by the whole process, where every later reader finds them and the next write that gets through stores
// them after all. Here Qt's writer makes the new text on a copy of the file, the text is checked, and only then
// replaces the file, each write checked.
class IniFileStore
{
public:
    using Values = std::vector<std::pair<QString, QVariant>>;

    // Sets the keys ("Group/Key") to the values in the file at strPath (made when absent), its text in the codec;
    // true when the file holds them beside all it held before. False leaves the file as it was, strWhy saying why.
    static bool Store(const QString &strPath, QTextCodec *pCodec, const Values &values, QString &strWhy);
};
