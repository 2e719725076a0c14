#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Texts copied into fixed-width, zero-terminated fields: always cut at a character boundary.
class FixedText
{
public:
    // The longest prefix of at most nMaxBytes bytes that does not end inside a UTF-8 sequence.
    static QByteArray CutUtf8(const QByteArray &bytes, int nMaxBytes);

    // Copies the text in the local 8-bit encoding into a field of nWidth bytes (at most nWidth - 1 of text),
    // zero-filling the rest. Returns the number of text bytes copied.
    static int Copy(char *pField, std::size_t nWidth, const QString &strText);
    static int Copy(char *pField, std::size_t nWidth, const QByteArray &bytes);

    // Reads a field that may lack its terminating zero, never past nWidth bytes.
    static QByteArray Read(const char *pField, std::size_t nWidth);
    // The same field's text, in the local 8-bit encoding.
    static QString ReadLocal(const char *pField, std::size_t nWidth);

    template <std::size_t N>
    static int Copy(char (&field)[N], const QString &strText) { return Copy(field, N, strText); }
    template <std::size_t N>
    static int Copy(char (&field)[N], const QByteArray &bytes) { return Copy(field, N, bytes); }
    template <std::size_t N>
    static QByteArray Read(const char (&field)[N]) { return Read(field, N); }
    template <std::size_t N>
    static QString ReadLocal(const char (&field)[N]) { return ReadLocal(field, N); }
};
