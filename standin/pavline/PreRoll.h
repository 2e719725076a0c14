#pragma once

#include "standin/pavline/MediaUnit.h"
#include "standin/pavline/RingQueue.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PortRecorder;

// What a port has received or read since the key frame at or before the picture it shows, kept (as copies) for
// a recorder started later: a recording begins with a picture that can be decoded, the key frame before the
// one on screen, and not somewhere in a group of pictures. Groups the picture shown has passed are let go; at
// most kMaxBytes are kept, so a group longer than that is not kept (a recording then begins at the next key
// frame). The room of the units let go is used again. Not locked: the port's record lock guards it.
class PreRoll
{
public:
    static constexpr size_t kMaxBytes = 8u * 1024u * 1024u;

    // A unit received or read; bShown and nShownMs tell the picture shown, if any.
    void Keep(const MediaUnit &unit, bool bShown, int64_t nShownMs);
    // Hands the units kept, from the last key frame at or before the picture shown, to the recorder.
    void WriteTo(PortRecorder &recorder, bool bShown, int64_t nShownMs);
    void Clear();
    size_t Units() const { return m_units.size(); }
    size_t Bytes() const { return m_nBytes; }

private:
    // Lets go the groups before the last key frame at or before the picture shown.
    void LetGoShown(bool bShown, int64_t nShownMs);
    // Lets go the first group (everything when there is only one).
    void LetGoFirstGroup();
    void LetGo(size_t nUnits);

    RingQueue<MediaUnit> m_units;       // from a key frame on
    RingQueue<uint64_t> m_keys;         // the numbers of the key frames among them
    uint64_t m_nFirst = 0;              // the number of the first unit kept
    size_t m_nBytes = 0;
    bool m_bKeeping = false;            // a key frame began what is kept, and all since fits
    std::vector<std::vector<uint8_t>> m_spare;
};
