#pragma once

#include "platform/winapi.h"
#include "windows/HeardChannel.h"
#include "windows/LocalInfo.h"
#include "windows/SmartRuleInfo.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class CDecodeChannel;
class CPlayWindowManage;
class QHBoxLayout;
class SurfaceSizeWatch;
struct RealDataFrame;

// Page 0 of the plug-in window: a grid of up to 64 tiles and one decode channel per device channel (port =
// channel). It opens and closes live channels in tiles, feeds them the stream data, keeps the one channel whose
// sound is heard, records and snapshots channels, and sets colours and the display proportion of a tile. Its
// picture operations (digital zoom, electronic PTZ, the smart-rule overlay, the two-lens scale) are defined in
// CRealPlayWidgetZoom.cpp.
//
// Threads: every operation runs on the GUI thread but two. InputData runs on the device library's data
// threads: it reaches only a decode channel whose stream is open, published under a per-channel lock, and
// hands a new picture size to the GUI thread through a queued signal. DrawSmartRule runs on the decode
// library's thread of channel 0: it reads a copy of the rule block and the tile sizes that the GUI thread
// stored, and the atomic display and zoom states. Results: 0 success, -1 channel or window out of range (or
// no decode channel), -2 the decode library refused.
class CRealPlayWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CRealPlayWidget(QWidget *parent = nullptr);
    ~CRealPlayWidget() override;

    // The channel's decode channel, made on first use; null outside 0..63.
    CDecodeChannel *GetDecodeChannel(int nChannel);

    // Channels in tiles.
    int PreviewPlay(int nStreamType, int nChannel, int nWndIndex);
    // Plays the channel's port for its pictures only (a configuration snapshot), in no tile: 0, -1, -2. It ends
    // with PreviewStop.
    int CapturePreviewPlay(int nStreamType, int nChannel);
    int PreviewStop(int nChannel);
    // Device library thread: one block of the channel's stream (pFrame may be null). A block for a channel
    // whose stream is not open is dropped (-1).
    int InputData(int nChannel, const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame);

    // Recording and snapshots, named after the channel and the local time in the configured folders.
    int Record(int nChannel, bool bOn, bool &bRecording);
    int Snapshot(int nChannel, bool bConfigSnapshot);

    // Sound, colour and display proportion.
    int OpenSound(int nChannel, bool bOn);
    bool IsSoundOpen(int nChannel) const;
    int SetColor(int nWhich, int nValue);
    int GetColor(int nChannel, int &nBrightness, int &nContrast, int &nSaturation, int &nHue);
    int PlayOriginal(int nChannel);
    int PlayNormal(int nChannel);
    int PlayProportion(int nChannel, int nMode);
    int GetPlayOriginalState(int nChannel) const;

    // What the page holds.
    int GetPlayState(int nChannel) const;
    int GetStreamType(int nChannel) const;
    bool IsDigitalZoom(int nChannel) const;
    bool IsRecording(int nChannel) const;
    int GetWndChannel(int nWndIndex) const;
    int GetWndIndexByChannel(int nChannel) const;
    int GetCurWndIndex() const;
    int GetCurWndChannel() const;
    CPlayWindowManage *GetPlayWindowManage() const { return m_pPlayWindowManage; }

    // The grid, full screen and the login.
    int ChangeSplit(int nSplitIndex);
    void EnterFullScreenState();
    void ExitFullScreenState();
    void SetSkin(const QString &strSkin);
    // The login handle and the two device flags of the current login (the first: the device is an IPC).
    void SetDeviceInfo(int lLoginID, bool bFirstDevice, bool bSecondDevice);
    // "ClientCfg.ini" of the application directory, as the plug-in window reads it but without logging.
    void LoadClientCfg(LocalInfo &info);

    // Electronic PTZ of the current window's channel; false when refused.
    bool PTZElectOpen(int nChannel, int nWndIndex);
    bool PTZElectronicMove(int nChannel, int nDirection, int nStep);
    bool PTZElectZoomOut(int nChannel, int nStep);
    bool PTZElectZoomIn(int nChannel, int nStep);
    bool PTZElectPresent(int nChannel, int nCommand, int nPresetNo);
    bool PTZElectRedu(int nChannel);

    // The smart-rule overlay over channel 0.
    void SetSmartRuleInfo(const SmartRuleInfo &info);
    bool SetSmartRuleDraw();
    // Decode library thread of channel 0: the overlay on the picture about to be shown.
    void DrawSmartRule(int nStatus, HDC hDC, HWND hWnd);

    // Two-lens zoom of the current window: direction 0 up, 1 down, in steps of 0.1.
    void ScaleSwitch(int nDirection, int nStep);

