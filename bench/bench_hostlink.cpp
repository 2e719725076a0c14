// Round trips through the host link: requests sent one at a time to the real program (each answered with "Ret"
// 1020 by the dispatcher), with logging on (the default) and off, beside a bare local-socket echo of the same
// frames by a second process, and beside a relay process that makes the same two thread hops as the program
// and nothing else. They run side by side and take turns request by request, so that each meets the same
// load on the machine; three rounds, each figure the median of the three. Besides the round trip's wall time,
// the serving process's CPU time per round trip is read from /proc (all its threads).
//
//   bench_hostlink [N] [--compare PROGRAM]
//       N round trips each per round, default 5000 (QT_QPA_PLATFORM=offscreen without a display); --compare adds
//       another build of the program (logging on) to the turns, to set two versions side by side in one run
//   bench_hostlink --echo SERVER    (the echo process; started by the benchmark itself)
//   bench_hostlink --relay SERVER   (the relay process; likewise)

#include "runtime/HostLinkFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

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

// A serving process and its end of the link.
class Target
{
public:
    Target(const char *pName, const QString &strProgram, const QStringList &args, const QString &strServer)
        : m_pName(pName), m_strProgram(strProgram), m_args(args), m_strServer(strServer)
    {
    }
    ~Target() { Stop(); }

    const char *Name() const { return m_pName; }

    bool Start()
    {
        QLocalServer::removeServer(m_strServer);
        if (!m_server.listen(m_strServer))
            return false;
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        QStringList args = m_args;
        args.replaceInStrings("{server}", m_strServer);
        m_process.start(m_strProgram, args);
        if (!m_server.waitForNewConnection(30000)) {
            std::fprintf(stderr, "%s did not connect\n", m_pName);
            return false;
        }
        m_pSocket = m_server.nextPendingConnection();
        return true;
    }

    // One request as a frame, and its framed answer; the round trip's time in microseconds, or -1.
    double RoundTrip(int nId)
    {
        QElapsedTimer one;
        one.start();
        m_pSocket->write(HostLinkFrame::Encode(QString("{\"MainType\":1,\"SubType\":0,\"MsgID\":%1}").arg(nId)));
        m_pSocket->flush();
        QByteArray reply;
        while (!m_frame.TakeMessage(reply)) {
            if (!m_pSocket->waitForReadyRead(10000)) {
                std::fprintf(stderr, "%s: no answer to request %d\n", m_pName, nId);
                return -1;
            }
            m_frame.Append(m_pSocket->readAll());
        }
        return one.nsecsElapsed() / 1000.0;
    }

