#pragma once

#include <QString>

#include <cstdio>

// File steps of the recorder and of the recovery of recordings, each of which either happens whole or says so.
namespace RecordFiles {

// How an append went: the whole source appended, a source that cannot be read, or a target that took less than
// all of it (the disk full). The target is flushed.
enum class Append { Done, NoSource, WriteFailed };
Append AppendFile(const QString &strSource, std::FILE *pTarget);

// Moves a file to strTarget, which must not exist yet, also onto another file system: true only when it is whole
// there (a copy whose writes fail is removed, and the source stays).
bool MoveFile(const QString &strSource, const QString &strTarget);

// Renames the files that are there into strFolder (made when missing) without ever copying them; a file stays
// where it is when that cannot be done.
void MoveInto(const QString &strFolder, std::initializer_list<QString> files);

// Removes the files that are there.
void RemoveFiles(std::initializer_list<QString> files);

} // namespace RecordFiles
