#include "requests/WebMessage.h"

#include "runtime/JsonText.h"
#include "runtime/ResultCodes.h"

#include <algorithm>

namespace {

// The bytes a text takes in a written message, its quotes and escapes included (a non-ASCII character is written
// as one or two \u escapes of six bytes each).
size_t WrittenSize(const std::string &strText)
{
    return JsonText::Write(Json::Value(strText)).size() - 1; // less the final line feed
}

// A text value of a message and where it lies.
struct TextValue
{
    Json::Value *pValue;
    std::string strWhere;
    size_t nWritten;
};

void CollectTexts(Json::Value &value, const std::string &strWhere, std::vector<TextValue> &texts)
{
    if (value.isString()) {
        texts.push_back({&value, strWhere, WrittenSize(value.asString())});
    } else if (value.isObject()) {
        for (const std::string &strName : value.getMemberNames())
            CollectTexts(value[strName], strWhere.empty() ? strName : strWhere + "." + strName, texts);
    } else if (value.isArray()) {
        for (Json::ArrayIndex i = 0; i < value.size(); ++i)
            CollectTexts(value[i], strWhere + "[" + std::to_string(i) + "]", texts);
    }
}

// The longest start of the text, ending at a character boundary, that is written in at most nBudget bytes.
std::string LongestStartWithin(const std::string &strText, size_t nBudget)
{
    std::vector<size_t> bounds{0};
    for (size_t i = 1; i <= strText.size(); ++i)
        if (i == strText.size() || (static_cast<unsigned char>(strText[i]) & 0xC0) != 0x80)
            bounds.push_back(i);
    // The written size grows with the length: halving finds the longest start that fits.
    size_t nLow = 0;
    size_t nHigh = bounds.size() - 1;
    while (nLow < nHigh) {
        const size_t nMid = nLow + (nHigh - nLow + 1) / 2;
        if (WrittenSize(strText.substr(0, bounds[nMid])) <= nBudget)
            nLow = nMid;
        else
            nHigh = nMid - 1;
    }
    return strText.substr(0, bounds[nLow]);
}

} // namespace

// Members are read through the const operator[]: an absent one is null, and a request that is not an object
// throws, which the dispatcher's guard logs.

WebMessage WebMessage::Reply(const Json::Value &request)
{
    return Reply(request["MainType"].asInt(), request["SubType"].asInt(), request);
}

WebMessage WebMessage::Reply(int nMsg, int nSubMsg, const Json::Value &request, const char *pSubKey)
{
    Json::Value value(Json::objectValue);
    value["Msg"] = nMsg;
    value[pSubKey] = nSubMsg;
    value["MsgID"] = request["MsgID"];
    return WebMessage(std::move(value));
}

WebMessage WebMessage::Unsupported(const Json::Value &request)
{
    Json::Value value(Json::objectValue);
    value["Msg"] = request["MainType"];
    value["SubMsg"] = request["SubType"];
    value["MsgID"] = request["MsgID"];
    WebMessage message(std::move(value));
    message.SetRet(RET_UNSUPPORTED);
    return message;
}

WebMessage WebMessage::Event(int nMainEvent, int nSubEvent)
{
    Json::Value value(Json::objectValue);
    value["MainEvent"] = nMainEvent;
    value["SubEvent"] = nSubEvent;
    return WebMessage(std::move(value));
}

WebMessage &WebMessage::SetRet(int nRet)
{
    m_value["Ret"] = nRet;
    return *this;
}

std::string WebMessage::Text() const
{
    return JsonText::Write(m_value);
}

bool WebMessage::Fit(Json::Value &value, size_t nMaxBytes, FitReport &report)
{
    constexpr size_t kEmptyText = 2;
    size_t nSize = JsonText::Write(value).size();
    for (;;) {
        if (nSize <= nMaxBytes)
            return true;
        // A text is written the same wherever it stands, so the message's size follows from each text's own.
        std::vector<TextValue> texts;
        CollectTexts(value, std::string(), texts);
        size_t nTexts = 0;
        for (const TextValue &text : texts)
            nTexts += text.nWritten - kEmptyText;
        if (nSize - nTexts <= nMaxBytes)
            break;
        // Numbers, switches and names alone are too many: the largest member goes first.
        if (!value.isObject())
            return false;
        bool bFound = false;
        std::string strLargest;
        size_t nLargest = 0;
        for (const std::string &strName : value.getMemberNames()) {
            const Json::Value &member = value[strName];
            if (member.isNull())
                continue;
            const size_t nMember = JsonText::Write(member).size();
            if (!bFound || nMember > nLargest) {
                bFound = true;
                strLargest = strName;
                nLargest = nMember;
            }
        }
        if (!bFound)
            return false;
        value[strLargest] = Json::Value();
        report.nulled.push_back(strLargest);
        nSize = JsonText::Write(value).size();
    }

    std::vector<TextValue> texts;
    CollectTexts(value, std::string(), texts);
    std::stable_sort(texts.begin(), texts.end(),
                     [](const TextValue &a, const TextValue &b) { return a.nWritten > b.nWritten; });
    for (const TextValue &text : texts) {
        if (nSize <= nMaxBytes)
            break;
        const size_t nExcess = nSize - nMaxBytes;
        const std::string strShort = text.nWritten - kEmptyText <= nExcess
                                         ? std::string()
                                         : LongestStartWithin(text.pValue->asString(), text.nWritten - nExcess);
        const size_t nAfter = WrittenSize(strShort);
        *text.pValue = strShort;
        nSize = nSize - text.nWritten + nAfter;
        report.cuts.push_back({text.strWhere, text.nWritten, nAfter});
    }
    return JsonText::Write(value).size() <= nMaxBytes;
}
