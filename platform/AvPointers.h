#pragma once

#include <memory>

struct AVBSFContext;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Owners of FFmpeg objects, for every user of the FFmpeg libraries.
struct AvFrameDeleter { void operator()(AVFrame *p) const; };
struct AvPacketDeleter { void operator()(AVPacket *p) const; };
struct AvCodecContextDeleter { void operator()(AVCodecContext *p) const; };
struct AvInputDeleter { void operator()(AVFormatContext *p) const; };    // avformat_close_input
// An output context: closes its file (unless the format has none) and frees the context.
struct AvOutputDeleter { void operator()(AVFormatContext *p) const; };
struct AvBsfDeleter { void operator()(AVBSFContext *p) const; };
struct SwsDeleter { void operator()(SwsContext *p) const; };

using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextDeleter>;
using AvInputPtr = std::unique_ptr<AVFormatContext, AvInputDeleter>;
using AvOutputPtr = std::unique_ptr<AVFormatContext, AvOutputDeleter>;
using AvBsfPtr = std::unique_ptr<AVBSFContext, AvBsfDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

AvFramePtr NewAvFrame();
AvPacketPtr NewAvPacket();
// A new reference to the same picture.
AvFramePtr RefAvFrame(const AVFrame *pFrame);
