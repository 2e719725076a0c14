#include "runtime/JsonText.h"

// The classic reader and writer are deprecated in this jsoncpp, but their output is the wire format.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <json/reader.h>
#include <json/writer.h>

bool JsonText::Parse(const std::string &strText, Json::Value &root)
{
    Json::Reader reader;
    return reader.parse(strText, root, false);
}

std::string JsonText::Write(const Json::Value &root)
{
    Json::FastWriter writer;
    return writer.write(root);
}
#pragma GCC diagnostic pop
