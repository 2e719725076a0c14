// The window stand-in's check that widgets are used on the GUI thread only: uses from another thread are noted,
// the same uses on the GUI thread and calls about simulated browser windows are not.

#include "platform/winapi.h"
#include "standin/windows/BrowserControl.h"
#include "standin/windows/GuiThreadCheck.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

class GuiThreadCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BrowserControl::Reset();
        GuiThreadCheck::Reset();
    }
    void TearDown() override
    {
        GuiThreadCheck::Reset();
        BrowserControl::Reset();
    }
};

template <typename F>
void OnOtherThread(F &&f)
{
    std::thread t(std::forward<F>(f));
    t.join();
}

TEST_F(GuiThreadCheckTest, WidgetUsesOffTheGuiThreadAreNoted)
{
    QWidget widget;
    const HWND hWidget = reinterpret_cast<HWND>(widget.winId());
    const HWND hBrowser = BrowserControl::Window("browser");
    ASSERT_NE(hBrowser, nullptr);

    // On the GUI thread nothing is noted.
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&widget, &event);
    EXPECT_TRUE(IsWindow(hWidget));
    EXPECT_EQ(GuiThreadCheck::Violations(), 0);
    EXPECT_TRUE(GuiThreadCheck::OnGuiThread());

    // The browser's windows may be asked about from any thread.
    OnOtherThread([&] {
        EXPECT_FALSE(GuiThreadCheck::OnGuiThread());
        EXPECT_TRUE(IsWindow(hBrowser));
        char title[64] = {};
        EXPECT_GT(GetWindowTextA(hBrowser, title, sizeof title), 0);
    });
    EXPECT_EQ(GuiThreadCheck::Violations(), 0);

    // An event sent to a widget, and a user32 call about a plug-in window, from another thread.
    OnOtherThread([&] {
        QEvent other(QEvent::User);
        QCoreApplication::sendEvent(&widget, &other);
    });
    EXPECT_EQ(GuiThreadCheck::Violations(), 1);
    OnOtherThread([&] { IsWindowVisible(hWidget); });
    EXPECT_EQ(GuiThreadCheck::Violations(), 2);
    const std::vector<std::string> reports = GuiThreadCheck::Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].rfind("widget event User", 0), 0u) << reports[0];
    EXPECT_EQ(reports[1].rfind("user32 call on a plug-in window", 0), 0u) << reports[1];

    GuiThreadCheck::Reset();
    EXPECT_EQ(GuiThreadCheck::Violations(), 0);
    EXPECT_TRUE(GuiThreadCheck::Reports().empty());
}

} // namespace