signals:
    void curWndIndexSig(int nIndex);
    void changePTZELectPage();
    // GUI thread: the tile of the window now tracks a new source size.
    void videoSizeChange(int nIndex);
    // Data thread to GUI thread (queued): the channel's pictures have this size now.
    void pictureSizeSig(int nChannel, int nWidth, int nHeight);

public slots:
    void OnDigitalZoom(QPoint start, QPoint end, int nWndIndex);
    void OnQuitDigitalZoom(int nWndIndex);
    void OnQuitPTZElect(int nWndIndex);
    void slot_GetScaleTwoLensAbility(int nWndNo);
    void slot_SetScaleTwoLensTimes(float fTimes, int nWndNo);

private slots:
    void onPictureSize(int nChannel, int nWidth, int nHeight);

private:
    // Electronic PTZ of one channel: a display region on the 0..8192 scale and numbered presets.
    struct PTZElectInfo
    {
        int nEnabled = 0;
        RECT rect{0, 0, 8192, 8192};
        std::map<int, RECT> presets;
    };
    // What a data thread may reach of a channel; its lock is held for each block.
    struct LiveInput
    {
        std::mutex mutex;
        CDecodeChannel *pChannel = nullptr;
        bool bOpen = false;
    };
    // A tile's surface as the GUI thread last measured it, for the overlay.
    struct SurfaceSize
    {
        HWND hWnd = nullptr;
        int nWidth = 0;
        int nHeight = 0;
    };

    static bool IsIndex(int n) { return n >= 0 && n < 64; }
    // The channel's decode channel if it was made already (null otherwise, and outside 0..63).
    CDecodeChannel *ExistingChannel(int nChannel) const;
    // Whether data threads may hand blocks to the channel.
    void SetInputOpen(int nChannel, bool bOpen);
    bool GunBallDeivcePlayOriginal(int nChannel, int nWndIndex);
    // The two-sensor answer of the device for the channel.
    bool IsGunBallDevice(int nChannel);
    // Names of recordings and snapshots: "<folder>/<channel from 1, two digits>_<yyyyMMdd_hhmmss>.<ext>".
    static QString ChannelFileName(const char *pFolder, int nChannel, const QString &strExtension);
    // The decode channel of a PTZ step on the current window, or null (logged under the tag) when refused.
    CDecodeChannel *PTZStepChannel(int nChannel, const char *pTag);
    bool SetPTZRegion(CDecodeChannel *pChannel, const RECT &rect);
    // The channel's electronic PTZ back to off, the whole picture and no presets; true when it was not there
    // already, so that its port's region is to be reset too.
    bool ResetPTZElect(int nChannel);
    // A step's new rectangle, when it lies within the picture and is not empty.
    static bool PTZRectInPicture(int64_t nLeft, int64_t nTop, int64_t nRight, int64_t nBottom, RECT &rect);
    void StoreSurfaceSize(int nWndIndex);
    static void DrawSmartRuleCallBack(int32_t nStatus, void *pData, HWND hWnd, void *pUser);
    static void DrawArrow(HDC hDC, double x1, double y1, double x2, double y2, bool bLine);

    // GUI thread unless noted.
    std::array<std::unique_ptr<CDecodeChannel>, 64> m_pDecodeChannels;
    std::array<int, 64> m_nWndChannel;
    std::array<std::atomic<bool>, 64> m_bDigitalZoom;          // read by the overlay
    std::array<bool, 64> m_bRecording{};
    CPlayWindowManage *m_pPlayWindowManage = nullptr;
    LocalInfo m_stLocalInfo{};
    HeardChannel m_soundChannel;
    std::array<std::atomic<int>, 64> m_nPlayOriginalState;    // read by InputData and the overlay
    std::array<uint8_t, 64> m_nStreamType{};
    std::array<PTZElectInfo, 64> m_stPTZElect;
    int m_lLoginID = 0;
    float m_fTwoLensTimes = 0.0f;
    bool m_bFullScreen = false;
    bool m_bFirstDevice = false;
    bool m_bSecondDevice = false;
    std::unique_ptr<SmartRuleInfo> m_pSmartRuleInfo;         // under m_drawMutex
    // The last picture size in source-aspect display, {width, height} packed; written by the data thread that
    // detects a change and by PlayOriginal.
    std::array<std::atomic<uint64_t>, 64> m_nVideoSize;

    std::array<LiveInput, 64> m_liveInputs;
    std::mutex m_drawMutex;
    std::array<SurfaceSize, 64> m_surfaceSizes;                 // under m_drawMutex
    QHBoxLayout *m_pLayout = nullptr;
    std::unique_ptr<SurfaceSizeWatch> m_pSurfaceWatch;
};
