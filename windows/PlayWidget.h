#pragma once

#include "platform/winapi.h"
#include "windows/LocalInfo.h"
#include "windows/PluginRegion.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>

class QHBoxLayout;
class QTimer;
class QWindow;

// Widget status codes of PlayWidget::onWidgetStatuChange; every other value does nothing.
enum WebCtrlType { WebCtrlHide = 1, WebCtrlShow = 2, WebCtrlMove = 4 };

// The one top-level window of the process: a frameless tool window laid over the part of the web page that the
// page reserves for video. It attaches itself to the browser's top-level window, keeps its position on the
// browser's content window origin plus the page's region, hides while the browser shows another tab, survives
// the content window's destruction and can go full screen. Lives on the GUI thread; every member but the
// stream data entry points is called there.
//
// Definitions: PlayWidget.cpp (the window, its lifetime and full screen), PlayWidgetEmbed.cpp (the browser
// embedding and its timers).
class PlayWidget : public QWidget
{
    Q_OBJECT
public:
    // The process-wide window, made hidden on first use; DestroyInstance deletes it, so that the next
    // GetInstance makes a new one.
    static PlayWidget *GetInstance();
    static void DestroyInstance();

    // Called once per login: the browser's top window, its content window (or null), the text that the top
    // window's title holds while the page's tab is shown, and the browser kind.
    void AttachBrowser(HWND hTopWnd, HWND hClientWnd, const QString &strBrowserTitle, int nBrowseType);
    // The first window at or below the given one (depth first, children before siblings, never the given
    // window's own siblings) whose class name holds the content window class of the browser kind; null when
    // there is none. Callers pass depth 0.
    static HWND ErgodicAllChild(HWND hWnd, int nBrowseType, int nDepth);
    // Attaches this window to a browser window as EmbedType says; nothing changes for a handle that is not a
    // window.
    void ReParent(HWND hWnd);
    // Where the region's origin lies: on the screen (EmbedType 1) or in the top window's client area (0).
    QPoint GetBrowseClientPos();
    void MovePlayWidget(HWND hWnd, const PluginRegion &region);
    // True when the window was shown (or hidden) by this call.
    bool ReqShowPlugin(bool bShow);

    // Fills the record from the application directory's "ClientCfg.ini".
    static void LoadLocalInfo(LocalInfo &info);

signals:
    void curWndIndexSig(int nPageId, int nWndIndex);
    void changePTZELectPage();

public slots:
    void onWidgetStatuChange(int nType, PluginRegion region);
    void onCurWndIndexChange(int nIndex);
    void onFullScreen();
    void onExitFullscreen();

protected:
    void timerEvent(QTimerEvent *pEvent) override;
    void keyReleaseEvent(QKeyEvent *pEvent) override;
    bool nativeEvent(const QByteArray &eventType, void *pMessage, long *pResult) override;

private:
    PlayWidget();
    ~PlayWidget() override;

    HWND OwnHandle();
    // With EmbedType 0 the top-level ancestor of this window, with EmbedType 1 its owner.
    HWND CurrentParent();
    static HWND TopLevelAncestor(HWND hWnd);
    static HWND SearchBrowseClientWnd(HWND hWnd, int nBrowseType, int nDepth, bool bLog);
    void StartParentTimer();
    void MoveTimerTick();
    void ParentTimerTick();
    bool FindClientWndAgain();
    void CheckFullScreen();

    LocalInfo m_stLocalInfo;
    // The live, playback and colour pages are added to this layout (see the constructor).
    QHBoxLayout *m_pLayout = nullptr;
    int m_nCurPageIndex = 0;
    HWND m_hCurBrowseClientWnd = nullptr;
    HWND m_hCurBrowseWnd = nullptr;
    bool m_bHasClientWnd = false;
    QString m_strBrowserTitle;
    QPoint m_ptLastOrigin;
    PluginRegion m_rcPluginRegion;
    int m_nMoveTimerId = 0;
    int m_nParentTimerId = 0;
    int EmbedType = 1;
    bool ShowPlugin = false;
    bool BrowseClientVisible = false;
    bool PosValid = false;
    int BrowseType = 0;
    QString m_strWndName;

    // EmbedType 0: the Qt window standing for the browser window this window lies in, made once per browser
    // window and freed only after this window has left it.
    std::unique_ptr<QWindow> m_pForeignParent;
    HWND m_hForeignParentWnd = nullptr;
    // The check 500 ms after a full-screen request; a child of the window, so it never outlives it, and
    // stopped when full screen is left before it runs.
    QTimer *m_pFullScreenCheck = nullptr;
    // m_strWndName did not hold m_strBrowserTitle at the last parent tick (logged when it starts).
    bool m_bWndNameMismatch = false;
};
