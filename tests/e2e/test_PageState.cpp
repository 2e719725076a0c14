// Page, split, current window and the window's show, hide and move, with the events and their order.

#include "tests/e2e/LoginFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

namespace {

// The browser at (200, 100) on the screen, its client area 8 and 31 pixels in, the content window 80 pixels
// below the client area's top: the content window's origin is (208, 211) on the screen.
const QByteArray kBrowserTree = R"({"foreground": "browser", "windows": [
    {"id": "browser", "class": "Chrome_WidgetWin_1", "title": "Web Viewer", "rect": [200, 100, 1200, 900],
     "frame": [8, 31, 8, 8],
     "children": [{"id": "content", "class": "Chrome_RenderWidgetHostHWND", "rect": [0, 80, 1184, 761]}]}]})";
constexpr int kContentLeft = 208;
constexpr int kContentTop = 211;

Json::Value WidgetStatus(const Json::Value &msgId, int nType, int nLeft, int nTop, int nWidth, int nHeight)
{
    Json::Value request = HostedPlugin::NewRequest(12, nType, msgId);
    Json::Value &pos = request["Pos"];
    pos["Left"] = nLeft;
    pos["Top"] = nTop;
    pos["Width"] = nWidth;
    pos["Height"] = nHeight;
    return request;
}

std::string Reply(int nMsg, const char *pMsgId, int nSub, const std::string &strExtra = std::string())
{
    return "{" + strExtra + "\"Msg\":" + std::to_string(nMsg) + ",\"MsgID\":\"" + pMsgId + "\",\"Ret\":100,\"SubMsg\":" +
           std::to_string(nSub) + "}\n";
}

// The live window status of no channel, as the page change back to the live page reports it.
const std::string kNoChannelWndStatus =
    "{\"Data\":{\"Audio\":0,\"Chn\":-1,\"CurChannel\":-1,\"DigitalZoom\":false,\"PlayStatus\":-1,\"RageState\":-1,"
    "\"nBrightness\":0,\"nContrast\":0,\"nHue\":0,\"nSaturation\":0},\"MainEvent\":0,\"SubEvent\":2}\n";

std::string PaneStatus(int nPane)
{
    return "{\"Data\":{\"Audio\":false,\"Mode\":-1,\"Record\":false,\"Status\":0,\"Wnd\":" + std::to_string(nPane) +
           ",\"Zoom\":false},\"MainEvent\":1,\"SubEvent\":0}\n";
}

// Sends the request, waits for nCount messages (the load events aside) and until the request has been
// handled, and returns the texts of every message since, in order, without the synchronisation's answer.
std::vector<std::string> Exchange(HostedPlugin &plugin, const Json::Value &request, int nCount = 1)
{
    const int nBefore = plugin.Messages().size();
    plugin.Send(request);
    EXPECT_TRUE(WaitUntil([&] { return plugin.Messages().size() >= nBefore + nCount; }, HostedPlugin::kWaitMs));
    EXPECT_TRUE(plugin.Sync());
    std::vector<std::string> texts;
    const QList<HostMessage> messages = plugin.Messages();
    for (int i = nBefore; i < messages.size(); ++i)
        if (!QByteArray::fromStdString(messages[i]["MsgID"].asString()).startsWith("host-sync-"))
            texts.push_back(messages[i].text.toStdString());
    return texts;
}

Json::Value Page(int nPage) { return HostedPlugin::NewRequest(2, nPage, "p"); }
Json::Value CurrentWnd(int nWnd) { return HostedPlugin::NewRequest(11, nWnd, "w"); }

} // namespace

TEST(PageState, ShowAndMovePlaceTheWindowOnTheContentWindow)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("QUORRIN_BROWSER", files.Write("browser.json", kBrowserTree));
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("l")));

    EXPECT_EQ(Exchange(plugin, WidgetStatus("s", 2, 10, 20, 640, 360)), std::vector<std::string>{Reply(12, "s", 2)});
    EXPECT_TRUE(plugin.WaitForLog(QString("nLeft:%1,nTop:%2,Width:640,Height:360")
                                      .arg(kContentLeft + 10).arg(kContentTop + 20).toLatin1()));

    // With "Potocol" the window moves and nothing answers; a null one counts as none.
    Json::Value move = WidgetStatus("m", 4, 30, 40, 800, 450);
    move["Potocol"] = 1;
    EXPECT_TRUE(Exchange(plugin, move, 0).empty());
    EXPECT_TRUE(plugin.WaitForLog(QString("nLeft:%1,nTop:%2,Width:800,Height:450")
                                      .arg(kContentLeft + 30).arg(kContentTop + 40).toLatin1()));
    move["Potocol"] = Json::Value();
    EXPECT_EQ(Exchange(plugin, move), std::vector<std::string>{Reply(12, "m", 4)});

    // A code that is neither show, hide nor move is answered and changes nothing.
    EXPECT_EQ(Exchange(plugin, WidgetStatus("o", 3, 0, 0, 1, 1)), std::vector<std::string>{Reply(12, "o", 3)});
    EXPECT_EQ(Exchange(plugin, WidgetStatus("h", 1, 0, 0, 0, 0)), std::vector<std::string>{Reply(12, "h", 1)});
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("WebCtrlShow call"), 1);
    EXPECT_EQ(log.count("WebCtrlMove call"), 2);
    // The hide of the page, and the one of the logout at the end.
    EXPECT_EQ(log.count("WebCtrlHide call"), 2);
}

