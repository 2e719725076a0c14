#pragma once

#include <map>
#include <string>
#include <vector>

// A measurement in a process of its own: this benchmark started again with the arguments of a mode, printing its
// figures as "figure NAME VALUE" lines; its other lines are passed on, indented.
class ChildRun
{
public:
    using Figures = std::map<std::string, double>;

    // In the child: one figure.
    static void Put(const char *pName, double dValue);
    // In the parent: runs the mode and reads its figures; false when it failed or gave none.
    static bool Run(const std::vector<std::string> &args, Figures &figures);
    // The figure, or 0 when the child did not give it.
    static double Get(const Figures &figures, const char *pName);
};
