#include "runtime/HostLinkFrame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Feeds the stream in the given chunk sizes (the last size repeats) and collects every message, in order.
std::vector<QByteArray> Decode(const QByteArray &stream, const std::vector<int> &chunks)
{
    HostLinkFrame frame;
    std::vector<QByteArray> messages;
    int nPos = 0;
    size_t nChunk = 0;
    while (nPos < stream.size()) {
        const int nSize = chunks[std::min(nChunk++, chunks.size() - 1)];
        frame.Append(stream.mid(nPos, nSize));
        nPos += nSize;
        QByteArray msg;
        while (frame.TakeMessage(msg))
            messages.push_back(msg);
    }
    return messages;
}

QByteArray Frame(const QByteArray &payload)
{
    return QByteArray::number(payload.size(), 16).rightJustified(8, '0') + payload;
}

} // namespace

TEST(HostLinkFrame, EncodesLowerCaseLengthOfTheUtf8Bytes)
{
    const QString strMsg = QString(150, QChar(0x00e9)); // 150 characters, 300 UTF-8 bytes
    const QByteArray frame = HostLinkFrame::Encode(strMsg);
    EXPECT_EQ(frame.left(8), QByteArray("0000012c"));
    EXPECT_EQ(frame.size(), 308);
    EXPECT_EQ(HostLinkFrame::Encode(QString()), QByteArray("00000000"));
}

TEST(HostLinkFrame, DeliversWholeMessagesWhateverTheChunking)
{
    const QByteArray stream = Frame("{\"MainType\":1}") + Frame("") + Frame("second") + Frame(QByteArray(70000, 'x'));
    const std::vector<QByteArray> expected = {"{\"MainType\":1}", "", "second", QByteArray(70000, 'x')};
    const std::vector<std::vector<int>> schedules = {
        {stream.size()},   // every frame in one read
        {1},               // byte by byte
        {3, 7, 2},         // split inside the length field
        {8, 14, 8},        // exactly at the field boundaries
        {4096},
    };
    for (const auto &schedule : schedules)
        EXPECT_EQ(Decode(stream, schedule), expected) << "first chunk " << schedule[0];
}

TEST(HostLinkFrame, AcceptsUpperCaseDigits)
{
    const QByteArray stream = QByteArray("0000000A") + "0123456789";
    EXPECT_EQ(Decode(stream, {stream.size()}), std::vector<QByteArray>{"0123456789"});
}

TEST(HostLinkFrame, BadLengthFieldIsDroppedAndParsingGoesOn)
{
    struct Case { const char *pField; };
    // Not hexadecimal, a sign, a blank, a hostile length above 16 MiB.
    const Case cases[] = {{"zzzzzzzz"}, {"-0000001"}, {"0000 001"}, {"+0000005"}, {"01000001"}, {"ffffffff"}};
    for (const Case &c : cases) {
        const QByteArray stream = QByteArray(c.pField) + Frame("after") + Frame("more");
        HostLinkFrame frame;
        frame.Append(stream);
        QByteArray msg;
        // The complete frames already buffered come out at once, without waiting for another read.
        ASSERT_TRUE(frame.TakeMessage(msg)) << c.pField;
        EXPECT_EQ(msg, QByteArray("after")) << c.pField;
        ASSERT_TRUE(frame.TakeMessage(msg));
        EXPECT_EQ(msg, QByteArray("more"));
        EXPECT_EQ(frame.DroppedFields(), 1);
        EXPECT_EQ(frame.BufferedBytes(), 0);
    }
}

TEST(HostLinkFrame, MaximumLengthIsStillAccepted)
{
    HostLinkFrame frame;
    frame.Append(QByteArray::number(HostLinkFrame::kMaxPayload, 16).rightJustified(8, '0'));
    QByteArray msg;
    EXPECT_FALSE(frame.TakeMessage(msg));
    EXPECT_FALSE(frame.ExpectingHeader());
    EXPECT_EQ(frame.DroppedFields(), 0);
}

TEST(HostLinkFrame, ShortPayloadSwallowsLaterFramesUntilItsLengthIsReached)
{
    // A frame announcing 20 bytes followed by a complete 5-byte frame: the later frame is part of the payload.
    HostLinkFrame frame;
    frame.Append(QByteArray("00000014") + Frame("abcde"));
    QByteArray msg;
    EXPECT_FALSE(frame.TakeMessage(msg));
    frame.Append("1234567");
    ASSERT_TRUE(frame.TakeMessage(msg));
    EXPECT_EQ(msg, QByteArray("0000000") + "5abcde" + "1234567");
}
