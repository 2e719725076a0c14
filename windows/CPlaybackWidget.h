#pragma once

#include "platform/pavline.h"
#include "windows/HeardChannel.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class CDecodeChannel;
class CPlayWindowManage;
class QByteArray;
class QHBoxLayout;

// Page 1 of the plug-in window: a grid of 1 or 4 panes that play recordings of the device or local files. Each
// pane has two decode channels, one per mode (device playback on port 64 + pane, local files on port 128 +
// pane), made on first use and kept until the page goes; the mode decides which one every operation reaches,
// so a pane is closed in the mode it was opened in.
//
// Every operation runs on the GUI thread but InputData, which the device library's playback data threads call;
// it reaches only a channel made already, found under the pane's lock, so that the page's end never takes a
// channel from under it. Results: 0 success, -1 no such pane or no decode channel, -2 the decode library
// refused, where a member does not say otherwise.
class CPlaybackWidget : public QWidget
{
    Q_OBJECT
public:
    // Modes: 0 local files; any other value plays recordings of the device (the requests pass 1, or 2 for
    // playback by time in four panes).
    enum PlaybackMode : int { MODE_LOCAL_FILE = 0, MODE_DEVICE = 1 };
    static constexpr int PANE_NUM = 4;

    explicit CPlaybackWidget(QWidget *parent = nullptr);
    ~CPlaybackWidget() override;

    // The pane's channel of the current mode, made on first use; null for a pane outside 0..3 (or when none
    // could be made).
    CDecodeChannel *GetDecodeChannel(int nPane);
    // Only changes which channel of each pane the following operations reach; pane 0 becomes current.
    void SetMode(int nMode);
    // Split 1 shows 4 panes, any other value 1 pane. Returns 0.
    int ChangeSplit(int nSplit);

    // The device channel a pane shows: -1 none.
    void SetPaneChannel(int nChannel, int nPane);
    int GetWndChannel(int nPane) const;
    // The lowest pane showing the channel, -1 when none does.
    int GetWndIndexByChannel(int nChannel) const;
    int GetCurWndIndex() const;
    int GetCurWndChannel() const;
    void SetCurWndIndex(int nPane);

    // Starts a pane playing (pane -1: the current one). Device mode opens the stream with the open mode
    // first. 0 playing, -1 no channel or the stream did not open, -2 the library would not play.
    int PlaybackStart(int nOpenMode, int nPane);
    // Opens a local file (local 8-bit path) on the pane's channel with its end callback, which runs on a thread
    // of the decode library. 1 opened, 0 not.
    int BeginLocalPlay(int nPane, const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser);
    // Ends the pane's clip and sound, zoom and play, and closes its port.
    int ClosePane(int nPane);
    // Any thread: one block of the pane's playback stream. The channel's result; 0 (dropped) for a pane outside
    // 0..3 or one whose channel has not been made.
    int InputData(int nPane, const unsigned char *pData, uint32_t nLength);

    // The channel's play state after the change to the code; -1 without a channel.
    int PlaybackControl(int nPane, int nState);
    // Position of a local file, 0.0 - 1.0; 0 without a channel.
    int SetPlayPos(int nPane, double dPos);
    // The recording's span, "yyyy-MM-dd hh:mm:ss" texts; 0 without a channel.
    int SetPlaybackTime(int nPane, const char *pBeginTime, const char *pEndTime);
    // Seconds from the begin time at a position in thousandths of the span; 0 without a channel.
    int GetSeekTime(int nPane, int nPerMille);
    // Device mode: (shown - begin) / (end - begin); local files: the file's position; 0 without a channel.
    float GetPlayPos(int nPane);
    int GetPlayState(int nPane);
    // Decoded pictures waiting and bytes of blocks not yet decoded; both untouched without a channel.
    void GetBufferValue(int nPane, int &nYuvVal, int &nBufVal);
    // Empties the port's buffers; true when the port took it (false without a channel).
    bool IsBufferEmpty(int nPane);

    bool IsRecording(int nPane) const;
    bool IsDigitalZoom(int nPane) const;
    bool IsSoundOpen(int nPane) const;
    // The sound of one pane at a time: switching it on closes the pane heard before.
    int OpenSound(int nPane, bool bOn);
    // Switches the current pane's digital zoom: on arms rectangle selection, off ends selection and region.
    // -1 when the pane does not play.
    int DigitalZoom();

    // A BMP picture of the pane in the folder: "NN_yyyyMMdd_hhmmss.bmp" (NN the pane's channel + 1) or
    // "Local_yyyyMMdd_hhmmss.bmp". -2 when it cannot be taken or its name is too long.
    int Snapshot(int nPane, const QString &strFolder);
    // Starts (record type 2 ".avi", 0 ".h265x") or stops a clip of the pane, named as the snapshots are.
    // The channel's result: non-zero done; 0 when the pane records already, when nothing ran, for another record
    // type, and for a name too long.
    int Record(int nPane, int nRecordType, bool bOn, const QString &strFolder);

    void SetBackgroundPic(const QString &strPath);
    void SetSkin(const QString &strSkin);

signals:
    void curWndIndexSig(int nIndex);

public slots:
    void OnDigitalZoom(QPoint start, QPoint end, int nWndIndex);
    void OnQuitDigitalZoom(int nWndIndex);

private:
    static bool IsPane(int nPane) { return nPane >= 0 && nPane < PANE_NUM; }
    bool IsDeviceMode() const { return m_nMode.load() != MODE_LOCAL_FILE; }
    // The table of the current mode.
    std::array<std::unique_ptr<CDecodeChannel>, PANE_NUM> &Channels();
    // The path of a pane's snapshot or clip in the local 8-bit encoding; empty when it does not fit the
    // 260-byte name buffer.
    QByteArray PaneFilePath(int nPane, const QString &strFolder, const char *pExtension) const;

    CPlayWindowManage *m_pPlayWindowManage = nullptr;
    QHBoxLayout *m_pLayout = nullptr;
    // Written on the GUI thread under the pane's lock, read by InputData under it.
    std::array<std::unique_ptr<CDecodeChannel>, PANE_NUM> m_pPlaybackChannels;
    std::array<std::unique_ptr<CDecodeChannel>, PANE_NUM> m_pLocalChannels;
    std::array<std::mutex, PANE_NUM> m_channelMutexes;
    std::array<int, PANE_NUM> m_nPaneChannels{{-1, -1, -1, -1}};
    std::array<bool, PANE_NUM> m_bDigitalZoom{};
    std::array<bool, PANE_NUM> m_bRecording{};
    HeardChannel m_soundPane;
    // Read by InputData on the data threads.
    std::atomic<int> m_nMode{MODE_LOCAL_FILE};
};
