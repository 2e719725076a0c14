// Round trips through the host link: requests sent one at a time to the real program (each answered with "Ret"
// 1020 by the dispatcher), with logging on (the default) and off, beside a bare local-socket echo of the same
// frames by a second process. The three are measured in turns, three rounds, in the same run; each figure is
// the median of the three rounds. Besides the round trip's wall time, the serving process's CPU time per round
// trip is read from /proc (all its threads).
//
//   bench_hostlink [N]     (N round trips per measurement, default 5000; QT_QPA_PLATFORM=offscreen without a display)
//   bench_hostlink --echo SERVER    (the echo process; started by the benchmark itself)

#include "runtime/HostLinkFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRounds = 3;

struct Figures
{
    double dMedianUs = 0;
    double dP99Us = 0;
    double dCpuUs = 0; // the serving process's CPU time per round trip
};

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec.empty() ? 0 : vec[vec.size() / 2];
}

// CPU time of every thread of a process so far, in microseconds.
double ProcessCpuUs(qint64 nPid)
{
    double dNs = 0;
    const QString strTasks = QString("/proc/%1/task").arg(nPid);
    for (const QString &strTid : QDir(strTasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(strTasks + "/" + strTid + "/schedstat");
        if (file.open(QIODevice::ReadOnly))
            dNs += file.readAll().split(' ').value(0).toDouble();
    }
    return dNs / 1000.0;
}

// Sends each request as a frame and waits for one framed answer before the next.
bool RoundTrips(QLocalSocket &socket, int nCount, std::vector<double> *pRtts)
{
    HostLinkFrame frame;
    for (int i = 0; i < nCount; ++i) {
        QElapsedTimer one;
        one.start();
        socket.write(HostLinkFrame::Encode(QString("{\"MainType\":1,\"SubType\":0,\"MsgID\":%1}").arg(i)));
        socket.flush();
        QByteArray reply;
        while (!frame.TakeMessage(reply)) {
            if (!socket.waitForReadyRead(10000)) {
                std::fprintf(stderr, "no answer to request %d\n", i);
                return false;
            }
            frame.Append(socket.readAll());
        }
        if (pRtts)
            pRtts->push_back(one.nsecsElapsed() / 1000.0);
    }
    return true;
}

// One measurement: start the serving process, let it connect, warm up, time nCount round trips, close the link.
bool MeasureOnce(const QString &strProgram, const QStringList &args, const QString &strServer, int nCount,
                 Figures *pOut)
{
    QLocalServer server;
    QLocalServer::removeServer(strServer);
    if (!server.listen(strServer))
        return false;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(strProgram, args);
    if (!server.waitForNewConnection(30000)) {
        std::fprintf(stderr, "%s did not connect\n", qPrintable(strProgram));
        return false;
    }
    QLocalSocket *pSocket = server.nextPendingConnection();
    if (!RoundTrips(*pSocket, std::min(nCount, 500), nullptr))
        return false;
    std::vector<double> rtts;
    rtts.reserve(static_cast<size_t>(nCount));
    const double dCpu0 = ProcessCpuUs(process.processId());
    const bool bOk = RoundTrips(*pSocket, nCount, &rtts);
    const double dCpu1 = ProcessCpuUs(process.processId());
    pSocket->disconnectFromServer();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
    if (!bOk)
        return false;
    std::sort(rtts.begin(), rtts.end());
    pOut->dMedianUs = rtts[rtts.size() / 2];
    pOut->dP99Us = rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)];
    pOut->dCpuUs = (dCpu1 - dCpu0) / nCount;
    return true;
}

// The echo process: connects to the server like the plug-in does and sends every frame back.
int RunEcho(const QString &strServer)
{
    QLocalSocket socket;
    socket.connectToServer(strServer);
    if (!socket.waitForConnected(10000))
        return 1;
    HostLinkFrame frame;
    while (socket.state() == QLocalSocket::ConnectedState) {
        if (!socket.waitForReadyRead(-1))
            break;
        frame.Append(socket.readAll());
        QByteArray msg;
        while (frame.TakeMessage(msg))
            socket.write(HostLinkFrame::Encode(QString::fromUtf8(msg)));
        socket.flush();
    }
    return 0;
}

void Print(const char *pName, const Figures &f)
{
    std::printf("%-30s median %7.1f us   p99 %8.1f us   server CPU %6.1f us per round trip\n", pName, f.dMedianUs,
                f.dP99Us, f.dCpuUs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 2 && QByteArray(argv[1]) == "--echo")
        return RunEcho(QString::fromLocal8Bit(argv[2]));
    const int nCount = argc > 1 ? std::max(100, atoi(argv[1])) : 5000;

    // The real program in application directories of its own: one with the default configuration (logging on),
    // one with "Enable/PrintLogEn" 0.
    QTemporaryDir onDir;
    QTemporaryDir offDir;
    for (QTemporaryDir *pDir : {&onDir, &offDir})
        QFile::copy(QStringLiteral(QUORRIN_BUILD_DIR "/Quorrin_x64"), pDir->filePath("Quorrin_x64"));
    {
        QFile cfg(offDir.filePath("ClientCfg.ini"));
        cfg.open(QIODevice::WriteOnly);
        cfg.write("[Enable]\nPrintLogEn=0\n");
    }
    const QString strServer = QString("quorrin-bench-%1").arg(QCoreApplication::applicationPid());
    const QString strSelf = QCoreApplication::applicationFilePath();

    std::vector<double> echoMed, echoP99, echoCpu, onMed, onP99, onCpu, offMed, offP99, offCpu;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        Figures echo, on, off;
        if (!MeasureOnce(strSelf, {"--echo", strServer}, strServer, nCount, &echo)
            || !MeasureOnce(onDir.filePath("Quorrin_x64"), {"1", strServer, "/tmp"}, strServer, nCount, &on)
            || !MeasureOnce(offDir.filePath("Quorrin_x64"), {"1", strServer, "/tmp"}, strServer, nCount, &off)) {
            std::fprintf(stderr, "a measurement failed\n");
            return 1;
        }
        echoMed.push_back(echo.dMedianUs), echoP99.push_back(echo.dP99Us), echoCpu.push_back(echo.dCpuUs);
        onMed.push_back(on.dMedianUs), onP99.push_back(on.dP99Us), onCpu.push_back(on.dCpuUs);
        offMed.push_back(off.dMedianUs), offP99.push_back(off.dP99Us), offCpu.push_back(off.dCpuUs);
    }
    const Figures echo{Median(echoMed), Median(echoP99), Median(echoCpu)};
    const Figures on{Median(onMed), Median(onP99), Median(onCpu)};
    const Figures off{Median(offMed), Median(offP99), Median(offCpu)};

    std::printf("%d round trips per measurement, median of %d rounds\n", nCount, kRounds);
    Print("bare local-socket echo", echo);
    Print("plug-in, logging on", on);
    Print("plug-in, logging off", off);
    std::printf("logging off / echo: round trip %.2fx, CPU %.2fx\n", off.dMedianUs / echo.dMedianUs,
                off.dCpuUs / echo.dCpuUs);
    std::printf("host link with logging on / bare echo between two processes: round trip %.2fx (%.1f us vs %.1f us), "
                "CPU per round trip %.2fx (%.1f us vs %.1f us)\n",
                on.dMedianUs / echo.dMedianUs, on.dMedianUs, echo.dMedianUs, on.dCpuUs / echo.dCpuUs, on.dCpuUs,
                echo.dCpuUs);
    return 0;
}
