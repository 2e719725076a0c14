#pragma once

#include "tests/support/WaitUntil.h"

// Fixtures for tests against the decode library stand-in: a clean library per test (and a clean, initialised
// device library for streams from the simulated device), native windows to play into, test-pattern streams in
// the block format, and the colours the pattern must show.

#include "platform/pavline.h"
#include "standin/korvex/MediaLoop.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/KorvexFixture.h"

#include <QColor>
#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

// Resets the decode library before and after the test; at its end no library thread may be left.
class PavlineFixture : public KorvexFixture
{
protected:
    void SetUp() override;
    void TearDown() override;
};

// Closes every port, stops the capture and waits for conversions when it goes out of scope. Declared after the
// objects of a test that the decode library's callbacks write into, it ends them before those are gone, also
// when a failed assertion leaves the test early.
class PortsStop
{
public:
    PortsStop() = default;
    PortsStop(const PortsStop &) = delete;
    PortsStop &operator=(const PortsStop &) = delete;
    ~PortsStop() { PavlineControl::Reset(); }
};

// A native window of the given size, shown, for a port to play into.
class NativeTestWindow
{
public:
    NativeTestWindow(int nWidth, int nHeight);
    ~NativeTestWindow();
    HWND Handle() const { return m_hWnd; }
    QWidget *Widget() const { return m_pWidget.get(); }
    // The widget's painted content.
    QImage Grab() const;

private:
    std::unique_ptr<QWidget> m_pWidget;
    HWND m_hWnd = nullptr;
};

namespace PavlineTest {

using ::WaitUntil;

// The test-pattern loop of the simulated device (encoded once per process).
std::shared_ptr<const VideoLoop> PatternLoop(uint8_t nCodec, int nWidth, int nHeight, int nFrameRate);

// nFrames blocks of the loop (repeated as needed) with timestamps from nStartMs, one frame interval apart;
// with nAudioEvery > 0 an A-law audio block of 320 bytes follows every nAudioEvery-th video block.
std::vector<std::vector<uint8_t>> Blocks(const VideoLoop &loop, int nFrames, int64_t nStartMs, int nAudioEvery = 0);
// All blocks end to end.
std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>> &blocks);
bool WriteFile(const std::string &strPath, const std::vector<uint8_t> &bytes);
// An MP4 file of nFrames pictures of the loop (repeated as needed), written by CMp4Writer; with bSound, 40 ms of
// A-law silence before the first picture and after each. False when a picture was not written.
bool WriteMp4(const std::string &strPath, const VideoLoop &loop, int nFrames, bool bSound);

// Feeds every block, again as soon as the port's buffer has room; false when a block is refused otherwise, or
// for longer than the time.
bool FeedAll(int nPort, const std::vector<std::vector<uint8_t>> &blocks, int nTimeoutMs = 20000);


// The colour the pattern has at picture pixel (x, y), from the pattern's own drawing (frame 0), in RGB.
QColor PatternColour(int nWidth, int nHeight, int x, int y);
// True when every component is within nTolerance.
bool Near(const QColor &a, const QColor &b, int nTolerance);
std::string Describe(const QColor &c);

} // namespace PavlineTest
