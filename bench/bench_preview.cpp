// The live preview as the page drives it: a host on a local socket logs in to a simulated device of 64 channels,
// shows the plug-in window at 1280x720, opens 16 and then 64 sub-stream tiles with "MainType" 4 requests, and
// measures each for a window of seconds beside the fair anchor and the simulated device alone on the same streams.
//
//   bench_preview [seconds per window, default 6] [--turns N]
//
// The program's parts (request handler on its own thread, host link, plug-in window and live page, the device
// and decode stand-ins) run in one process, put together as main puts them, so that the decode stand-in's port
// statistics can be read; the host's end of the link is that process's event loop. Every block takes the
// program's own road: device library thread, live data callback, plug-in window, live page, decode channel.
//
// Each scenario is measured in turns (three by default); a turn runs, one after another and each in a process of
// its own: the program; the anchor, one thread decoding the same streams paced at their frame rate and
// interleaved, scaling each picture to the program's tile size (libavcodec and libswscale only); the simulated
// device alone, its streams running and nothing decoded; and ffmpeg -threads 1 -f null on one stream, for
// information. Every figure is the median of the turns with their spread. Per picture drawn: the whole process's
// CPU time and context switches (every thread); per tile: the resident memory the tiles added. The last line gives
// the program's CPU per picture less the device's, beside the anchor's.

#include "bench/BenchMeasures.h"
#include "bench/support/AnchorComparison.h"
#include "bench/support/ChildRun.h"
#include "bench/support/DeviceAlone.h"
#include "bench/support/PacedAnchor.h"
#include "bench/support/ProcessSample.h"
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
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

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
constexpr int kWarmMs = 2000;
const char kProjectMode[] = "--project";

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

// The size of the tiles' video surfaces that show.
QSize TileSize()
{
    for (QWidget *pWidget : QApplication::allWidgets())
        if (pWidget->objectName() == "CPlayWnd" && pWidget->isVisible())
            return pWidget->size();
    return QSize();
}

// One turn's program: nTiles sub-stream tiles in the split of that many for a window of seconds after the
// warm-up; prints the figures AnchorComparison reads. False when the tiles did not open.
bool RunTiles(BenchHost &host, int nTiles, int nSplit, int nSeconds, const ProcessSample &before)
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
        return false;
    }
    Wait(kWarmMs);  // the streams' first key frames, the decoders' start

    const Counts c0 = CountPorts(nTiles);
    const BenchMeasures::ThreadCpu t0 = BenchMeasures::ThreadTimes();
    const ProcessSample first = ProcessSample::Take();
    QElapsedTimer timer;
    timer.start();
    Wait(nSeconds * 1000);
    const double dSeconds = static_cast<double>(timer.elapsed()) / 1000.0;
    const ProcessSample last = ProcessSample::Take();
    const Counts c1 = CountPorts(nTiles);
    const BenchMeasures::ThreadCpu t1 = BenchMeasures::ThreadTimes();
    const QSize tile = TileSize();

    Json::Value close = Request(4, 1);
    close["Channel"] = -1;
    host.Request(close);

    ChildRun::Put("pictures", static_cast<double>(c1.nShown - c0.nShown));
    ChildRun::Put("seconds", dSeconds);
    ChildRun::Put("cpu", last.dCpuSeconds - first.dCpuSeconds);
    ChildRun::Put("switches", static_cast<double>(last.nSwitches - first.nSwitches));
    ChildRun::Put("rss_before", before.dResidentMb);
    ChildRun::Put("rss_during", last.dResidentMb);
    ChildRun::Put("dropped", static_cast<double>(c1.nDropped - c0.nDropped));
    ChildRun::Put("tile_w", tile.width());
    ChildRun::Put("tile_h", tile.height());
    ChildRun::Put("ports_cpu", t1.dPorts - t0.dPorts);
    ChildRun::Put("gui_cpu", t1.dGui - t0.dGui);
    ChildRun::Put("other_cpu", t1.dDevice - t0.dDevice);
    return true;
}

// The program's child of a turn, as main puts it together, in an application directory of its own; the device
// file is the parent's.
int ProjectTurn(int argc, char **argv, int nTiles, int nSplit, int nSeconds)
{
    QTemporaryDir appDir;
    {
        // The program's log stays off: its lines are not what is measured.
        QSettings settings(appDir.filePath("ClientCfg.ini"), QSettings::IniFormat);
        settings.setValue("Enable/PrintLogEn", 0);
    }
    QApplication app(argc, argv);
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
    // The loops are in memory before the tiles, as in the anchor's and the device's measures.
    for (int i = 0; i < nTiles; ++i)
        if (!BenchMeasures::LoopOf(1, i))
            return 1;
    const ProcessSample before = ProcessSample::Take();
    const bool bOk = RunTiles(host, nTiles, nSplit, nSeconds, before);

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
    return bOk ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (PacedAnchor::IsMode(argc, argv))
        return PacedAnchor::Main(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (DeviceAlone::IsMode(argc, argv))
        return DeviceAlone::Main(argc, argv);
    if (argc > 4 && std::strcmp(argv[1], kProjectMode) == 0)
        return ProjectTurn(argc, argv, std::atoi(argv[2]), std::atoi(argv[3]), std::max(1, std::atoi(argv[4])));

    int nSeconds = 6, nTurns = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--turns") == 0 && i + 1 < argc)
            nTurns = std::max(1, std::atoi(argv[++i]));
        else
            nSeconds = std::max(1, std::atoi(argv[i]));
    }
    // The device file of every turn's processes.
    QTemporaryDir deviceDir;
    QFile devices(deviceDir.filePath("devices.json"));
    if (!devices.open(QIODevice::WriteOnly))
        return 1;
    devices.write(QByteArray(R"({"Devices": [{"Channels": )") + QByteArray::number(kDeviceChannels) + "}]}");
    devices.close();
    qputenv("KORVEX_DEVICES", devices.fileName().toLocal8Bit());

    std::printf("live preview through the request handler over the host link, %ld cores\n",
                sysconf(_SC_NPROCESSORS_ONLN));
    const struct
    {
        int nTiles, nSplit;
    } scenarios[] = {{16, 3}, {64, 6}};
    Spread ratios[2];
    for (size_t i = 0; i < 2; ++i) {
        AnchorComparison::Scenario c;
        c.strTitle = std::to_string(scenarios[i].nTiles) + " sub-stream tiles in a 1280x720 window";
        c.nStreams = scenarios[i].nTiles;
        c.nStreamType = 1;
        c.nChannelsPerLogin = kDeviceChannels;
        c.nWarmMs = kWarmMs;
        c.nSeconds = nSeconds;
        c.nTurns = nTurns;
        c.projectArgs = {kProjectMode, std::to_string(scenarios[i].nTiles), std::to_string(scenarios[i].nSplit),
                         std::to_string(nSeconds)};
        std::printf("%s\n", c.strTitle.c_str());
        ratios[i] = AnchorComparison::Run(c);
    }
    std::printf("program less device beside the anchor, CPU per picture: 16 tiles %sx, 64 tiles %sx\n",
                ratios[0].Text(2).c_str(), ratios[1].Text(2).c_str());
    return ratios[0].Empty() || ratios[1].Empty() ? 1 : 0;
}
