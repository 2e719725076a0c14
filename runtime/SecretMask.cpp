#include "runtime/SecretMask.h"

#include "runtime/JsonText.h"

#include <json/value.h>

#include <algorithm>
#include <string>

namespace {

// A key is secret when its name, in lower case, holds one of these.
const QLatin1String kSecretParts[] = {QLatin1String("passw"), QLatin1String("pwd"), QLatin1String("token"),
                                      QLatin1String("secret"), QLatin1String("appkey")};

const QString kMaskedValue = QStringLiteral("\"***\"");

bool IsSpace(QChar c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsWordStart(QChar c) { return c.isLetter() || c == '_' || c == '$' || c == '\\'; }

bool IsWordChar(QChar c) { return c.isLetterOrNumber() || c == '_' || c == '$' || c == '\\' || c == '-' || c == '.'; }

int HexValue(QChar c)
{
    const char ch = c.toLatin1();
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// Reads the text as the JSON reader does (strings with their escapes, comments), and as far as it can when the
// text is not JSON: an unterminated string or bracket runs to the end.
class Scanner
{
public:
    explicit Scanner(const QString &strText) : m_s(strText), m_n(strText.size()) {}

    int Size() const { return m_n; }
    QChar At(int i) const { return i < m_n ? m_s[i] : QChar(); }

    bool IsCommentAt(int i) const { return At(i) == '/' && (At(i + 1) == '*' || At(i + 1) == '/'); }

    // Past white space and comments from i.
    int SkipSpace(int i) const
    {
        while (i < m_n) {
            if (IsSpace(m_s[i])) {
                ++i;
            } else if (At(i) == '/' && At(i + 1) == '*') {
                const int nEnd = m_s.indexOf(QLatin1String("*/"), i + 2);
                i = nEnd < 0 ? m_n : nEnd + 2;
            } else if (At(i) == '/' && At(i + 1) == '/') {
                const int nEnd = m_s.indexOf('\n', i + 2);
                i = nEnd < 0 ? m_n : nEnd + 1;
            } else {
                break;
            }
        }
        return i;
    }

    // One character of a string or word at i, its escape decoded; returns the index after it.
    int Decode(int i, QString *pOut) const
    {
        if (m_s[i] != '\\' || i + 1 >= m_n) {
            if (pOut)
                pOut->append(m_s[i]);
            return i + 1;
        }
        const QChar c = m_s[i + 1];
        if (c == 'u') {
            int nCode = 0;
            int j = i + 2;
            for (; j < i + 6 && j < m_n && HexValue(m_s[j]) >= 0; ++j)
                nCode = nCode * 16 + HexValue(m_s[j]);
            if (pOut)
                pOut->append(QChar(static_cast<ushort>(nCode)));
            return j;
        }
        if (pOut) {
            switch (c.toLatin1()) {
            case 'n': pOut->append('\n'); break;
            case 't': pOut->append('\t'); break;
            case 'r': pOut->append('\r'); break;
            case 'b': pOut->append('\b'); break;
            case 'f': pOut->append('\f'); break;
            default: pOut->append(c); break;
            }
        }
        return i + 2;
    }

    // i at an opening quote: the index after the closing one (or the end), the content decoded into pOut.
    int StringEnd(int i, QString *pOut) const
    {
        const QChar quote = m_s[i];
        ++i;
        while (i < m_n && m_s[i] != quote)
            i = Decode(i, pOut);
        return i < m_n ? i + 1 : m_n;
    }

    // i at a word's first character: the index after its last, decoded into pOut.
    int WordEnd(int i, QString *pOut) const
    {
        while (i < m_n && IsWordChar(m_s[i]))
            i = Decode(i, pOut);
        return i;
    }

    // The end of the value that starts at i: a string, an object or array (to its closing bracket), or a scalar.
    int ValueEnd(int i) const
    {
        if (i >= m_n)
            return m_n;
        const QChar c = m_s[i];
        if (c == '"' || c == '\'')
            return StringEnd(i, nullptr);
        if (c == '{' || c == '[') {
            int nDepth = 0;
            while (i < m_n) {
                const QChar d = m_s[i];
                if (d == '"' || d == '\'') {
                    i = StringEnd(i, nullptr);
                    continue;
                }
                if (IsCommentAt(i)) {
                    i = SkipSpace(i);
                    continue;
                }
                if (d == '{' || d == '[')
                    ++nDepth;
                else if ((d == '}' || d == ']') && --nDepth == 0)
                    return i + 1;
                ++i;
            }
            return m_n;
        }
        while (i < m_n && m_s[i] != ',' && m_s[i] != '}' && m_s[i] != ']' && !IsSpace(m_s[i]) && !IsCommentAt(i))
            ++i;
        return i;
    }

    // Where a secret part's name starts at i (letters written plainly or as \u escapes, in any case): the index
    // after the whole name, or -1.
    int SecretNameEnd(int i) const
    {
        for (const QLatin1String &part : kSecretParts) {
            int j = i;
            int k = 0;
            for (; k < part.size() && j < m_n; ++k) {
                QString decoded;
                const int nNext = Decode(j, &decoded);
                if (decoded.size() != 1 || decoded[0].toLower() != QChar(part[k]))
                    break;
                j = nNext;
            }
            if (k == part.size())
                return WordEnd(j, nullptr);
        }
        return -1;
    }

private:
    const QString &m_s;
    const int m_n;
};

// Every member whose key names a secret gets "***" in place of its value; the rest of the text stays as it is.
QString MaskByKeys(const QString &strText)
{
    const Scanner scan(strText);
    QString strOut;
    int nLast = 0;
    int i = 0;
    while (i < scan.Size()) {
        const QChar c = scan.At(i);
        if (scan.IsCommentAt(i)) {
            i = scan.SkipSpace(i);
            continue;
        }
        QString strName;
        int j;
        if (c == '"' || c == '\'')
            j = scan.StringEnd(i, &strName);
        else if (IsWordStart(c))
            j = scan.WordEnd(i, &strName);
        else {
            ++i;
            continue;
        }
        const int k = scan.SkipSpace(j);
        if (scan.At(k) == ':' && SecretMask::IsSecretName(strName)) {
            const int nValue = scan.SkipSpace(k + 1);
            const int nEnd = scan.ValueEnd(nValue);
            if (nEnd > nValue) {
                strOut += strText.mid(nLast, nValue - nLast) + kMaskedValue;
                nLast = nEnd;
                i = nEnd;
                continue;
            }
        }
        i = j;
    }
    return strOut + strText.mid(nLast);
}

// For a text the reader cannot read, whose keys may be wrongly cut out: after every secret name, whatever stands
// where its value would (behind a ':' or '=', or a string right after the name) is masked.
QString MaskAfterNames(const QString &strText)
{
    const Scanner scan(strText);
    QString strOut;
    int nLast = 0;
    int i = 0;
    while (i < scan.Size()) {
        const int nNameEnd = scan.SecretNameEnd(i);
        if (nNameEnd < 0) {
            ++i;
            continue;
        }
        int k = nNameEnd;
        while (scan.At(k) == '"' || scan.At(k) == '\'')
            ++k;
        k = scan.SkipSpace(k);
        const bool bSeparator = scan.At(k) == ':' || scan.At(k) == '=';
        const int nValue = bSeparator ? scan.SkipSpace(k + 1) : k;
        const bool bValue = bSeparator || scan.At(nValue) == '"' || scan.At(nValue) == '\'';
        const int nEnd = bValue ? scan.ValueEnd(nValue) : nValue;
        if (nEnd > nValue && strText.midRef(nValue, nEnd - nValue) != kMaskedValue) {
            strOut += strText.mid(nLast, nValue - nLast) + kMaskedValue;
            nLast = nEnd;
        }
        i = std::max(nEnd, nNameEnd);
    }
    return strOut + strText.mid(nLast);
}

// Whether every secret member of the tree holds "***" only.
bool AllMasked(const Json::Value &value)
{
    if (value.isObject()) {
        for (const std::string &strName : value.getMemberNames()) {
            const Json::Value &member = value[strName];
            if (SecretMask::IsSecretName(QString::fromStdString(strName))) {
                if (!member.isString() || member.asString() != SecretMask::kMasked)
                    return false;
            } else if (!AllMasked(member)) {
                return false;
            }
        }
    } else if (value.isArray()) {
        for (const Json::Value &item : value) {
            if (!AllMasked(item))
                return false;
        }
    }
    return true;
}

void MaskTree(Json::Value &value)
{
    if (value.isObject()) {
        for (const std::string &strName : value.getMemberNames()) {
            Json::Value &member = value[strName];
            if (SecretMask::IsSecretName(QString::fromStdString(strName)))
                member = SecretMask::kMasked;
            else
                MaskTree(member);
        }
    } else if (value.isArray()) {
        for (Json::Value &item : value)
            MaskTree(item);
    }
}

bool Parses(const QString &strText, Json::Value &root)
{
    try {
        return JsonText::Parse(strText.toStdString(), root);
    } catch (...) {
        // Nested past the reader's limit.
        return false;
    }
}

} // namespace

bool SecretMask::IsSecretName(const QString &strName)
{
    const QString strLower = strName.toLower();
    for (const QLatin1String &part : kSecretParts) {
        if (strLower.contains(part))
            return true;
    }
    return false;
}

QString SecretMask::Mask(const QString &strText)
{
    // Most texts name no secret, plainly or through an escape: they are logged as they are.
    if (!strText.contains('\\')) {
        bool bAnyPart = false;
        for (const QLatin1String &part : kSecretParts)
            bAnyPart = bAnyPart || strText.contains(part, Qt::CaseInsensitive);
        if (!bAnyPart)
            return strText;
    }
    Json::Value root;
    if (!Parses(strText, root))
        return MaskAfterNames(MaskByKeys(strText));
    // The text as the reader reads it: its masked form must read back with no secret left, else the reader's
    // own tree is logged, masked, in the writer's form.
    const QString strMasked = MaskByKeys(strText);
    Json::Value masked;
    if (Parses(strMasked, masked) && AllMasked(masked))
        return strMasked;
    MaskTree(root);
    QString strWritten = QString::fromStdString(JsonText::Write(root));
    strWritten.chop(1);
    return strWritten;
}
