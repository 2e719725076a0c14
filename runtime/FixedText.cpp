#include "runtime/FixedText.h"

#include <cstring>

QByteArray FixedText::CutUtf8(const QByteArray &bytes, int nMaxBytes)
{
    if (nMaxBytes <= 0)
        return QByteArray();
    if (bytes.size() <= nMaxBytes)
        return bytes;
    // A cut before a continuation byte (10xxxxxx) would split a sequence: move it back to the sequence's lead byte.
    int nCut = nMaxBytes;
    while (nCut > 0 && (static_cast<unsigned char>(bytes[nCut]) & 0xC0) == 0x80)
        --nCut;
    return bytes.left(nCut);
}

int FixedText::Copy(char *pField, std::size_t nWidth, const QString &strText)
{
    return Copy(pField, nWidth, strText.toLocal8Bit());
}

int FixedText::Copy(char *pField, std::size_t nWidth, const QByteArray &bytes)
{
    if (!pField || nWidth == 0)
        return 0;
    std::memset(pField, 0, nWidth);
    QByteArray text = bytes;
    const int nZero = text.indexOf('\0');
    if (nZero >= 0)
        text.truncate(nZero);
    const QByteArray cut = CutUtf8(text, static_cast<int>(nWidth) - 1);
    std::memcpy(pField, cut.constData(), static_cast<std::size_t>(cut.size()));
    return cut.size();
}

QByteArray FixedText::Read(const char *pField, std::size_t nWidth)
{
    if (!pField)
        return QByteArray();
    const void *pZero = std::memchr(pField, 0, nWidth);
    const std::size_t nLen = pZero ? static_cast<std::size_t>(static_cast<const char *>(pZero) - pField) : nWidth;
    return QByteArray(pField, static_cast<int>(nLen));
}

QString FixedText::ReadLocal(const char *pField, std::size_t nWidth)
{
    return QString::fromLocal8Bit(Read(pField, nWidth));
}
