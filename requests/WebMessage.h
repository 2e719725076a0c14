#pragma once

#include <json/value.h>

#include <QString>

#include <string>
#include <vector>

// A reply or an event as the page receives it. The envelope ("Msg", "SubMsg", "MsgID", "Ret"; "MainEvent",
// "SubEvent") is written only here; handlers add their own keys with operator[].
class WebMessage
{
public:
    // The reply to a request: "Msg" and "SubMsg" are its "MainType" and "SubType" read as ints (a missing one
    // reads 0, a non-numeric one throws), "MsgID" is copied (null when absent).
    static WebMessage Reply(const Json::Value &request);
    // A reply with "Msg" and "SubMsg" given by the handler, "MsgID" copied from the request. A reply that
    // carries its sub-type under another key names that key.
    static WebMessage Reply(int nMsg, int nSubMsg, const Json::Value &request, const char *pSubKey = "SubMsg");
    // The answer to a "MainType" without a handler: "Msg" and "SubMsg" copied as they stand in the request,
    // "Ret" 1020.
    static WebMessage Unsupported(const Json::Value &request);
    // An event sent without a request.
    static WebMessage Event(int nMainEvent, int nSubEvent);

    WebMessage &SetRet(int nRet);
    Json::Value &operator[](const char *pKey) { return m_value[pKey]; }
    const Json::Value &Value() const { return m_value; }

    // The text on the link: compact, keys in ascending byte order, a line feed at the end.
    std::string Text() const;
    QString ToQString() const { return QString::fromStdString(Text()); }

    // What fitting a message took: each text value shortened ("OmbrixUpdateLog", "Data.Path", "MsgID[2]") with
    // its written size before and after, and each member set to null because no text was left to shorten.
    struct FitReport
    {
        struct Cut
        {
            std::string strWhere;
            size_t nBefore;
            size_t nAfter;
        };
        std::vector<Cut> cuts;
        std::vector<std::string> nulled;
    };
    // Makes the value's text (as Text() writes it) at most nMaxBytes long by shortening its longest text values,
    // each at a character boundary, longest first, so that the page still gets JSON it can read. A message too
    // long even without its texts first has its largest members set to null. True when the text fits (unchanged
    // when it did already); false when it cannot be made to (not an object, or too long with every member null).
    static bool Fit(Json::Value &value, size_t nMaxBytes, FitReport &report);

private:
    explicit WebMessage(Json::Value value) : m_value(std::move(value)) {}

    Json::Value m_value;
};
