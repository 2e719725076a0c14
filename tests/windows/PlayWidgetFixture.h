#pragma once

// The plug-in window against the simulated browser, run once per EmbedType: the default browser tree (a top
// window "browser" with its content window "content"), a fresh window per test, and helpers to attach, show
// and watch it.

#include "platform/winapi.h"
#include "tests/support/LogCapture.h"
#include "windows/PlayWidget.h"

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <gtest/gtest.h>

#include <functional>
#include <string>

class PlayWidgetFixture : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override;
    void TearDown() override;

    int EmbedType() const { return GetParam(); }
    PlayWidget *Widget() const { return PlayWidget::GetInstance(); }
    HWND Own() const { return reinterpret_cast<HWND>(Widget()->winId()); }

    // AttachBrowser with the title "Web Viewer" and the Chrome kind, as the login does.
    void Attach(HWND hTop, HWND hContent, int nBrowseType = 2);
    // The default browser attached, and the window shown at the region once the first parent tick has seen
    // the content window visible.
    void AttachAndShow(const PluginRegion &region);
    void Command(int nType, const PluginRegion &region) { Widget()->onWidgetStatuChange(nType, region); }

    // The window's place on the screen, and where it belongs: the content window's client origin plus the
    // region (the top window's client origin when there is no content window).
    QRect ScreenGeometry() const;
    static QRect Expected(HWND hOrigin, const PluginRegion &region);
    // The window this one hangs on in the tree: the owner with EmbedType 1, the parent with EmbedType 0.
    HWND AttachedTo() const;

    // Whether the live page highlights its current tile (it does not while the window is full screen).
    bool LiveTileHighlighted() const;

    // Parent timer ticks so far: each one with a content window asks for the foreground window once.
    static int ParentTicks();
    bool WaitParentTicks(int nTicks) const;
    // Processes events for the given time, for checks that something does not happen.
    static void WaitFor(int nMilliseconds);

    static std::string Hex8(HWND hWnd);
    // A line of the level ("NORMAL", "WARNING", "ERROR") and tag whose message is the text.
    static bool HasLine(const LogCapture &log, const QString &strLevel, const QString &strTag,
                        const QString &strMessage);

    HWND m_hTop = nullptr;
    HWND m_hContent = nullptr;
    LogCapture m_log;
};

// Calls the function whenever the object receives an event of the type, from inside the event.
class EventHook : public QObject
{
public:
    EventHook(QObject *pTarget, QEvent::Type type, std::function<void()> fn);

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override;

private:
    QEvent::Type m_type;
    std::function<void()> m_fn;
};
