#pragma once

// The program logged in to a simulated device of small, quickly made streams, with its playback page shown,
// and the playback and download requests as the page sends them.

#include "tests/e2e/LoginFixture.h"

#include <json/value.h>

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace PlaybackE2e {

// The first second of every recording the tests ask for.
constexpr const char *kBegin = "2024-01-15 10:00:00";

// "yyyy-MM-dd hh:mm:ss" nSeconds after the text.
std::string TimeAfter(const char *pTime, int nSeconds);
// Seconds since 1970 of a time text, counted as the device counts its block timestamps.
int64_t DeviceSeconds(const std::string &strTime);

// Playback requests ("MainType" 5).
Json::Value PageMode(const Json::Value &msgId, int nMode);
struct TimeEntry
{
    int nChannel;
    int nWnd;
    int nSeconds;   // from kBegin
};
Json::Value ByTime(const Json::Value &msgId, int nSelectWnd, const std::vector<TimeEntry> &entries);
// One file per span (seconds from kBegin, each file following the one before).
Json::Value ByFile(const Json::Value &msgId, int nSelectWnd, int nChannel, const std::vector<int> &spans);
Json::Value Control(const Json::Value &msgId, int nChannel, int nCmd, int nParam = 0);
// A request that takes only "Channel" (35, 41 to 45).
Json::Value ForChannel(const Json::Value &msgId, int nSubType, int nChannel);
struct DownloadEntry
{
    std::string strFileName;
    std::string strBegin;
    std::string strEnd;
};
Json::Value Download(const Json::Value &msgId, int nChannel, const std::vector<DownloadEntry> &entries,
                     const char *pEvent = "", int nFileType = 0);

// A request that holds the request thread for about two seconds: the configuration snapshot of channel 5 while it
// is not open (a device of 6 channels at least).
Json::Value HoldingRequest(const Json::Value &msgId);
constexpr int kHoldingChannels = 8;

// A reply of "MainType" 5 with "Ret" and further keys where they sort: strBefore before "Msg", strAfterId
// between "MsgID" and "Ret" (each ending in a comma), strAfterSub after "SubMsg" (without a leading comma).
std::string Reply5(int nSubType, const char *pMsgId, int nRet, const std::string &strBefore = std::string(),
                   const std::string &strAfterId = std::string(), const std::string &strAfterSub = std::string());

class PlaybackTest : public ::testing::Test
{
protected:
    // Starts the program against a device of nChannels channels (with the client configuration when given, and
    // further keys of the device entry, such as "\"Events\": [...]"), logs in, shows the window and the playback
    // page.
    bool Open(int nChannels = 4, const QByteArray &clientCfg = QByteArray(), const QByteArray &deviceKeys = QByteArray());

    // The index in Messages() of the reply to msgId; -1 when there is none.
    int IndexOfReply(const Json::Value &msgId) const;
    // Waits for a message after index nAfter that satisfies the predicate; an empty message when none came.
    HostMessage WaitAfter(int nAfter, const std::function<bool(const HostMessage &)> &pred,
                          int nTimeoutMs = HostedPlugin::kWaitMs);
    // The nth message (from 1) after index nAfter that satisfies the predicate; an empty message when fewer came.
    HostMessage WaitForNth(int nAfter, int nNth, const std::function<bool(const HostMessage &)> &pred);
    // The next play-position event of the pane after index nAfter; with bWithPos only one that carries "pos".
    HostMessage WaitPosition(int nAfter, int nPane, bool bWithPos = true);
    // Checks, as test failures, that the pane plays the channel's recording of nTotal seconds (page mode 2) on
    // from message index nAfter until nSeconds of it are shown, and then still shows the channel's pictures,
    // without an end of it reported meanwhile.
    void ExpectPlaysOn(int nAfter, int nChannel, int nPane, int nSeconds, int nTotal);

    EnvFiles m_files;
    HostedPlugin m_plugin;
};

bool IsEvent(const HostMessage &message, int nMain, int nSub);

} // namespace PlaybackE2e
