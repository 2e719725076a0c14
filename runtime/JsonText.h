#pragma once

#include <json/value.h>

#include <string>

// The one place that reads and writes JSON text: the classic reader (comments allowed) and the compact writer,
// whose exact text (sorted keys, no blanks, a final line feed) the page relies on.
class JsonText
{
public:
    static bool Parse(const std::string &strText, Json::Value &root);
    static std::string Write(const Json::Value &root);
};
