#pragma once

// Helpers for the playback page tests: the page shown with its panes at the stream's size, recordings of the
// simulated device played into panes by time as the playback requests play them (the library's data threads
// feeding the page), the ports the decode library's journal names, and the play time a port has shown.

#include "device/PlaybackRecords.h"
#include "tests/support/RecordFixture.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CPlaybackWidget;
class QImage;

namespace PlaybackTest {

// A decode-library test with the small-stream device of the grid tests and the application and record folders
// of the recording tests.
class PlaybackFixture : public RecordFixture
{
protected:
    void SetUp() override;
};

// Shows the page with 1 or 4 panes, each surface the stream's size. False when it does not get that size.
bool ShowPage(CPlaybackWidget &page, int nPanes);
// What the pane's surface shows.
QImage GrabPane(CPlaybackWidget &page, int nPane);

// The ports named by the journal lines (a line's second word, when it is a number).
std::set<int> JournalPorts(const std::vector<std::string> &lines);
// The journal's lines of one function.
std::vector<std::string> Calls(const std::string &strName);

// The playback stream's data callback as the requests give it: the pane's record as its user value, every block
// handed to the page on the library's thread.
struct PaneFeed
{
    PlayUserRecord record{-1, 0, 0, 0};
    CPlaybackWidget *pPage = nullptr;
    std::thread::id guiThread = std::this_thread::get_id();
    std::atomic<int> nTaken{0};
    std::atomic<bool> bOnGuiThread{false};

    static int32_t OnData(int32_t lPlay, int32_t nType, const unsigned char *pData, uint32_t nSize, void *pUser);
    static void OnPos(int32_t lPlay, int32_t nTotal, int32_t nPos, void *pUser);
};

// Recordings of the device played into panes by time, each started as the requests start it: the pane shows
// the channel, plays on its port, is given the span, and the device library feeds it. The recordings are ended
// before the panes are closed.
class DevicePanes
{
public:
    DevicePanes(CPlaybackWidget &page, int lLogin) : m_page(page), m_lLogin(lLogin) {}
    ~DevicePanes();
    DevicePanes(const DevicePanes &) = delete;
    DevicePanes &operator=(const DevicePanes &) = delete;

    // Plays nSeconds of the channel's recording from the begin text ("yyyy-MM-dd hh:mm:ss") in the pane; false
    // when a step fails.
    bool Start(int nPane, int nChannel, const char *pBegin, int nSeconds);
    int Handle(int nPane) const;
    PaneFeed *Feed(int nPane) const;
    // Ends every recording, then closes its pane.
    void StopAll();

private:
    struct Pane
    {
        int nPane = -1;
        int lPlay = 0;
        std::unique_ptr<PaneFeed> pFeed;
    };
    CPlaybackWidget &m_page;
    int m_lLogin;
    std::vector<Pane> m_panes;
};

// The play time (milliseconds of the device's clock) of the picture the port shows last.
int64_t ShownMs(int nPort);
// Seconds since 1970 of a "yyyy-MM-dd hh:mm:ss" text, counted as the device counts its timestamps.
int64_t DeviceSeconds(const char *pText);

} // namespace PlaybackTest
