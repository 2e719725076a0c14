#pragma once

// The live page against the simulated device and decode library: a page in an application directory of its own
// (RecordFixture), live streams of the device fed into the page as the device library's data callback feeds
// it, on the library's threads, and the page's tiles sized to the stream.

#include "platform/korvex.h"
#include "tests/support/RecordFixture.h"

#include <QSize>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CRealPlayWidget;

namespace LiveTest {

// Sub stream 320x180, main stream 640x480, both H.264 at 10 frames a second, 16 channels, no sound.
constexpr int kSubWidth = 320;
constexpr int kSubHeight = 180;
constexpr int kMainWidth = 640;
constexpr int kMainHeight = 480;
// The device entry; strExtra is added to it (",\"Key\": value" pairs).
std::string Device(const std::string &strExtra = "");

// One channel's stream into the page: every block to CRealPlayWidget::InputData, counted by its result.
struct ChannelFeed
{
    CRealPlayWidget *pPage = nullptr;
    int nChannel = 0;
    std::thread::id guiThread;
    std::atomic<int> nVideo{0};
    std::atomic<int> nTaken{0};
    std::atomic<int> nDropped{0};
    std::atomic<int> nOnGuiThread{0};

    static int32_t OnFrame(int32_t lPlay, const RealDataFrame *pFrame, void *pUser);
};

// The device streams of channels, each into the page; stopped (the device side only) at the end.
class PageStreams
{
public:
    PageStreams(CRealPlayWidget *pPage, int lLogin) : m_pPage(pPage), m_lLogin(lLogin) {}
    ~PageStreams();
    PageStreams(const PageStreams &) = delete;
    PageStreams &operator=(const PageStreams &) = delete;

    // Starts the channel's stream of that type; false when the device refuses.
    bool Start(int nChannel, int nStreamType);
    void Stop(int nChannel);
    void StopAll();
    ChannelFeed &Feed(int nChannel);

private:
    struct Stream
    {
        int lPlay = 0;
        std::unique_ptr<ChannelFeed> pFeed;
    };
    CRealPlayWidget *m_pPage;
    int m_lLogin;
    std::vector<Stream> m_streams = std::vector<Stream>(64);
};

// Shows the page with its split of nTiles (a square count) so that each tile's surface is the size given.
bool ShowWithSurfaces(CRealPlayWidget &page, int nTiles, QSize surface);

} // namespace LiveTest

// A live-page test: the device of LiveTest::Device, its library and the decode library reset, an application
// directory with "ClientCfg.ini" as the test writes it, and the window stand-in's count of widget uses off the
// GUI thread reset.
class LivePageFixture : public RecordFixture
{
protected:
    void SetUp() override;
    void UseDevice(const std::string &strExtra);
    // Writes "Info/<key>" values (and the folders) to the application directory's "ClientCfg.ini".
    void SetClientCfg(int nRecordType, int nImageType, int nVideoType = 0);
    QString CaptureDir() const;
    int Login();
};
