#include "standin/korvex/StrictJson.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstring>
#include <memory>

bool StrictJson::Parse(const char *pText, size_t nLength, Json::Value &root, std::string &strError)
{
    if (!pText) {
        strError = "no text";
        return false;
    }
    // The reader would take a zero byte for the end of the text.
    if (std::memchr(pText, 0, nLength)) {
        strError = "a zero byte inside the text";
        return false;
    }
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(pText, pText + nLength, &root, &strError);
}

std::string StrictJson::Write(const Json::Value &root)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, root);
}

bool StrictJson::IsWhole(const Json::Value &v)
{
    return (v.type() == Json::intValue || v.type() == Json::uintValue) && v.isInt64();
}

bool StrictJson::HasKeys(const Json::Value &object, std::initializer_list<const char *> keys)
{
    if (!object.isObject() || object.size() != keys.size())
        return false;
    for (const char *pKey : keys)
        if (!object.isMember(pKey))
            return false;
    return true;
}
