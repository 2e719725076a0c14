#pragma once

#include "platform/korvex.h"
#include "standin/korvex/MediaLibrary.h"
#include "standin/korvex/SimStream.h"

#include <memory>

class RecordingTimeline;

// The playback of a channel's recording over a time span. Blocks go out paced by the play clock (normal,
// paused, fast and slow levels), a little ahead of it; a seek goes on from the key frame at or before the
// position. When everything is delivered the position callback reports it once (again after a later seek).
class PlaybackStream : public SimStream
{
public:
    PlaybackStream(int32_t nHandle, int32_t nLogin, const VideoSpec &videoSpec, uint8_t nAudioType, int nAudioRate,
                   int64_t nBeginSeconds, int64_t nDurationMs, ZDK_fRealDataCallBack cbData, void *pDataUser,
                   ZDK_fDownLoadPosCallBack cbPos, void *pPosUser);
    ~PlaybackStream() override;

    // A ZDK_PlayControl command; false for an unknown command, level or position.
    bool Control(int32_t nCommand, int32_t nValue);

    // How far ahead of the play clock blocks are delivered (media time).
    static constexpr int64_t kLeadMs = 400;

protected:
    void Run() override;

private:
    int64_t ClockMs(Clock::time_point now) const;   // m_mutex held
    void Rebase(Clock::time_point now);             // m_mutex held

    const VideoSpec m_videoSpec;
    const uint8_t m_nAudioType;
    const int m_nAudioRate;
    const int64_t m_nBeginSeconds;
    const int64_t m_nDurationMs;
    // Guarded by m_callbackMutex (set once, read by the thread).
    ZDK_fRealDataCallBack m_cbData;
    void *m_pDataUser;
    ZDK_fDownLoadPosCallBack m_cbPos;
    void *m_pPosUser;
    // Guarded by m_mutex.
    bool m_bPaused = false;
    double m_dSpeed = 1.0;
    int64_t m_nAnchorMs = 0;
    Clock::time_point m_anchor;
    bool m_bSeek = false;
    int64_t m_nSeekMs = 0;
};