TEST(PageState, PagesSplitAndCurrentWindowWithTheirEvents)
{
    HostedPlugin plugin;
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("l")));

    EXPECT_EQ(Exchange(plugin, HostedPlugin::NewRequest(3, 1, "sp")),
              std::vector<std::string>{Reply(3, "sp", 1, "\"Chn\":-1,")});
    // On the live page the current window request does nothing.
    EXPECT_EQ(Exchange(plugin, CurrentWnd(2)), std::vector<std::string>{Reply(11, "w", 2)});

    // The playback page: the pane chosen is reported after the answer, by the grid when the pane changes and
    // once more by the window, which reports it also when it was current already.
    EXPECT_EQ(Exchange(plugin, Page(1)), std::vector<std::string>{Reply(2, "p", 1)});
    EXPECT_EQ(Exchange(plugin, CurrentWnd(2), 3),
              (std::vector<std::string>{Reply(11, "w", 2), PaneStatus(2), PaneStatus(2)}));
    EXPECT_EQ(Exchange(plugin, CurrentWnd(2), 2), (std::vector<std::string>{Reply(11, "w", 2), PaneStatus(2)}));
    // A pane the page does not have: the current one is reported as it is.
    EXPECT_EQ(Exchange(plugin, CurrentWnd(7), 2), (std::vector<std::string>{Reply(11, "w", 7), PaneStatus(2)}));
    EXPECT_EQ(Exchange(plugin, HostedPlugin::NewRequest(3, 1, "sp")),
              std::vector<std::string>{Reply(3, "sp", 1, "\"Chn\":-1,")});

    // Back to the live page: the window status before the answer; nothing was open, so no channel status.
    EXPECT_EQ(Exchange(plugin, Page(0), 2), (std::vector<std::string>{kNoChannelWndStatus, Reply(2, "p", 0)}));
    EXPECT_EQ(Exchange(plugin, Page(2)), std::vector<std::string>{Reply(2, "p", 2)});
    EXPECT_EQ(Exchange(plugin, Page(0), 2), (std::vector<std::string>{kNoChannelWndStatus, Reply(2, "p", 0)}));
    // A page the window does not have: no window status.
    EXPECT_EQ(Exchange(plugin, Page(7)), std::vector<std::string>{Reply(2, "p", 7)});

    // A second login keeps the window and adds no second connection to it: a pane that is current already is
    // reported once.
    ASSERT_TRUE(plugin.Request(LoginByAddress("l2")));
    EXPECT_EQ(Exchange(plugin, Page(1)), std::vector<std::string>{Reply(2, "p", 1)});
    EXPECT_EQ(Exchange(plugin, CurrentWnd(1), 2).front(), Reply(11, "w", 1));
    EXPECT_EQ(Exchange(plugin, CurrentWnd(1), 2), (std::vector<std::string>{Reply(11, "w", 1), PaneStatus(1)}));
    // After a logout the next login's new window is connected.
    plugin.Send(HostedPlugin::NewRequest(9, 0, "out"));
    ASSERT_TRUE(plugin.Request(LoginByAddress("l3")));
    EXPECT_EQ(Exchange(plugin, Page(1)), std::vector<std::string>{Reply(2, "p", 1)});
    EXPECT_EQ(Exchange(plugin, CurrentWnd(3), 3),
              (std::vector<std::string>{Reply(11, "w", 3), PaneStatus(3), PaneStatus(3)}));

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
}

// A pane change still queued when a logout runs belongs to a window that is gone: it is dropped. Nothing after the
// logout makes a window, a decode channel or a record worker (OEM mode 1 gives every decode channel one), and the
// end waits for no recording. The logout is the page's, or the one of the host's close.
TEST(PageState, APaneChangeQueuedBehindALogoutIsDropped)
{
    for (bool bLogoutRequest : {true, false}) {
        SCOPED_TRACE(bLogoutRequest ? "logout request" : "the close's logout");
        HostedPlugin::Options options;
        options.strSdkInfo = R"({"MainType":35,"SubMsg":1,"OemID":"O60"})";
        HostedPlugin plugin(options);
        ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("l")));
        ASSERT_EQ(Exchange(plugin, Page(1)), std::vector<std::string>{Reply(2, "p", 1)});

        // The snapshot of a closed channel holds the request thread while the pane change and the logout queue
        // up behind it: the pane change's own reports come after the logout.
        plugin.Send(HostedPlugin::NewRequest(19, 5, "hold"));
        plugin.Send(CurrentWnd(2));
        if (bLogoutRequest) {
            plugin.Send(HostedPlugin::NewRequest(9, 0, "out"));
            ASSERT_TRUE(plugin.WaitReply("w"));
            ASSERT_TRUE(plugin.Sync());
        }
        // A bound for a program that hangs; what the end waited for is read from the log.
        plugin.CloseLink();
        ASSERT_TRUE(plugin.WaitExit(2 * HostedPlugin::kWaitMs));
        EXPECT_EQ(plugin.ExitCode(), 0);

        for (const HostMessage &message : plugin.Messages())
            EXPECT_FALSE(message["MainEvent"] == 1 && message["SubEvent"] == 0) << message.text.toStdString();
        const QByteArray log = plugin.App().LogFiles();
        const int nLogout = log.indexOf("[CPluginManage::onMainMsgLogout]");
        ASSERT_GE(nLogout, 0);
        const QByteArray after = log.mid(nLogout);
        EXPECT_FALSE(after.contains("WinVersion=")) << "a window was made after the logout";
        EXPECT_FALSE(after.contains("[CDecodeChannel::CDecodeChannel]")) << "a decode channel was made after the logout";
        EXPECT_FALSE(log.contains("a recording was still being finished")) << "the end waited for a recording";
    }
}
