// Round trips through the host link: N requests sent one at a time to the real program (each answered with
// "Ret" 1020 by the dispatcher), beside a bare QLocalSocket echo of the same frames measured in the same run.
//
//   bench_hostlink [N]     (default 5000; run with QT_QPA_PLATFORM=offscreen where there is no display)

#include "runtime/HostLinkFrame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double dMedianUs = 0;
    double dP99Us = 0;
    double dPerSecond = 0;
};

Figures Summarise(std::vector<double> rtts, double dTotalSec)
{
    std::sort(rtts.begin(), rtts.end());
    Figures f;
    f.dMedianUs = rtts[rtts.size() / 2];
    f.dP99Us = rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)];
    f.dPerSecond = rtts.size() / dTotalSec;
    return f;
}

// Sends each request as a frame and waits for one framed answer before the next.
Figures RoundTrips(QLocalSocket &socket, int nCount)
{
    HostLinkFrame frame;
    std::vector<double> rtts;
    rtts.reserve(static_cast<size_t>(nCount));
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < nCount; ++i) {
        QElapsedTimer one;
        one.start();
        socket.write(HostLinkFrame::Encode(QString("{\"MainType\":1,\"SubType\":0,\"MsgID\":%1}").arg(i)));
        socket.flush();
        QByteArray reply;
        while (!frame.TakeMessage(reply)) {
            if (!socket.waitForReadyRead(10000)) {
                std::fprintf(stderr, "no answer to request %d\n", i);
                return Figures{};
            }
            frame.Append(socket.readAll());
        }
        rtts.push_back(one.nsecsElapsed() / 1000.0);
    }
    return Summarise(rtts, total.nsecsElapsed() / 1e9);
}

// The bare link: a thread that echoes every frame back unchanged.
class EchoServer : public QThread
{
public:
    explicit EchoServer(const QString &strName) : m_strName(strName) {}
    void run() override
    {
        QLocalServer server;
        QLocalServer::removeServer(m_strName);
        server.listen(m_strName);
        m_bReady = true;
        if (!server.waitForNewConnection(10000))
            return;
        QLocalSocket *pSocket = server.nextPendingConnection();
        HostLinkFrame frame;
        while (pSocket->state() == QLocalSocket::ConnectedState) {
            if (!pSocket->waitForReadyRead(200))
                continue;
            frame.Append(pSocket->readAll());
            QByteArray msg;
            while (frame.TakeMessage(msg))
                pSocket->write(HostLinkFrame::Encode(QString::fromUtf8(msg)));
            pSocket->flush();
        }
    }
    std::atomic<bool> m_bReady{false};

private:
    QString m_strName;
};

void Print(const char *pName, const Figures &f)
{
    std::printf("%-28s median %8.1f us   p99 %8.1f us   %9.0f msg/s\n", pName, f.dMedianUs, f.dP99Us, f.dPerSecond);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int nCount = argc > 1 ? std::max(10, atoi(argv[1])) : 5000;

    // The real program, in an application directory of its own with logging off (logging is measured apart).
    QTemporaryDir appDir;
    QFile::copy(QStringLiteral(QUORRIN_BUILD_DIR "/Quorrin_x64"), appDir.filePath("Quorrin_x64"));
    {
        QFile cfg(appDir.filePath("ClientCfg.ini"));
        cfg.open(QIODevice::WriteOnly);
        cfg.write("[Enable]\nPrintLogEn=0\n");
    }
    const QString strServer = QString("quorrin-bench-%1").arg(QCoreApplication::applicationPid());
    QLocalServer server;
    QLocalServer::removeServer(strServer);
    server.listen(strServer);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(appDir.filePath("Quorrin_x64"), {"1", strServer, "/tmp"});
    if (!server.waitForNewConnection(30000)) {
        std::fprintf(stderr, "the program did not connect\n");
        return 1;
    }
    QLocalSocket *pPlugin = server.nextPendingConnection();
    RoundTrips(*pPlugin, std::min(nCount, 200)); // warm-up
    const Figures plugin = RoundTrips(*pPlugin, nCount);
    pPlugin->disconnectFromServer();
    program.waitForFinished(10000);

    EchoServer echo(strServer + "-echo");
    echo.start();
    while (!echo.m_bReady)
        QThread::msleep(1);
    QLocalSocket bare;
    bare.connectToServer(strServer + "-echo");
    bare.waitForConnected(5000);
    RoundTrips(bare, std::min(nCount, 200));
    const Figures echoFigures = RoundTrips(bare, nCount);
    bare.disconnectFromServer();
    echo.wait();

    std::printf("%d round trips each\n", nCount);
    Print("plug-in (dispatch + reply)", plugin);
    Print("bare QLocalSocket echo", echoFigures);
    return 0;
}
