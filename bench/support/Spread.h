#pragma once

#include <string>
#include <vector>

// The values of a figure over the turns of a run: their median and their spread.
class Spread
{
public:
    void Add(double dValue) { m_values.push_back(dValue); }
    bool Empty() const { return m_values.empty(); }
    double Median() const;
    double Min() const;
    double Max() const;
    // "median (min-max)" with the precision given, each value multiplied by dScale.
    std::string Text(int nDecimals, double dScale = 1.0) const;

private:
    std::vector<double> m_values;
};
