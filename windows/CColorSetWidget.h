#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include <QWidget>

class CDecodeChannel;
class CVideoFrame;
class QHBoxLayout;

// Page 2 of the plug-in window: one video surface and one decode channel on port 320 that shows a second live
// stream while the user adjusts colours. Every operation runs on the GUI thread but InputData, which the device
// library's data thread calls; the channel it reaches is published under a lock, so that a new start or the
// page's end never pulls a channel from under it.
class CColorSetWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CColorSetWidget(QWidget *parent = nullptr);
    ~CColorSetWidget() override;

    // 0 when the port opened and plays, -1 when no channel could be made, -2 when the library refused.
    int PreviewStart(int nStreamType);
    // -1 without a channel; else the port is stopped and closed, and 0.
    int PreviewStop();
    // Any thread: one block of the stream. -1 without a channel, else 0.
    int InputData(const unsigned char *pData, uint32_t nLength);
    // The channel's play state, -1 without one.
    int GetPlayState() const;

    CVideoFrame *GetVideoFrame() const { return m_pVideoFrame; }

private:
    // Stops and closes the port of a channel taken out of the page.
    static void ClosePort(CDecodeChannel &channel);

    std::unique_ptr<CDecodeChannel> m_pDecodeChannel;
    CVideoFrame *m_pVideoFrame = nullptr;
    QHBoxLayout *m_pLayout = nullptr;
    // Guards m_pDecodeChannel between the GUI thread, which replaces it, and InputData.
    mutable std::mutex m_channelMutex;
};
