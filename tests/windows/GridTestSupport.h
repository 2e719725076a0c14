#pragma once

// Helpers for the tile, grid and colour page tests: mouse input through a native widget's own window, grabs,
// which simulated channel a picture shows, and live streams of the simulated device drawn into tiles.

#include "device/CDecodeChannel.h"
#include "platform/winapi.h"
#include "tests/support/RecordFixture.h"
#include "tests/support/TestPatternCheck.h"

#include <QImage>
#include <QPoint>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace GridTest {

// Mouse input as the window system delivers it: QTest through the widget's own native window, with the button
// state kept between press, moves and release.
void Press(QWidget *pWidget, Qt::MouseButton button, QPoint pos);
void Move(QWidget *pWidget, QPoint pos);
void Release(QWidget *pWidget, Qt::MouseButton button, QPoint pos);
void DoubleClick(QWidget *pWidget, QPoint pos);

// Shows a top-level widget at the size; false when it does not get that size.
bool ShowAt(QWidget *pWidget, int nWidth, int nHeight);
QImage Grab(QWidget *pWidget);

// The size of the simulated device's sub stream in these tests.
constexpr int kStreamWidth = 320;
constexpr int kStreamHeight = 180;
// A device (for KorvexFixture::UseDevices) whose channels' sub streams are kStreamWidth x kStreamHeight H.264 at
// 10 frames a second, without sound.
std::string SmallSubStreamDevice();

// Which channel of the simulated device a picture shows, and whether it shows the pattern at all.
using TestPattern::ChannelShown;
using TestPattern::ShowsPattern;

// Live sub streams of the simulated device, each into a decode channel (port = channel) that draws into a
// window, fed as the live page feeds them. Streams are stopped before their ports.
class LiveStreams
{
public:
    explicit LiveStreams(int lLogin) : m_lLogin(lLogin) {}
    ~LiveStreams();
    LiveStreams(const LiveStreams &) = delete;
    LiveStreams &operator=(const LiveStreams &) = delete;

    // Opens port nChannel into the window and starts the channel's stream; false when a step fails.
    bool Start(int nChannel, HWND hWnd);
    void StopAll();
    // Video blocks the channel's stream has delivered.
    int VideoBlocks(int nChannel) const;

private:
    struct Stream
    {
        int nChannel = -1;
        int lPlay = 0;
        std::unique_ptr<CDecodeChannel> pChannel;
        std::unique_ptr<RecordTest::LiveFeed> pFeed;
    };
    int m_lLogin;
    std::vector<Stream> m_streams;
};

} // namespace GridTest