    // CPU time of every thread of the process so far, in microseconds.
    double CpuUs() const
    {
        double dNs = 0;
        const QString strTasks = QString("/proc/%1/task").arg(m_process.processId());
        for (const QString &strTid : QDir(strTasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile file(strTasks + "/" + strTid + "/schedstat");
            if (file.open(QIODevice::ReadOnly))
                dNs += file.readAll().split(' ').value(0).toDouble();
        }
        return dNs / 1000.0;
    }

    void Stop()
    {
        if (m_pSocket)
            m_pSocket->disconnectFromServer();
        m_pSocket = nullptr;
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    std::vector<double> m_rtts;
    std::vector<double> m_medians, m_p99s, m_cpus;

private:
    const char *m_pName;
    QString m_strProgram;
    QStringList m_args;
    QString m_strServer;
    QLocalServer m_server;
    QProcess m_process;
    QLocalSocket *m_pSocket = nullptr;
    HostLinkFrame m_frame;
};

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

// The relay process: the plug-in's two thread hops and nothing else. A link thread reads the frames and queues
// each message to a second thread, which queues it straight back to the link thread to be written; no parsing,
// no logging. It shows what the hops themselves cost on this machine.
int RunRelay(QCoreApplication &app, const QString &strServer)
{
    QThread linkThread;
    QThread workThread;
    QObject link;
    QObject work;
    link.moveToThread(&linkThread);
    work.moveToThread(&workThread);
    linkThread.start();
    workThread.start();
    QLocalSocket *pSocket = nullptr;
    HostLinkFrame frame;
    QMetaObject::invokeMethod(&link, [&] {
        pSocket = new QLocalSocket(&link);
        QObject::connect(pSocket, &QLocalSocket::disconnected, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        QObject::connect(pSocket, &QLocalSocket::readyRead, &link, [&] {
            frame.Append(pSocket->readAll());
            QByteArray payload;
            while (frame.TakeMessage(payload)) {
                const QString strMsg = QString::fromUtf8(payload);
                QMetaObject::invokeMethod(&work, [&, strMsg] {
                    QMetaObject::invokeMethod(&link, [&, strMsg] {
                        pSocket->write(HostLinkFrame::Encode(strMsg));
                        pSocket->flush();
                    }, Qt::QueuedConnection);
                }, Qt::QueuedConnection);
            }
        });
        pSocket->connectToServer(strServer);
        if (!pSocket->waitForConnected(10000))
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    const int nResult = app.exec();
    QMetaObject::invokeMethod(&link, [&] { delete pSocket; }, Qt::BlockingQueuedConnection);
    linkThread.quit();
    workThread.quit();
    linkThread.wait();
    workThread.wait();
    return nResult;
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
    if (argc > 2 && QByteArray(argv[1]) == "--relay")
        return RunRelay(app, QString::fromLocal8Bit(argv[2]));
    const QStringList args = app.arguments().mid(1);
    const int nCompare = args.indexOf("--compare");
    const QString strOther = nCompare >= 0 ? args.value(nCompare + 1) : QString();
    const int nCount = !args.isEmpty() && nCompare != 0 ? std::max(100, args[0].toInt()) : 5000;

    // The real program in application directories of its own: one with the default configuration (logging on),
    // one with "Enable/PrintLogEn" 0.
    QTemporaryDir onDir;
    QTemporaryDir otherDir;
    if (!strOther.isEmpty())
        QFile::copy(strOther, otherDir.filePath("Quorrin_x64"));
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
    const QStringList plugin = {"1", "{server}", "/tmp"};
    Target echoTarget("bare local-socket echo", strSelf, {"--echo", "{server}"}, strServer + "-echo");
    Target relayTarget("two-hop relay, no work", strSelf, {"--relay", "{server}"}, strServer + "-relay");
    Target onTarget("plug-in, logging on", onDir.filePath("Quorrin_x64"), plugin, strServer + "-on");
    Target offTarget("plug-in, logging off", offDir.filePath("Quorrin_x64"), plugin, strServer + "-off");
    Target otherTarget("--compare program, logging on", otherDir.filePath("Quorrin_x64"), plugin, strServer + "-other");
    std::vector<Target *> targets = {&echoTarget, &relayTarget, &onTarget, &offTarget};
    if (!strOther.isEmpty())
        targets.push_back(&otherTarget);
    for (Target *pTarget : targets) {
        if (!pTarget->Start())
            return 1;
    }
    // They take turns request by request, so that every one of them meets the same load on the machine.
    auto turns = [&](int nTurns, bool bRecord) {
        for (int i = 0; i < nTurns; ++i) {
            for (Target *pTarget : targets) {
                const double dUs = pTarget->RoundTrip(i);
                if (dUs < 0)
                    return false;
                if (bRecord)
                    pTarget->m_rtts.push_back(dUs);
            }
        }
        return true;
    };
    if (!turns(500, false))
        return 1;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        std::vector<double> cpu0;
        for (Target *pTarget : targets) {
            pTarget->m_rtts.clear();
            cpu0.push_back(pTarget->CpuUs());
        }
        if (!turns(nCount, true))
            return 1;
        for (size_t t = 0; t < targets.size(); ++t) {
            Target *pTarget = targets[t];
            std::vector<double> &rtts = pTarget->m_rtts;
            std::sort(rtts.begin(), rtts.end());
            pTarget->m_medians.push_back(rtts[rtts.size() / 2]);
            pTarget->m_p99s.push_back(rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)]);
            pTarget->m_cpus.push_back((pTarget->CpuUs() - cpu0[t]) / nCount);
        }
    }
    for (Target *pTarget : targets)
        pTarget->Stop();
    auto figures = [](const Target &target) {
        return Figures{Median(target.m_medians), Median(target.m_p99s), Median(target.m_cpus)};
    };
    const Figures echo = figures(echoTarget);
    const Figures hop = figures(relayTarget);
    const Figures on = figures(onTarget);
    const Figures off = figures(offTarget);

    std::printf("%d round trips each per round, taking turns; median of %d rounds\n", nCount, kRounds);
    for (Target *pTarget : targets)
        Print(pTarget->Name(), figures(*pTarget));
    std::printf("logging off / echo: round trip %.2fx, CPU %.2fx\n", off.dMedianUs / echo.dMedianUs,
                off.dCpuUs / echo.dCpuUs);
    std::printf("two-hop relay / echo: round trip %.2fx, CPU %.2fx (the floor of a link thread and a request thread)\n",
                hop.dMedianUs / echo.dMedianUs, hop.dCpuUs / echo.dCpuUs);
    if (!strOther.isEmpty()) {
        const Figures other = figures(otherTarget);
        std::printf("--compare program with logging on / echo: round trip %.2fx (%.1f us), CPU %.2fx (%.1f us)\n",
                    other.dMedianUs / echo.dMedianUs, other.dMedianUs, other.dCpuUs / echo.dCpuUs, other.dCpuUs);
    }
    std::printf("host link with logging on / bare echo between two processes: round trip %.2fx (%.1f us vs %.1f us), "
                "CPU per round trip %.2fx (%.1f us vs %.1f us)\n",
                on.dMedianUs / echo.dMedianUs, on.dMedianUs, echo.dMedianUs, on.dCpuUs / echo.dCpuUs, on.dCpuUs,
                echo.dCpuUs);
    return 0;
}
