#pragma once

// What the whole process (every thread of it, ended ones included) has used so far.
struct ProcessSample
{
    double dCpuSeconds = 0;     // user and system
    long nSwitches = 0;         // voluntary and involuntary context switches
    double dResidentMb = 0;

    static ProcessSample Take();
};
