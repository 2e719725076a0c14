// The live preview as the page drives it: a host on a local socket logs in to a simulated device of 64 channels,
// shows the plug-in window at 1280x720, opens 16 and then 64 sub-stream tiles with "MainType" 4 requests, and
// measures each for a window of seconds: pictures drawn per second, pictures dropped, and the process's CPU time
// per picture drawn, beside `ffmpeg -threads 1 -f null` decoding the same stream in the same run (right after
// the window, the tiles still playing). The last line is the ratio.
//
//   bench_preview [seconds per window, default 10]
//
// The program's parts (request handler on its own thread, host link, plug-in window and live page, the device
// and decode stand-ins) run in this process, put together as main puts them, so that the decode stand-in's port
// statistics can be read; the host's end of the link is this program's event loop. Every block takes the
// program's own road: device library thread, live data callback, plug-in window, live page, decode channel.

#include "bench/BenchMeasures.h"
#include "device/CQZConnect.h"
#include "device/CRecordWorker.h"
#include "requests/CPluginManage.h"
#include "requests/HostLink.h"
#include "runtime/CDataCenter.h"
#include "runtime/HostLinkFrame.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ListenThread.h"
#include "runtime/MainThreadObject.h"
#include "standin/pavline/PavlineControl.h"
#include "windows/PluginRegion.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kDeviceChannels = 64;
constexpr int kRangeBase = 256;
constexpr int kWaitMs = 60000;

