#pragma once

#include "platform/korvex.h"
#include "standin/korvex/MediaLoop.h"
#include "standin/korvex/SimStream.h"

#include <memory>

// One voice talk of a login, with the device itself or with a channel (-1: every channel that can talk): its
// thread sends the device's audio to the voice callback in real time, one talk frame (header and G.711
// payload) per block of the loop.
class VoiceComTask : public SimStream
{
public:
    VoiceComTask(int32_t nHandle, int32_t nLogin, int32_t nChannel, std::shared_ptr<const AudioLoop> audio,
                 ZDK_fVoiceDataCallBack cb, void *pUser);

    int32_t Channel() const { return m_nChannel; }

protected:
    void Run() override;

private:
    const int32_t m_nChannel;
    const std::shared_ptr<const AudioLoop> m_audio;
    ZDK_fVoiceDataCallBack m_cb;
    void *m_pUser;
};
