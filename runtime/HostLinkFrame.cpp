#include "runtime/HostLinkFrame.h"

QByteArray HostLinkFrame::Encode(const QString &strMsg)
{
    const QByteArray payload = strMsg.toUtf8();
    QByteArray frame = QByteArray::number(payload.size(), 16).rightJustified(kHeaderSize, '0');
    frame.append(payload);
    return frame;
}

void HostLinkFrame::Append(const QByteArray &bytes)
{
    // Consumed bytes are dropped only now and then, so several frames in one read cost one copy, not one each.
    if (m_nReadPos > 0 && m_nReadPos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_nReadPos);
        m_nReadPos = 0;
    }
    m_buffer.append(bytes);
}

int HostLinkFrame::ParseLength(const char *pDigits)
{
    qint64 nValue = 0;
    for (int i = 0; i < kHeaderSize; ++i) {
        const char c = pDigits[i];
        int nDigit;
        if (c >= '0' && c <= '9')
            nDigit = c - '0';
        else if (c >= 'a' && c <= 'f')
            nDigit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nDigit = c - 'A' + 10;
        else
            return -1;
        nValue = nValue * 16 + nDigit;
    }
    return nValue > kMaxPayload ? -1 : static_cast<int>(nValue);
}

bool HostLinkFrame::TakeMessage(QByteArray &payload)
{
    for (;;) {
        const int nAvail = m_buffer.size() - m_nReadPos;
        if (m_bExpectHeader) {
            if (nAvail < kHeaderSize)
                return false;
            const int nLen = ParseLength(m_buffer.constData() + m_nReadPos);
            m_nReadPos += kHeaderSize;
            if (nLen < 0) {
                ++m_nDroppedFields;
                continue;
            }
            m_nExpectLen = nLen;
            m_bExpectHeader = false;
            continue;
        }
        if (nAvail < m_nExpectLen)
            return false;
        m_bExpectHeader = true;
        if (m_nReadPos + m_nExpectLen == m_buffer.size()) {
            // The payload ends the buffer (the usual case): hand the buffer itself over rather than a copy,
            // which for a large frame would double its memory.
            m_buffer.remove(0, m_nReadPos);
            payload.swap(m_buffer);
            m_buffer.clear();
            m_nReadPos = 0;
            return true;
        }
        payload = m_buffer.mid(m_nReadPos, m_nExpectLen);
        m_nReadPos += m_nExpectLen;
        return true;
    }
}
