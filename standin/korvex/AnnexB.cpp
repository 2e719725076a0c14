#include "standin/korvex/AnnexB.h"

int AnnexB::NalType(uint8_t nFirstByte, bool bH265)
{
    return bH265 ? (nFirstByte >> 1) & 0x3F : nFirstByte & 0x1F;
}

std::vector<AnnexB::Nal> AnnexB::Split(const uint8_t *pData, size_t nSize, bool bH265)
{
    std::vector<Nal> nals;
    size_t i = 0;
    size_t nStart = SIZE_MAX;
    auto close = [&](size_t nEnd) {
        if (nStart == SIZE_MAX || nEnd <= nStart)
            return;
        // Trailing zero bytes belong to the next start code.
        while (nEnd > nStart && pData[nEnd - 1] == 0)
            --nEnd;
        if (nEnd > nStart)
            nals.push_back(Nal{pData + nStart, nEnd - nStart, NalType(pData[nStart], bH265)});
    };
    while (i + 3 <= nSize) {
        if (pData[i] == 0 && pData[i + 1] == 0 && pData[i + 2] == 1) {
            close(i);
            nStart = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    close(nSize);
    return nals;
}

bool AnnexB::HasParameterSets(const uint8_t *pData, size_t nSize, bool bH265)
{
    bool bVps = !bH265, bSps = false, bPps = false;
    for (const Nal &nal : Split(pData, nSize, bH265)) {
        if (bH265) {
            bVps |= nal.nType == kH265Vps;
            bSps |= nal.nType == kH265Sps;
            bPps |= nal.nType == kH265Pps;
        } else {
            bSps |= nal.nType == kH264Sps;
            bPps |= nal.nType == kH264Pps;
        }
    }
    return bVps && bSps && bPps;
}

std::vector<uint8_t> AnnexB::ParameterSets(const uint8_t *pData, size_t nSize, bool bH265)
{
    std::vector<uint8_t> out;
    for (const Nal &nal : Split(pData, nSize, bH265)) {
        const bool bSet = bH265 ? (nal.nType >= kH265Vps && nal.nType <= kH265Pps)
                                : (nal.nType == kH264Sps || nal.nType == kH264Pps);
        if (!bSet)
            continue;
        static const uint8_t kStart[4] = {0, 0, 0, 1};
        out.insert(out.end(), kStart, kStart + 4);
        out.insert(out.end(), nal.pData, nal.pData + nal.nSize);
    }
    return out;
}
