#pragma once

#include <json/value.h>

#include <cstddef>
#include <initializer_list>
#include <string>

// How the simulated device reads and writes the JSON texts of its commands: a text must be exactly one JSON
// object or array, without comments, trailing bytes (a terminating zero included) or repeated keys.
class StrictJson
{
public:
    static bool Parse(const char *pText, size_t nLength, Json::Value &root, std::string &strError);
    // Compact text, without a line feed.
    static std::string Write(const Json::Value &root);
    // A number written as a whole number (1, not 1.0).
    static bool IsWhole(const Json::Value &v);
    // Whether the object has exactly these keys.
    static bool HasKeys(const Json::Value &object, std::initializer_list<const char *> keys);
};
