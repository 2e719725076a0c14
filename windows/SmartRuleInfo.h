#pragma once

#include <cstdint>

// The smart-analysis rules drawn over channel 0's picture: up to 4 rules, each a line or a region of up to 8
// points with its alarm direction, every coordinate on the 0..8192 scale of the picture. Filled from the
// smart-rule request; the field names follow its keys.
constexpr int SMART_RULE_MAX = 4;
constexpr int SMART_RULE_MAX_POINTS = 8;

enum SmartRuleType : uint8_t { SMART_RULE_LINE = 0, SMART_RULE_REGION = 1 };

struct SmartRulePoint
{
    int32_t X;
    int32_t Y;
};

struct SmartRule
{
    uint8_t Enable;
    uint8_t RuleType;           // SmartRuleType
    uint8_t LineAlarmDirect;    // 0, 1 or 2
    uint8_t RegionAlarmDirect;  // 0, 1 or 2
    int32_t PtsNum;             // region points used
    int32_t StartX;             // the line
    int32_t StartY;
    int32_t StopX;
    int32_t StopY;
    SmartRulePoint Pts[SMART_RULE_MAX_POINTS];  // the region
};

struct SmartRuleInfo
{
    int32_t Channel;            // 0-255
    int32_t AreaNum;            // regions in use
    int32_t LineNum;            // lines in use
    uint8_t ShowRule;
    SmartRule PedRule[SMART_RULE_MAX];
};
