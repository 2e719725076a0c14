#pragma once

#include "platform/FilePtr.h"
#include "platform/korvex.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/SimStream.h"

#include <cstdio>
#include <memory>

// The download of a channel's recording over a time span into a local file, as stream blocks (or, for a
// picture, one JPEG). Progress goes to the position callback in KiB, then a last report of -1 once the file
// is complete and closed.
class DownloadTask : public SimStream
{
public:
    // dSpeed: media time written per wall time (0 writes as fast as possible).
    DownloadTask(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate,
                 int64_t nBeginSeconds, int64_t nDurationMs, bool bPicture, FilePtr file, double dSpeed,
                 ZDK_fDownLoadPosCallBack cbPos, void *pUser);

protected:
    void Run() override;

private:
    void Report(int32_t nTotalKiB, int32_t nDoneKiB);

    const VideoSpec m_videoSpec;
    const uint8_t m_nAudioType;
    const int m_nAudioRate;
    const int64_t m_nBeginSeconds;
    const int64_t m_nDurationMs;
    const bool m_bPicture;
    FilePtr m_file;         // used by the thread only
    const double m_dSpeed;
    ZDK_fDownLoadPosCallBack m_cbPos;
    void *m_pUser;
};
