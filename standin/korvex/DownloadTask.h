#pragma once

#include "platform/FilePtr.h"
#include "platform/korvex.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/SimStream.h"

#include <cstdio>
#include <functional>
#include <memory>

// The download of a channel's recording over a time span into a local file, as stream blocks (or, for a
// picture, one JPEG). Progress goes to the position callback in KiB, then a last report of -1 once the file
// is complete and closed.
class DownloadTask : public SimStream
{
public:
    // A cut of the login that the download's own progress brings: fn runs on the download's thread once the
    // blocks written hold nPercent of the file's bytes (0: never).
    struct Cut
    {
        int nPercent = 0;
        std::function<void()> fn;
    };

    // dSpeed: media time written per wall time (0 writes as fast as possible).
    DownloadTask(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate,
                 int64_t nBeginSeconds, int64_t nDurationMs, bool bPicture, FilePtr file, double dSpeed, Cut cut,
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
    Cut m_cut;              // used by the thread only
    ZDK_fDownLoadPosCallBack m_cbPos;
    void *m_pUser;
};
