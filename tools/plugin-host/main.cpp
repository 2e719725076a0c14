// plugin-host: drives the plug-in program as the browser's host does, for tests and demonstrations.

#include "tools/plugin-host/HostScript.h"
#include "tools/plugin-host/PluginHost.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {
void Usage()
{
    std::fprintf(stderr,
                 "usage: plugin-host [--server NAME] [--requests FILE|-] [--idle-ms N] [--keep-open] [--timeout-ms N]\n"
                 "                   -- PROGRAM [ARG...]\n"
                 "Starts PROGRAM with the arguments ({server} stands for the server name), sends each request line\n"
                 "(JSON; from FILE or standard input) as a frame, and prints every message received as one line.\n"
                 "Empty lines and lines starting with '#' are not sent; '#sleep N' pauses N ms, '#wait N' waits until\n"
                 "N messages have come in all, '#close' closes the link. After the last request the link is closed once no message came for --idle-ms (default 1500),\n"
                 "unless --keep-open. The exit status is the program's.\n");
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    PluginHost::Options options;
    HostScript::Options script;
    int i = 1;
    for (; i < argc; ++i) {
        const char *pArg = argv[i];
        auto next = [&]() -> QString {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (!std::strcmp(pArg, "--")) {
            ++i;
            break;
        } else if (!std::strcmp(pArg, "--server")) {
            options.strServerName = next();
        } else if (!std::strcmp(pArg, "--requests")) {
            script.strRequestFile = next();
        } else if (!std::strcmp(pArg, "--idle-ms")) {
            script.nIdleMs = next().toInt();
        } else if (!std::strcmp(pArg, "--timeout-ms")) {
            script.nTimeoutMs = next().toInt();
        } else if (!std::strcmp(pArg, "--keep-open")) {
            script.bKeepOpen = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (i >= argc) {
        Usage();
        return 2;
    }
    options.strProgram = QString::fromLocal8Bit(argv[i++]);
    for (; i < argc; ++i)
        options.args << QString::fromLocal8Bit(argv[i]);

    PluginHost host(options);
    HostScript runner(&host, script);
    if (!runner.Start() || !host.Start())
        return 2;
    return app.exec();
}
