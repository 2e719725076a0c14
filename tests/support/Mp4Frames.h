#pragma once

#include "device/media/CMp4Writer.h"

#include <cstdint>
#include <vector>

// The frame records that fixtures and benchmarks hand to CMp4Writer. The record points into data, which must
// outlive it.

// A picture: an Annex-B access unit; nCodec as CMp4Writer numbers it (kCodecH264, kCodecH265).
FrameInfo Mp4VideoFrame(const std::vector<uint8_t> &data, bool bKeyFrame, int nCodec, int nFrameRate, int nWidth,
                        int nHeight);
// Mono sound of a CAudioConvert type (14 A-law, 12 PCM...).
FrameInfo Mp4AudioFrame(const std::vector<uint8_t> &data, int nCodec, int nSampleRate, int nBitsPerSample);
