#include "standin/korvex/G711ToneEncoder.h"

#include "platform/AvPointers.h"
#include "platform/stream_block.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

bool G711ToneEncoder::EncodeLoop(uint8_t nAudioType, int nSampleRate, int nDurationMs, int nBlockMs, AudioLoop &loop,
                                 std::string &strError)
{
    const AVCodecID id = nAudioType == StreamBlock::kAudioMuLaw ? AV_CODEC_ID_PCM_MULAW : AV_CODEC_ID_PCM_ALAW;
    const AVCodec *pCodec = avcodec_find_encoder(id);
    if (!pCodec) {
        strError = "no G.711 encoder";
        return false;
    }
    AvCodecContextPtr ctx(avcodec_alloc_context3(pCodec));
    if (!ctx) {
        strError = "cannot allocate the encoder";
        return false;
    }
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    ctx->sample_rate = nSampleRate;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (avcodec_open2(ctx.get(), pCodec, nullptr) < 0) {
        strError = "cannot open the G.711 encoder";
        return false;
    }
    const int nBlockSamples = nSampleRate * nBlockMs / 1000;
    const int nBlocks = nDurationMs / nBlockMs;
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        strError = "out of memory";
        return false;
    }
    loop = AudioLoop();
    loop.nAudioType = nAudioType;
    loop.nRateCode = nSampleRate == 16000 ? StreamBlock::kRate16000 : StreamBlock::kRate8000;
    loop.nSampleRate = nSampleRate;
    loop.nBlockMs = nBlockMs;
    const double dPi = 3.14159265358979323846;
    for (int b = 0; b < nBlocks; ++b) {
        av_frame_unref(frame.get());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = nSampleRate;
        frame->nb_samples = nBlockSamples;
        av_channel_layout_default(&frame->ch_layout, 1);
        if (av_frame_get_buffer(frame.get(), 0) < 0) {
            strError = "cannot allocate samples";
            return false;
        }
        int16_t *pSamples = reinterpret_cast<int16_t *>(frame->data[0]);
        for (int i = 0; i < nBlockSamples; ++i) {
            const long nSample = static_cast<long>(b) * nBlockSamples + i;
            const long nInSecond = nSample % nSampleRate;
            // 880 Hz for the first 150 ms of each second, silence after it.
            const bool bBeep = nInSecond < nSampleRate * 150 / 1000;
            pSamples[i] = bBeep ? static_cast<int16_t>(8000.0 * std::sin(2.0 * dPi * 880.0 * nSample / nSampleRate))
                                : 0;
        }
        frame->pts = static_cast<int64_t>(b) * nBlockSamples;
        if (avcodec_send_frame(ctx.get(), frame.get()) < 0) {
            strError = "G.711 encoding failed";
            return false;
        }
        std::vector<uint8_t> block;
        while (avcodec_receive_packet(ctx.get(), packet.get()) >= 0) {
            block.insert(block.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
        if (static_cast<int>(block.size()) != nBlockSamples) {
            strError = "G.711 encoder gave an unexpected size";
            return false;
        }
        loop.blocks.push_back(std::move(block));
    }
    return !loop.blocks.empty();
}
