#pragma once

#include <QString>

// Dotted version texts (such as 1.0.2.5) as the tool and web version checks read and compare them.
namespace VersionText {

// True when strNew is newer than strCur. An empty strNew is never newer; any other text is newer than an empty
// strCur. The first four parts are compared as decimal integers, in order; a part that is not a valid integer,
// and a part that a text lacks, count as 0; parts after the fourth are not looked at.
bool CompareVersion(const QString &strNew, const QString &strCur);

// The version named by the last line that holds "version:" (any case): what follows it, less the one character
// right after the colon, trimmed. Empty when no line holds it.
QString GetVersionFromText(const QString &strText);

} // namespace VersionText
