#pragma once

#include <QByteArray>
#include <QString>

// The framing of the host link, both directions: 8 hexadecimal digits giving the payload's byte length, then the
// payload (one UTF-8 JSON text). The decoder accepts the stream cut into arbitrary chunks.
class HostLinkFrame
{
public:
    static constexpr int kHeaderSize = 8;
    // No request comes near this; a larger announced length is treated as a bad field, so that a hostile length
    // cannot make the buffer grow without end.
    static constexpr int kMaxPayload = 16 * 1024 * 1024;
    // The most of a message's text that is read (the request's buffer holds 64 KiB with its terminating zero):
    // the rest of a longer frame is carried no further than the link.
    static constexpr int kMaxTextBytes = 65535;

    // The frame for a message: its UTF-8 length as 8 lower-case hexadecimal digits, then the UTF-8 bytes.
    static QByteArray Encode(const QString &strMsg);

    void Append(const QByteArray &bytes);
    // Takes the next complete payload; false while more bytes are needed. A bad length field (not exactly
    // 8 hexadecimal digits, or above kMaxPayload) drops its 8 bytes and parsing goes on after them.
    bool TakeMessage(QByteArray &payload);

    bool ExpectingHeader() const { return m_bExpectHeader; }
    int BufferedBytes() const { return m_buffer.size() - m_nReadPos; }
    // What the buffer holds, delivered bytes not yet dropped included.
    int StoredBytes() const { return m_buffer.size(); }
    int DroppedFields() const { return m_nDroppedFields; }

private:
    static int ParseLength(const char *pDigits);

    bool m_bExpectHeader = true;
    int m_nExpectLen = 0;
    QByteArray m_buffer;
    int m_nReadPos = 0;
    int m_nDroppedFields = 0;
};
