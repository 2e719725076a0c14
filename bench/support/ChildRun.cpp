#include "bench/support/ChildRun.h"

#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void ChildRun::Put(const char *pName, double dValue)
{
    std::printf("figure %s %.9g\n", pName, dValue);
    std::fflush(stdout);
}

bool ChildRun::Run(const std::vector<std::string> &args, Figures &figures)
{
    char szSelf[4096];
    const ssize_t nLength = readlink("/proc/self/exe", szSelf, sizeof szSelf - 1);
    if (nLength <= 0)
        return false;
    szSelf[nLength] = '\0';
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char *> argv;
        argv.push_back(szSelf);
        for (const std::string &strArg : args)
            argv.push_back(const_cast<char *>(strArg.c_str()));
        argv.push_back(nullptr);
        execv(szSelf, argv.data());
        _exit(127);
    }
    close(fds[1]);
    figures.clear();
    if (FILE *pOut = fdopen(fds[0], "r")) {
        char szLine[1024];
        while (std::fgets(szLine, sizeof szLine, pOut)) {
            char szName[256];
            double dValue = 0;
            if (std::sscanf(szLine, "figure %255s %lf", szName, &dValue) == 2)
                figures[szName] = dValue;
            else
                std::printf("    %s", szLine);
        }
        std::fclose(pOut);
    } else {
        close(fds[0]);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    const bool bOk = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0 && !figures.empty();
    if (!bOk)
        std::printf("    %s %s: exit status %d, %zu figures\n", szSelf, args.empty() ? "" : args.front().c_str(),
                    WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, figures.size());
    return bOk;
}

double ChildRun::Get(const Figures &figures, const char *pName)
{
    auto it = figures.find(pName);
    return it == figures.end() ? 0.0 : it->second;
}
