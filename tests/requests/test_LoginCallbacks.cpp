// The tables behind the login, page and device events, and the callbacks that the host link cannot reach:
// what the device library registers and hands over, checked against its journal and the log.

#include "platform/korvex.h"
#include "requests/CPluginManage.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/windows/BrowserControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManageHarness.h"
#include "windows/PlayWidget.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string AlarmText(int nChannel, const char *pEvent, const char *pStatus)
{
    return "{\"AlarmInfo\":{\"Channel\":" + std::to_string(nChannel) + ",\"Event\":\"" + pEvent +
           "\",\"Status\":\"" + pStatus + "\"},\"MainEvent\":2,\"Name\":\"AlarmInfo\",\"SubEvent\":0}\n";
}

QString LoginRequest(const QString &strDevice, const QString &strExtra = QString())
{
    return QString(R"({"MainType":8,"MsgID":"l","Title":"Web Viewer","Browse":2,"Device":%1%2})")
        .arg(strDevice, strExtra);
}

const QString kBuiltInBySerial = R"({"LoginType":1,"SN":"KVX8A61C0F3D2E47","User":"admin","Password":""})";
const QString kBuiltInByAddress = R"({"LoginType":0,"IP":"127.0.0.1","Port":34567,"User":"admin","Password":""})";

} // namespace

TEST(AlarmEvent, RecordsToTexts)
{
    struct Case
    {
        int32_t nChannel, nCode, nStatus, nKind;
        std::string strText; // empty: no event
    };
    const Case cases[] = {
        {3, 4, 0, 1, AlarmText(3, "VideoMotion", "Start")},
        // The first row of a code wins.
        {0, 25, 1, 1, AlarmText(0, "VideoAnalyze", "Stop")},
        {0, 13, 2, 1, AlarmText(0, "NetAbort", "Pulse")},
        {0, 14, 0, 1, AlarmText(0, "CommAlarm", "Start")},
        {0, 12, 0, 1, AlarmText(0, "StorrageLowSpace", "Start")},
        {63, 41, 0, 1, AlarmText(63, "FaceRecognition", "Start")},
        {-1, 39, 0, 1, AlarmText(-1, "appEventHumanDetectAlarm", "Start")},
        // Codes without a name, statuses without a text.
        {0, 43, 3, 1, AlarmText(0, "", "")},
        {0, 18, -1, 1, AlarmText(0, "", "")},
        {0, 0, 0, 1, AlarmText(0, "", "Start")},
        // Other message kinds carry no alarm.
        {3, 4, 0, 0, ""},
        {3, 4, 0, 2, ""},
    };
    for (const Case &c : cases) {
        ZDK_AlarmInfo record{};
        record.nChannel = c.nChannel;
        record.nEvent = c.nCode;
        record.nStatus = c.nStatus;
        EXPECT_EQ(CPluginManage::AlarmEvent(reinterpret_cast<const char *>(&record), sizeof record, c.nKind)
                      .toStdString(),
                  c.strText)
            << c.nCode << " " << c.nStatus << " " << c.nKind;
    }
}

TEST(AlarmEvent, RecordShorterThanItsThreeFieldsIsNotRead)
{
    // The three fields at the end of a buffer: one byte short of them is past its end.
    char buffer[12];
    const int32_t fields[3] = {3, 4, 0};
    std::memcpy(buffer, fields, sizeof fields);
    EXPECT_EQ(CPluginManage::AlarmEvent(buffer, 12, 1).toStdString(), AlarmText(3, "VideoMotion", "Start"));
    EXPECT_TRUE(CPluginManage::AlarmEvent(buffer + 1, 11, 1).isEmpty());
    EXPECT_TRUE(CPluginManage::AlarmEvent(buffer, 0, 1).isEmpty());
    EXPECT_TRUE(CPluginManage::AlarmEvent(nullptr, 128, 1).isEmpty());
    // The callback itself answers true and sends nothing for them.
    ManageHarness harness;
    EXPECT_TRUE(CPluginManage::AlarmMessCallBack(1, nullptr, 128, harness.Manage(), 1));
    EXPECT_TRUE(CPluginManage::AlarmMessCallBack(1, buffer + 1, 11, harness.Manage(), 1));
    EXPECT_TRUE(CPluginManage::AlarmMessCallBack(1, buffer, 12, harness.Manage(), 1));
    ASSERT_TRUE(harness.WaitForMessages(1));
    harness.Sync();
    EXPECT_EQ(harness.Messages(), QStringList{QString::fromStdString(AlarmText(3, "VideoMotion", "Start"))});
}

