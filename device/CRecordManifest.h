#pragma once

#include <QString>

#include <cstdint>

// What the temporary folder holds of one recording file, written beside its data ("<stem>.rec", the stem of its
// MP4 file) while the file is made and removed once it is whole, so that a start after a killed run can finish
// the file: where it goes, and what the raw data beside it needs to become an MP4 file. The data beside it:
// "<stem>.h264" or "<stem>.h265" (the pictures as they came, Annex B), "<stem>.pcm" (its sound, 16-bit mono from
// the first picture on), and for the joined H.264 route the port's segments not joined yet.
class CRecordManifest
{
public:
    QString strMp4Path;
    int nPort = -1;
    int nRoute = 0;         // CRecordWorker::Route
    int nFrameRate = 0;     // 0: not known yet
    int nSoundRate = 0;     // of "<stem>.pcm"; 0: no sound yet
    int nAudioType = 0;     // the stream's G.711 type and rate, for the sound of segments not joined yet
    int nAudioRate = 0;
    // How far the joined files are whole, and the last segment in them (its running number): what a killed
    // join appended past that goes again, and the segment is joined once.
    int64_t nBytes = -1;    // -1: all of it
    int64_t nSoundBytes = -1;
    int64_t nJoined = 0;

    // "<folder>/<stem>.rec" of an MP4 path.
    static QString PathFor(const QString &strFolder, const QString &strMp4Path);

    // Written whole or not at all (a new file renamed over the old, without waiting for the disk: a join writes
    // one a second). False when it could not be.
    bool Write(const QString &strPath) const;
    // False when the file is missing or names no MP4 file.
    bool Read(const QString &strPath);

    bool operator==(const CRecordManifest &o) const;
    bool operator!=(const CRecordManifest &o) const { return !(*this == o); }
};
