// The host link's frame decoder. Input: two 2-byte seeds (chunking of the stream, chunking of the re-encoded
// frames), one byte giving how often the stream repeats, then the stream itself.
// Checks: the messages are exactly the frames of the stream read by the format (8 hexadecimal digits of either
// case giving the length, a bad field dropped as a whole), whatever the chunking; re-encoding them and reading
// that back in other chunks gives the same messages; what the decoder keeps stays within one frame and a chunk.

#include "FuzzSupport.h"

#include "runtime/HostLinkFrame.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

struct Decoded
{
    std::vector<QByteArray> messages;
    int nDropped = 0;
    int nBuffered = 0;
    bool bExpectHeader = true;
};

Decoded DecodeInChunks(const QByteArray &stream, uint32_t nSeed)
{
    HostLinkFrame frame;
    ChunkSizes sizes(nSeed);
    Decoded out;
    int nPos = 0;
    while (nPos < stream.size()) {
        const int nChunk = std::min(static_cast<int>(sizes.Next()), stream.size() - nPos);
        const int nBufferedBefore = frame.BufferedBytes();
        frame.Append(stream.mid(nPos, nChunk));
        nPos += nChunk;
        // Delivered bytes are dropped before they pile up: what is stored is at most twice what waited,
        // plus the new chunk.
        FUZZ_CHECK(frame.StoredBytes() <= 2 * nBufferedBefore + nChunk,
                   "stored " + std::to_string(frame.StoredBytes()) + " after a chunk of " + std::to_string(nChunk) +
                       " with " + std::to_string(nBufferedBefore) + " waiting");
        QByteArray payload;
        while (frame.TakeMessage(payload))
            out.messages.push_back(payload);
        // Nothing complete is left behind: what waits is a part of a length field or of one payload.
        if (frame.ExpectingHeader())
            FUZZ_CHECK(frame.BufferedBytes() < HostLinkFrame::kHeaderSize, "a whole length field left unread");
        else
            FUZZ_CHECK(frame.BufferedBytes() < HostLinkFrame::kMaxPayload, "more than one payload kept");
    }
    out.nDropped = frame.DroppedFields();
    out.nBuffered = frame.BufferedBytes();
    out.bExpectHeader = frame.ExpectingHeader();
    return out;
}

// The length of a field: exactly 8 hexadecimal digits of either case, within the decoder's limit; else -1.
int FieldLength(const char *pField)
{
    const std::string strField(pField, HostLinkFrame::kHeaderSize);
    if (!std::all_of(strField.begin(), strField.end(), [](unsigned char c) { return std::isxdigit(c) != 0; }))
        return -1;
    const long long nValue = std::stoll(strField, nullptr, 16);
    return nValue > HostLinkFrame::kMaxPayload ? -1 : static_cast<int>(nValue);
}

// Reads the stream as the format lays it out and compares with what the decoder gave.
void CheckAgainstStream(const QByteArray &stream, const Decoded &got)
{
    int nPos = 0;
    size_t nFrame = 0;
    int nDropped = 0;
    bool bInPayload = false;
    while (stream.size() - nPos >= HostLinkFrame::kHeaderSize) {
        const int nLen = FieldLength(stream.constData() + nPos);
        if (nLen < 0) {
            nPos += HostLinkFrame::kHeaderSize;
            ++nDropped;
            continue;
        }
        if (stream.size() - nPos - HostLinkFrame::kHeaderSize < nLen) {
            bInPayload = true;
            break;
        }
        FUZZ_CHECK(nFrame < got.messages.size(), "the complete frame at " + std::to_string(nPos) + " was not delivered");
        FUZZ_CHECK(got.messages[nFrame] == stream.mid(nPos + HostLinkFrame::kHeaderSize, nLen),
                   "message " + std::to_string(nFrame) + " differs from the frame at " + std::to_string(nPos));
        nPos += HostLinkFrame::kHeaderSize + nLen;
        ++nFrame;
    }
    FUZZ_CHECK(nFrame == got.messages.size(), "delivered " + std::to_string(got.messages.size()) +
                                                  " messages, the stream holds " + std::to_string(nFrame));
    FUZZ_CHECK(got.nDropped == nDropped, "dropped " + std::to_string(got.nDropped) + " fields, expected " +
                                             std::to_string(nDropped));
    FUZZ_CHECK(got.bExpectHeader == !bInPayload, "left in the wrong state");
    const int nWaiting = stream.size() - nPos - (bInPayload ? HostLinkFrame::kHeaderSize : 0);
    FUZZ_CHECK(got.nBuffered == nWaiting,
               "keeps " + std::to_string(got.nBuffered) + " bytes, the stream leaves " + std::to_string(nWaiting));
}

bool IsLowerHex(const QByteArray &field)
{
    for (char c : field) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

QByteArray Frame(const QByteArray &payload)
{
    return QByteArray::number(payload.size(), 16).rightJustified(8, '0') + payload;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const std::string control("\x05\x00\x07\x00\x02", 5);
    WriteSeeds({
        control + Frame("{\"MainType\":1,\"MsgID\":1}").toStdString() + Frame("").toStdString(),
        control + "zzzzzzzz" + Frame("after").toStdString() + "0000000A0123456789",
        control + "0000001F{\"MainType\":8}" + Frame("x").toStdString(),
        std::string("\x01\x00\x01\x00\x00", 5) + Frame(QString(150, QChar(0x00e9)).toUtf8()).toStdString() + "0000",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    const uint32_t nSeedStream = TakeLe(pData, nSize, 2);
    const uint32_t nSeedEncoded = TakeLe(pData, nSize, 2);
    const int nRepeat = 1 + static_cast<int>(TakeLe(pData, nSize, 1) % 8);
    const QByteArray stream = QByteArray(reinterpret_cast<const char *>(pData), static_cast<int>(nSize)).repeated(nRepeat);

    const Decoded got = DecodeInChunks(stream, nSeedStream);
    CheckAgainstStream(stream, got);

    // The messages as the link hands them on (text), framed again as the link sends them.
    QByteArray encoded;
    std::vector<QByteArray> expected;
    for (const QByteArray &payload : got.messages) {
        const QString strMsg = QString::fromUtf8(payload);
        const QByteArray utf8 = strMsg.toUtf8();
        const QByteArray frame = HostLinkFrame::Encode(strMsg);
        FUZZ_CHECK(frame.size() == HostLinkFrame::kHeaderSize + utf8.size() && frame.mid(8) == utf8,
                   "a frame is not its length field and the text's UTF-8 bytes");
        const QByteArray field = frame.left(HostLinkFrame::kHeaderSize);
        FUZZ_CHECK(IsLowerHex(field) && field.toInt(nullptr, 16) == utf8.size(),
                   "length field " + field.toStdString() + " for " + std::to_string(utf8.size()) + " bytes");
        encoded += frame;
        expected.push_back(utf8);
    }
    const Decoded again = DecodeInChunks(encoded, nSeedEncoded);
    FUZZ_CHECK(again.messages == expected, "re-encoded frames read back differently");
    FUZZ_CHECK(again.nDropped == 0 && again.nBuffered == 0 && again.bExpectHeader, "re-encoded frames left a rest");
    return 0;
}