TEST(LoginTables, SplitIndexOfACount)
{
    const std::pair<int, int> cases[] = {{-3, 0}, {0, 0}, {1, 0}, {2, 1}, {4, 1}, {5, 2}, {9, 2}, {10, 3},
                                         {16, 3}, {17, 4}, {25, 4}, {26, 5}, {36, 5}, {37, 6}, {64, 6}, {65, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(CPluginManage::SplitIndexFromCount(c.first), c.second) << c.first;
}

TEST(PageTables, SpeedOfAPlayStateAndLargePictures)
{
    const std::pair<int, int> speeds[] = {{16, 1}, {17, 2}, {18, 3}, {19, 4}, {32, 1}, {33, 2}, {34, 3}, {35, 4},
                                          {0, -1}, {1, -1}, {2, -1}, {15, -1}, {20, -1}, {31, -1}, {36, -1}, {48, -1}};
    for (const auto &c : speeds)
        EXPECT_EQ(CPluginManage::PlayStateToSpeed(c.first), c.second) << c.first;
    EXPECT_EQ(CPluginManage::LargePictureFlag(2560, 1440), 1);
    EXPECT_EQ(CPluginManage::LargePictureFlag(2559, 1440), 0);
    EXPECT_EQ(CPluginManage::LargePictureFlag(1920, 1080), 0);
    // The largest size a frame record carries does not overflow.
    EXPECT_EQ(CPluginManage::LargePictureFlag(65535, 65535), 1);
}

TEST(LoginCallbacks, TheAlarmCallbackGoesWithTheLoginThatRegisteredIt)
{
    ManageHarness harness;
    KorvexControl::ClearJournal();
    auto registrations = [] {
        std::string strLines;
        for (const std::string &strLine : KorvexControl::JournalOf("ZDK_DEV_SetMessCallBack"))
            strLines += strLine.substr(strLine.rfind(' ') + 1) + ";";
        return strLines;
    };
    const struct
    {
        const char *pName;
        QString strRequest;
        std::string strAfter; // the registrations so far
    } steps[] = {
        {"serial login with Tool", LoginRequest(kBuiltInBySerial, R"(,"AlarmStyle":"Tool")"), "set;"},
        {"logout", R"({"MainType":9})", "set;none;"},
        {"login by address", LoginRequest(kBuiltInByAddress, R"(,"AlarmStyle":"Tool")"), "set;none;"},
        {"serial login with Tool again", LoginRequest(kBuiltInBySerial, R"(,"AlarmStyle":"Tool")"), "set;none;set;"},
        // The next login logs the last one out first.
        {"serial login without Tool", LoginRequest(kBuiltInBySerial), "set;none;set;none;"},
        {"refused serial login with Tool",
         LoginRequest(R"({"LoginType":1,"SN":"NONE","User":"admin","Password":""})", R"(,"AlarmStyle":"Tool")"),
         "set;none;set;none;set;none;"},
    };
    for (const auto &step : steps) {
        harness.Send(step.strRequest);
        harness.Sync();
        EXPECT_EQ(registrations(), step.strAfter) << step.pName;
    }
}

TEST(LoginCallbacks, APictureSizeChangeOnEitherAxisIsTaken)
{
    // Every channel but 7 is open, on a held clock so that only the frames handed here report sizes.
    struct HeldClock
    {
        HeldClock() { KorvexControl::HoldClock(); }
        ~HeldClock() { KorvexControl::ReleaseClock(); }
    } held;
    ManageHarness harness;
    harness.Send(LoginRequest(kBuiltInByAddress));
    ASSERT_TRUE(harness.WaitForMessages(1));
    ASSERT_TRUE(harness.Messages()[0].contains("\"Ret\":100"));
    harness.Send(R"({"MainType":4,"SubType":0,"MsgID":"o","Channel":-1,"Stream":1})");
    harness.Send(R"({"MainType":4,"SubType":1,"MsgID":"c","Channel":7})");
    harness.Sync();
    ASSERT_TRUE(KorvexControl::WaitForIdle());
    harness.Sync();
    LogCapture log;
    const struct
    {
        int nKind;
        int nUserChannel;
        int nWidth;
        int nHeight;
        bool bTaken;
    } frames[] = {
        {ZDK_FRAME_VIDEO, 5, 1920, 1080, true},
        {ZDK_FRAME_VIDEO, 5, 1920, 1080, false},
        {ZDK_FRAME_VIDEO, 5, 2560, 1080, true},   // the width alone
        {ZDK_FRAME_VIDEO, 5, 2560, 1440, true},   // the height alone
        {ZDK_FRAME_VIDEO, 5, 2560, 1440, false},
        {ZDK_FRAME_AUDIO, 5, 640, 360, false},
        {ZDK_FRAME_VIDEO, 64, 640, 360, false},   // no such channel
        {ZDK_FRAME_VIDEO, 6, 2560, 1440, true},   // each channel has its own record
        {ZDK_FRAME_VIDEO, 7, 2560, 1440, false},  // a closed channel: a report left from its stream
    };
    for (const auto &f : frames) {
        const int nBefore = log.Count("uHeight:");
        RealDataFrame frame{};
        frame.nKind = f.nKind;
        frame.nWidth = static_cast<uint16_t>(f.nWidth);
        frame.nHeight = static_cast<uint16_t>(f.nHeight);
        EXPECT_EQ(CPluginManage::RealDataCallBackV2(1, &frame, ZDK_ChannelToUser(f.nUserChannel)), 1);
        harness.Sync();
        EXPECT_EQ(log.Count("uHeight:") - nBefore, f.bTaken ? 1 : 0) << f.nUserChannel << ": " << f.nWidth << "x" << f.nHeight;
        if (f.bTaken) {
            EXPECT_TRUE(log.Contains(QString("uHeight:%1,uWidth:%2").arg(f.nHeight).arg(f.nWidth)));
        }
    }

    // A report queued before the logout runs after it: it is dropped and makes no new window.
    RealDataFrame frame{};
    frame.nKind = ZDK_FRAME_VIDEO;
    frame.nWidth = 800;
    frame.nHeight = 600;
    const int nBefore = log.Count("uHeight:");
    harness.Send(R"({"MainType":9})");
    CPluginManage::RealDataCallBackV2(1, &frame, ZDK_ChannelToUser(5));
    harness.Sync();
    EXPECT_EQ(log.Count("uHeight:") - nBefore, 0);
}

TEST(LoginCallbacks, TheLoginReportsTheScreenScale)
{
    const std::pair<int, int> cases[] = {{96, 100}, {120, 125}, {144, 150}, {-1, 1}};
    for (const auto &c : cases) {
        BrowserControl::Reset();
        BrowserControl::SetScreenDpi(c.first);
        ManageHarness harness;
        harness.Send(LoginRequest(kBuiltInByAddress));
        ASSERT_TRUE(harness.WaitForMessages(1)) << c.first;
        EXPECT_TRUE(harness.Messages()[0].contains(QString("\"DPIRadio\":%1,").arg(c.second)))
            << harness.Messages()[0].toStdString();
    }
    BrowserControl::Reset();
}

TEST(PageEvents, TheWindowsSignalsReachThePageAsEvents)
{
    ManageHarness harness;
    harness.Send(LoginRequest(kBuiltInByAddress));
    ASSERT_TRUE(harness.WaitForMessages(1));
    // A live tile chosen in the window: its state (no channel in it), then its electronic PTZ state.
    PlayWidget::GetInstance()->onCurWndIndexChange(3);
    ASSERT_TRUE(harness.WaitForMessages(3));
    // The live page asks for the electronic PTZ page.
    emit PlayWidget::GetInstance()->changePTZELectPage();
    ASSERT_TRUE(harness.WaitForMessages(4));
    harness.Sync();
    const QStringList messages = harness.Messages();
    ASSERT_EQ(messages.size(), 4);
    EXPECT_EQ(messages[1].toStdString(),
              "{\"Data\":{\"Audio\":0,\"Channel\":-1,\"DigitalZoom\":false,\"PlayStatus\":-1,\"RageState\":-1,"
              "\"Wnd\":3,\"nBrightness\":0,\"nContrast\":0,\"nHue\":0,\"nSaturation\":0},\"MainEvent\":0,"
              "\"SubEvent\":0}\n");
    EXPECT_EQ(messages[2].toStdString(), "{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":0}\n");
    EXPECT_EQ(messages[3].toStdString(), "{\"MainEvent\":0,\"SubEvent\":6,\"nShowElect\":2}\n");
}

// The window's reports still queued when a logout destroys it are about a window that is gone: they are dropped,
// and none of them makes a new window.
TEST(PageEvents, TheReportsOfAWindowALogoutDestroyedAreDropped)
{
    ManageHarness harness;
    harness.Send(LoginRequest(kBuiltInByAddress));
    ASSERT_TRUE(harness.WaitForMessages(1));
    // The logout waits for this thread to destroy the window, so the reports queue behind it.
    harness.Send(R"({"MainType":9})");
    PlayWidget *pWidget = PlayWidget::Instance();
    ASSERT_NE(pWidget, nullptr);
    pWidget->onCurWndIndexChange(3);
    emit pWidget->changePTZELectPage();
    harness.Sync();
    EXPECT_EQ(PlayWidget::Instance(), nullptr);
    EXPECT_EQ(harness.Messages().size(), 1) << harness.Messages().join("").toStdString();
}
