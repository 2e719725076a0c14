#include "platform/AvPointers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

void AvFrameDeleter::operator()(AVFrame *p) const { av_frame_free(&p); }
void AvPacketDeleter::operator()(AVPacket *p) const { av_packet_free(&p); }
void AvCodecContextDeleter::operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
void AvInputDeleter::operator()(AVFormatContext *p) const { avformat_close_input(&p); }
void AvOutputDeleter::operator()(AVFormatContext *p) const
{
    if (!p)
        return;
    if (p->oformat && !(p->oformat->flags & AVFMT_NOFILE))
        avio_closep(&p->pb);
    avformat_free_context(p);
}
void AvBsfDeleter::operator()(AVBSFContext *p) const { av_bsf_free(&p); }
void SwsDeleter::operator()(SwsContext *p) const { sws_freeContext(p); }

AvFramePtr NewAvFrame() { return AvFramePtr(av_frame_alloc()); }
AvPacketPtr NewAvPacket() { return AvPacketPtr(av_packet_alloc()); }

AvFramePtr RefAvFrame(const AVFrame *pFrame)
{
    if (!pFrame)
        return nullptr;
    return AvFramePtr(av_frame_clone(pFrame));
}
