#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reading NAL units out of Annex-B access units.
class AnnexB
{
public:
    struct Nal
    {
        const uint8_t *pData;   // the NAL unit, after its start code
        size_t nSize;
        int nType;
    };

    static constexpr int kH264Sps = 7, kH264Pps = 8, kH264Idr = 5;
    static constexpr int kH265Vps = 32, kH265Sps = 33, kH265Pps = 34;

    static int NalType(uint8_t nFirstByte, bool bH265);
    static std::vector<Nal> Split(const uint8_t *pData, size_t nSize, bool bH265);

    // Whether the access unit carries every parameter set of its codec (VPS for H.265, SPS and PPS).
    static bool HasParameterSets(const uint8_t *pData, size_t nSize, bool bH265);
    // The parameter-set NAL units of the access unit, each behind a four-byte start code.
    static std::vector<uint8_t> ParameterSets(const uint8_t *pData, size_t nSize, bool bH265);
};
