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

// The media file name without its extension ("/rec/01_20240115_100000" of "/rec/01_20240115_100000.mp4").
QString Stem(const QString &strPath);

// Remuxes the joined stream strRaw, with its sound strSound at nSoundRate when bSound, into strMp4: true only
// when all of it was read and written.
bool Remux(const QString &strRaw, const QString &strSound, int nSoundRate, bool bSound, const QString &strMp4,
           int nFrameRate);

// Moves strRaw beside strMp4, under the MP4's name with strSuffix and never over another file: the path it has
// then, or empty when it could not be moved whole.
QString KeepBeside(const QString &strRaw, const QString &strMp4, const QString &strSuffix);

} // namespace RecordFiles
