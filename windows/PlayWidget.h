#pragma once

#include "platform/pavline.h"
#include "platform/winapi.h"
#include "windows/LocalInfo.h"
#include "windows/PluginRegion.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class CColorSetWidget;
class CPlaybackWidget;
class CRealPlayWidget;
class QHBoxLayout;
class QTimer;
class QWindow;
struct RealDataFrame;
struct SmartRuleInfo;

// Widget status codes of PlayWidget::onWidgetStatuChange; every other value does nothing.
enum WebCtrlType { WebCtrlHide = 1, WebCtrlShow = 2, WebCtrlMove = 4 };

// The pages of the window, the value of its current page index.
enum PageIndex { PAGE_REALPLAY = 0, PAGE_PLAYBACK = 1, PAGE_COLORSET = 2 };

// The one top-level window of the process: a frameless tool window laid over the part of the web page that the
// page reserves for video. It attaches itself to the browser's top-level window, keeps its position on the
// browser's content window origin plus the page's region, hides while the browser shows another tab, survives
// the content window's destruction and can go full screen. Lives on the GUI thread; every member but the
// stream data entry points is called there.
//
// Inside lie the live, playback and colour pages, one shown at a time. The request handlers reach every page
// operation through this window, which picks the page: live operations are addressed by channel (0..63),
// playback operations by pane (0..3). Results: 0 success; -1 no such window, channel or pane, or the operation
// does not apply to the current page; -2 the decode library refused; the electronic PTZ operations answer true
// when done.
//
// Definitions: PlayWidget.cpp (the window, its lifetime and full screen), PlayWidgetEmbed.cpp (the browser
// embedding and its timers), PlayWidgetPages.cpp (the page operations).
class PlayWidget : public QWidget
{
    Q_OBJECT
public:
    // The process-wide window, made hidden on first use; DestroyInstance deletes it, so that the next
    // GetInstance makes a new one. Only the login makes the window: everything else takes Instance, the window
    // if there is one (null from the logout to the next login), and does nothing without it.
    static PlayWidget *GetInstance();
    static PlayWidget *Instance();
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

    // Pages. An index outside 0..2 is kept, and every operation on the current page then gives its answer
    // for another page.
    void SetPageIndex(int nIndex);
    int GetPageIndex() const { return m_nCurPageIndex; }
    // Split of the current page: the page's result; -1 on a page without a grid.
    int ChangeSplit(int nSplitIndex);
    // Playback page only: selects the pane (0..3) and reports it through curWndIndexSig, even when it was
    // current already; for a pane the page does not have it reports the current pane.
    void SetCurWndIndex(int nPane);
    // The current page's current window; -1 on a page without a grid.
    int GetCurWndIndex() const;
    // The current window's channel of the live (0) or playback (1) page, or of the current page (5); -1 for
    // another kind and for kind 5 on a page without a grid.
    int GetCurWndChannel(int nKind) const;
    // Page 0 or 1 (another page: -1).
    int GetWndChannel(int nPage, int nWndIndex) const;
    int GetWndIndexByChannel(int nPage, int nChannel) const;

    // Live page, whatever page is shown (but IsRecording and GetPlayOriginalState, which answer only while the
    // live page is). Window -1 is the current window.
    int PreviewPlay(int nStreamType, int nChannel, int nWndIndex);
    // The channel's port played for a configuration snapshot only, in no tile; PreviewStop ends it.
    int CapturePreviewPlay(int nStreamType, int nChannel);
    int PreviewStop(int nChannel);
    int Record(int nChannel, bool bOn, bool &bRecording);
    bool IsRecording(int nChannel) const;
    int GetStreamType(int nChannel) const;
    int PlayNormal(int nChannel);
    int PlayOriginal(int nChannel);
    int PlayProportion(int nChannel, int nMode);
    int GetPlayOriginalState(int nChannel) const;
    int GetColor(int nChannel, int &nBrightness, int &nContrast, int &nSaturation, int &nHue);
    // The channel of the current live window.
    int SetColor(int nType, int nValue);
    // Two-lens zoom of the current live window: direction 0 up, 1 down.
    void ScaleSwitch(int nDirection, int nStep);
    void SetDeviceInfo(int lLoginID, bool bFirstDevice, bool bSecondDevice);
    // Replaces the live page's rule block; with on 1 registers its drawing, and a refusal writes RET_FAIL into
    // the result, which is otherwise left as it was.
    void SetSmartRule(int nOn, const SmartRuleInfo &info, int &nResult);
    bool PTZElectOpen(int nChannel, int nWndIndex);
    bool PTZElectPresent(int nChannel, int nCommand, int nPresetNo);
    bool PTZElectRedu(int nChannel);
    bool PTZElectZoomIn(int nChannel, int nStep);
    bool PTZElectZoomOut(int nChannel, int nStep);
    bool PTZElectronicMove(int nChannel, int nDirection, int nStep);