void Wait(int nMilliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(nMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Processes events until the condition holds; false when the time ran out.
bool WaitFor(const std::function<bool()> &pred, int nTimeoutMs = kWaitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > nTimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The host's end of the link: a local server, the one connection the program makes to it, frames both ways.
class BenchHost
{
public:
    bool Listen(const QString &strName)
    {
        QLocalServer::removeServer(strName);
        if (!m_server.listen(strName))
            return false;
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            m_pSocket = m_server.nextPendingConnection();
            QObject::connect(m_pSocket, &QLocalSocket::readyRead, [this] { Read(); });
        });
        return true;
    }
    bool WaitLinked() { return WaitFor([this] { return m_pSocket != nullptr; }); }

    // Sends the request and waits for its reply (null when none came); the events before it are kept.
    Json::Value Request(Json::Value request)
    {
        const std::string strId = "bench-" + std::to_string(++m_nMsgId);
        request["MsgID"] = strId;
        std::string strText = JsonText::Write(request);
        strText.pop_back();
        m_pSocket->write(HostLinkFrame::Encode(QString::fromStdString(strText)));
        m_pSocket->flush();
        Json::Value reply;
        WaitFor([&] {
            for (auto it = m_messages.begin(); it != m_messages.end(); ++it) {
                if ((*it)["MsgID"].asString() == strId) {
                    reply = *it;
                    m_messages.erase(it);
                    return true;
                }
            }
            return false;
        });
        return reply;
    }
    // The last event of the kind received so far.
    Json::Value LastEvent(int nMain, int nSub) const
    {
        for (auto it = m_messages.rbegin(); it != m_messages.rend(); ++it)
            if ((*it)["MainEvent"].asInt() == nMain && (*it)["SubEvent"].asInt() == nSub)
                return *it;
        return Json::Value();
    }
    void Close()
    {
        if (m_pSocket)
            m_pSocket->disconnectFromServer();
    }

private:
    void Read()
    {
        m_frame.Append(m_pSocket->readAll());
        QByteArray payload;
        while (m_frame.TakeMessage(payload)) {
            Json::Value value;
            if (JsonText::Parse(payload.toStdString(), value) && value.isObject())
                m_messages.push_back(value);
        }
        // Only the recent events matter; load events come every second.
        if (m_messages.size() > 200)
            m_messages.erase(m_messages.begin(), m_messages.begin() + 100);
    }

    QLocalServer m_server;
    QLocalSocket *m_pSocket = nullptr;
    HostLinkFrame m_frame;
    std::vector<Json::Value> m_messages;
    int m_nMsgId = 0;
};

Json::Value Request(int nMainType, int nSubType)
{
    Json::Value request(Json::objectValue);
    request["MainType"] = nMainType;
    request["SubType"] = nSubType;
    return request;
}

struct Counts
{
    int64_t nShown = 0;
    int64_t nDropped = 0;
};

Counts CountPorts(int nPorts)
{
    Counts counts;
    for (int nPort = 0; nPort < nPorts; ++nPort) {
        const PortStats stats = PavlineControl::Stats(nPort);
        counts.nShown += stats.nPicturesShown;
        counts.nDropped += stats.nPicturesDropped + stats.nUnitsSkipped;
    }
    return counts;
}

// One scenario: nTiles sub-stream tiles in the split of that many; the ratio, or a negative value.
double RunTiles(BenchHost &host, int nTiles, int nSplit, int nSeconds, const VideoLoop &loop)
{
    host.Request(Request(3, nSplit));
    Json::Value open = Request(4, 0);
    open["Channel"] = kRangeBase + nTiles;
    open["Stream"] = 1;
    const Json::Value reply = host.Request(open);
    const Json::Value status = host.LastEvent(0, 3)["ChnStatus"];
    int nOpened = 0;
    for (Json::ArrayIndex i = 0; i < status.size(); ++i)
        nOpened += status[i]["Ret"].asInt() == 100 ? 1 : 0;
    if (reply["Ret"].asInt() != 100 || nOpened != nTiles) {
        std::printf("%d tiles: %d opened, reply %s", nTiles, nOpened, JsonText::Write(reply).c_str());
        return -1.0;
    }
    Wait(2000);     // the streams' first key frames, the decoders' start

    const Counts c0 = CountPorts(nTiles);
    const BenchMeasures::ThreadCpu t0 = BenchMeasures::ThreadTimes();
    const double dCpu0 = BenchMeasures::CpuSeconds();
    QElapsedTimer timer;
    timer.start();
    Wait(nSeconds * 1000);
    const double dWall = static_cast<double>(timer.elapsed()) / 1000.0;
    const double dCpu = BenchMeasures::CpuSeconds() - dCpu0;
    const Counts c1 = CountPorts(nTiles);
    const BenchMeasures::ThreadCpu t1 = BenchMeasures::ThreadTimes();
    const int64_t nShown = c1.nShown - c0.nShown;
    // The anchor while the tiles still play: both sides see the machine as it was.
    const double dAnchor = BenchMeasures::FfmpegPerFrame(loop);

    Json::Value close = Request(4, 1);
    close["Channel"] = -1;
    host.Request(close);

    const double dPerPicture = nShown > 0 ? dCpu / static_cast<double>(nShown) : 0.0;
    const double dExpected = static_cast<double>(nTiles) * loop.nFrameRate;
    std::printf("%d sub-stream tiles  H.264 %dx%d@%d in a 1280x720 window\n", nTiles, loop.nWidth, loop.nHeight,
                loop.nFrameRate);
    std::printf("  pictures drawn per second  %8.1f  (stream rate %.0f, %.1f %%)\n", nShown / dWall, dExpected,
                100.0 * nShown / dWall / dExpected);
    std::printf("  pictures dropped           %8lld  (in %.1f s)\n", static_cast<long long>(c1.nDropped - c0.nDropped),
                dWall);
    std::printf("  CPU per picture drawn      %8.3f ms  (whole process)\n", dPerPicture * 1000.0);
    const double dPer = nShown > 0 ? 1000.0 / static_cast<double>(nShown) : 0.0;
    std::printf("  of which, ms per picture   decode ports %.3f, GUI thread %.3f, device library, request thread, "
                "link and the rest %.3f\n",
                (t1.dPorts - t0.dPorts) * dPer, (t1.dGui - t0.dGui) * dPer, (t1.dDevice - t0.dDevice) * dPer);
    if (dAnchor <= 0) {
        std::printf("  ffmpeg -threads 1 -f null  not run (no ffmpeg on PATH)\n");
        return -1.0;
    }
    const double dRatio = dPerPicture / dAnchor;
    std::printf("  ffmpeg -threads 1 -f null  %8.3f ms per frame decoded\n", dAnchor * 1000.0);
    std::printf("  ratio                      %8.2fx\n", dRatio);
    std::fflush(stdout);
    return dRatio;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int nSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    QTemporaryDir appDir;
    QFile devices(appDir.filePath("devices.json"));
    if (!devices.open(QIODevice::WriteOnly))
        return 1;
    devices.write(R"({"Devices": [{"Channels": 64}]})");
    devices.close();
    qputenv("KORVEX_DEVICES", devices.fileName().toLocal8Bit());

    QApplication app(argc, argv);
    // The program as main puts it together, in an application directory of its own.
    CDataCenter::CreateInstance(appDir.path());
    LightWeightLog::CreateInstance(appDir.path());
    MainThreadObject::RegisterMetaTypes();
    qRegisterMetaType<PluginRegion>("PluginRegion");
    CDataCenter::GetInstance()->m_nSessionId = 1;

    BenchHost host;
    const QString strServer = QString("bench_preview_%1").arg(QCoreApplication::applicationPid());
    if (!host.Listen(strServer)) {
        std::printf("cannot listen on %s\n", qPrintable(strServer));
        return 1;
    }
    auto *pManage = new CPluginManage(QString(), 1, nullptr);
    std::unique_ptr<ListenThread> pListen = StartHostLink(strServer, pManage);
    if (!host.WaitLinked()) {
        std::printf("the program did not connect\n");
        return 1;
    }

    Json::Value login = Request(8, 0);
    login["Device"]["LoginType"] = 0;
    login["Device"]["IP"] = "127.0.0.1";
    login["Device"]["Port"] = 34567;
    login["Device"]["User"] = "admin";
    login["Device"]["Password"] = "";
    login["Title"] = "Web Viewer";
    login["Browse"] = 2;
    if (host.Request(login)["Ret"].asInt() != 100) {
        std::printf("the login failed\n");
        return 1;
    }
    Json::Value show = Request(12, 2);
    show["Pos"]["Left"] = 0;
    show["Pos"]["Top"] = 0;
    show["Pos"]["Width"] = 1280;
    show["Pos"]["Height"] = 720;
    host.Request(show);

    std::printf("live preview through the request handler over the host link, %d s windows, %ld cores\n", nSeconds,
                sysconf(_SC_NPROCESSORS_ONLN));
    std::shared_ptr<const VideoLoop> loop = BenchMeasures::LoopOf(1);
    double dRatio16 = -1.0, dRatio64 = -1.0;
    if (loop) {
        dRatio16 = RunTiles(host, 16, 3, nSeconds, *loop);
        dRatio64 = RunTiles(host, 64, 6, nSeconds, *loop);
    }

    // The host goes as the browser's would: the link logs the program out and ends the event loop; then the
    // parts end in main's order.
    host.Close();
    app.exec();
    pListen->Stop();
    pManage->StopThread();
    CQZConnect::GetInstance()->Cleanup();
    CRecordWorker::WaitForAll(std::chrono::seconds(30));
    pListen.reset();
    LightWeightLog::Flush();

    std::printf("CPU per drawn picture beside ffmpeg -threads 1 per frame: 16 tiles %.2fx, 64 tiles %.2fx\n", dRatio16,
                dRatio64);
    return dRatio16 > 0 && dRatio64 > 0 ? 0 : 1;
}
