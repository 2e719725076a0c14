#include "requests/WebMessage.h"

#include "runtime/JsonText.h"
#include "runtime/ResultCodes.h"

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