    // Playback page, whatever page is shown (but SetPlaybackWndChannel, which acts only while the playback
    // page is). Pane -1 is the current pane.
    void SetPlaybackWndChannel(int nChannel, int nPane);
    int PlaybackStart(int nOpenMode, int nUnused, int nPane);
    int PlaybackStop(int nPane);
    // The channel's play state after the change; -1 without a channel.
    int PlaybackControl(int nPane, int nState);
    int SetPlayPos(int nPane, double dPos);
    float GetPlayPos(int nPane);
    // Seconds from the begin time at a position in thousandths of the span.
    int GetPlaybackSeekTime(int nPane, int nPerMille);
    int SetPlaybackTime(int nPane, const char *pBeginTime, const char *pEndTime);
    // 1 device recordings, 0 local files.
    void SetPlaybackMode(int nMode);
    // Reloads the window's settings, then records a clip in their record folder with their record type.
    int PlaybackRecord(int nPane, int nUnused, bool bOn);
    bool IsPlaybackRecording(int nPane) const;
    // The pane's record, zoom and sound flags; returns the sound flag.
    bool GetPlaybackWndStatus(int nPane, bool &bRecord, bool &bZoom, bool &bSound) const;
    int PlaybackDigitalZoom();
    void GetPlaybackBufferValue(int nPane, int &nYuvVal, int &nBufVal);
    bool IsPlaybackBufferEmpty(int nPane);
    // 1 opened, 0 not. The end callback runs on a thread of the decode library.
    int BeginLocalPlay(int nPane, const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser);
    void SetBackgroundPic(const QString &strPath);

    // Colour page.
    int ColorPreviewStart(int nStreamType);
    int ColorPreviewStop();

    // Operations on the live (0) or playback (1) page; another page gets the answer in brackets.
    // Play state in host codes: kind 0 live channel, 1 playback pane, 2 the colour page (index unused); [0].
    int GetPlayState(int nKind, int nIndex) const;
    bool IsDigitalZoom(int nPage, int nIndex) const;   // [false]
    bool IsSoundOpen(int nPage, int nIndex) const;     // [false]
    int OpenSound(int nPage, int nIndex, bool bOn);    // [-1]

    // A picture of a window: with the configuration flag the live page's configuration snapshot whatever page
    // is shown; else the current page's (the playback page's in the reloaded capture folder).
    int Snapshot(int nWndIndex, bool bConfig);
    // Converts a recorded file (type 2, AVI); the progress callback runs on a thread of the decode library.
    static bool ChangeFileFormat(const QString &strSource, const QString &strTarget, int nType,
                                 KTN_fConvertProgressCallBack cbProgress, void *pUser);
    void SetSkin(const QString &strSkin);

    // Stream data, called on the device library's threads: each reaches only the decode channel of its
    // channel or pane, and a block for one that is not open is dropped.
    int PreviewInputData(int nChannel, const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame);
    // The page's result, so that the library's callback can hand it back.
    int PlaybackInputData(int nPane, const unsigned char *pData, uint32_t nLength);
    // 0; -1 without a colour channel.
    int ColorInputData(const unsigned char *pData, uint32_t nLength);

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

    // Reloaded on the GUI thread before a playback snapshot or clip.
    LocalInfo m_stLocalInfo;
    // The pages are children of the window from its construction to its end; the data entry points read the
    // pointers on the library's threads, so they never change.
    CRealPlayWidget *m_pRealPlayWidget = nullptr;
    QHBoxLayout *m_pLayout = nullptr;
    CPlaybackWidget *m_pPlaybackWidget = nullptr;
    CColorSetWidget *m_pColorSetWidget = nullptr;
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
