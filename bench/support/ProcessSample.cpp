#include "bench/support/ProcessSample.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

ProcessSample ProcessSample::Take()
{
    ProcessSample sample;
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    sample.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    sample.nSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
    long nPages = 0, nResident = 0;
    if (FILE *pFile = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(pFile, "%ld %ld", &nPages, &nResident) != 2)
            nResident = 0;
        std::fclose(pFile);
    }
    sample.dResidentMb =
        static_cast<double>(nResident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    return sample;
}
