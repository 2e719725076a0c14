#include "bench/support/Spread.h"

#include <algorithm>
#include <cstdio>

double Spread::Median() const
{
    if (m_values.empty())
        return 0.0;
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

double Spread::Min() const { return m_values.empty() ? 0.0 : *std::min_element(m_values.begin(), m_values.end()); }
double Spread::Max() const { return m_values.empty() ? 0.0 : *std::max_element(m_values.begin(), m_values.end()); }

std::string Spread::Text(int nDecimals, double dScale) const
{
    if (m_values.empty())
        return "-";
    char szText[96];
    std::snprintf(szText, sizeof szText, "%.*f (%.*f-%.*f)", nDecimals, Median() * dScale, nDecimals, Min() * dScale,
                  nDecimals, Max() * dScale);
    return szText;
}
