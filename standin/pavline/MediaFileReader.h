#pragma once

#include "standin/pavline/MediaUnit.h"

#include <cstdint>
#include <memory>
#include <string>

// A recorded file played by a port: units in file order, a time span and seeking.
class MediaFileReader
{
public:
    enum class Result { Unit, End, Error };

    virtual ~MediaFileReader() = default;

    // A file of the data block format (told by its first bytes), else an MP4, AVI or other container with H.264
    // or H.265 video through libavformat. Null with the error (KTN_ERR_FILE, KTN_ERR_FORMAT) on failure.
    static std::unique_ptr<MediaFileReader> Open(const std::string &strPath, int32_t &nError);

    virtual Result Next(MediaUnit &unit) = 0;
    // Goes to the last key frame at or before the time start + dFraction x duration.
    virtual bool SeekToFraction(double dFraction) = 0;
    // Timestamps (milliseconds) of the first and the last picture.
    virtual int64_t FirstMs() const = 0;
    virtual int64_t LastMs() const = 0;
    virtual bool IsBlockFormat() const = 0;
};
