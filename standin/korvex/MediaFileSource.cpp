#include "standin/korvex/MediaFileSource.h"

#include "platform/AvPointers.h"
#include "standin/korvex/AnnexB.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <memory>

bool MediaFileSource::Load(const std::string &strPath, int nMaxFrames, VideoLoop &loop, std::string &strError)
{
    AVFormatContext *pRaw = nullptr;
    if (avformat_open_input(&pRaw, strPath.c_str(), nullptr, nullptr) < 0) {
        strError = "cannot open media file " + strPath;
        return false;
    }
    AvInputPtr input(pRaw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        strError = "cannot read the streams of " + strPath;
        return false;
    }
    const int nStream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (nStream < 0) {
        strError = "no video in " + strPath;
        return false;
    }
    AVStream *pStream = input->streams[nStream];
    const AVCodecID id = pStream->codecpar->codec_id;
    if (id != AV_CODEC_ID_H264 && id != AV_CODEC_ID_HEVC) {
        strError = "the video of " + strPath + " is neither H.264 nor H.265";
        return false;
    }
    const bool bH265 = id == AV_CODEC_ID_HEVC;
    const AVBitStreamFilter *pFilter = av_bsf_get_by_name(bH265 ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    AVBSFContext *pBsfRaw = nullptr;
    if (!pFilter || av_bsf_alloc(pFilter, &pBsfRaw) < 0) {
        strError = "no Annex-B filter";
        return false;
    }
    AvBsfPtr bsf(pBsfRaw);
    avcodec_parameters_copy(bsf->par_in, pStream->codecpar);
    bsf->time_base_in = pStream->time_base;
    if (av_bsf_init(bsf.get()) < 0) {
        strError = "cannot start the Annex-B filter";
        return false;
    }

    loop = VideoLoop();
    loop.nCodec = bH265 ? 3 : 2;
    loop.nWidth = pStream->codecpar->width;
    loop.nHeight = pStream->codecpar->height;
    const AVRational rate = pStream->avg_frame_rate.num > 0 ? pStream->avg_frame_rate : pStream->r_frame_rate;
    loop.nFrameRate = rate.num > 0 && rate.den > 0 ? static_cast<int>(std::lround(av_q2d(rate))) : 25;
    if (loop.nFrameRate < 1 || loop.nFrameRate > 60)
        loop.nFrameRate = 25;

    AvPacketPtr packet(av_packet_alloc());
    std::vector<uint8_t> sets;
    bool bEnd = false;
    while (!bEnd && static_cast<int>(loop.frames.size()) < nMaxFrames) {
        const int nRead = av_read_frame(input.get(), packet.get());
        if (nRead < 0) {
            bEnd = true;
            av_bsf_send_packet(bsf.get(), nullptr);
        } else if (packet->stream_index != nStream) {
            av_packet_unref(packet.get());
            continue;
        } else if (av_bsf_send_packet(bsf.get(), packet.get()) < 0) {
            av_packet_unref(packet.get());
            continue;
        }
        while (av_bsf_receive_packet(bsf.get(), packet.get()) == 0) {
            const bool bKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            if (loop.frames.empty() && !bKey) {
                av_packet_unref(packet.get());
                continue;
            }
            EncodedFrame ef;
            ef.data.assign(packet->data, packet->data + packet->size);
            ef.bKeyFrame = bKey;
            if (bKey) {
                if (sets.empty())
                    sets = AnnexB::ParameterSets(ef.data.data(), ef.data.size(), bH265);
                if (!AnnexB::HasParameterSets(ef.data.data(), ef.data.size(), bH265))
                    ef.data.insert(ef.data.begin(), sets.begin(), sets.end());
            }
            av_packet_unref(packet.get());
            if (static_cast<int>(loop.frames.size()) < nMaxFrames)
                loop.frames.push_back(std::move(ef));
        }
    }
    if (loop.frames.empty()) {
        strError = "no key frame in " + strPath;
        return false;
    }
    if (!AnnexB::HasParameterSets(loop.frames.front().data.data(), loop.frames.front().data.size(), bH265)) {
        strError = "no parameter sets in " + strPath;
        return false;
    }
    // Cut before the last key frame so that the loop's end runs into its first key frame.
    size_t nLastKey = 0;
    for (size_t i = 1; i < loop.frames.size(); ++i)
        if (loop.frames[i].bKeyFrame)
            nLastKey = i;
    if (nLastKey > 0 && !bEnd)
        loop.frames.resize(nLastKey);
    return true;
}
