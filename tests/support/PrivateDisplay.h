#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

class HostedPlugin;
class QProcess;

// A virtual X server of a test's own (Xvfb, on a display number it picks itself), for the program to run on the
// xcb platform with real windows, and grabs of what its screen shows (ffmpeg's x11grab): the pixels a user
// would see, tile by tile.
//
//   PrivateDisplay display;
//   if (!display.Started()) GTEST_SKIP() << display.Why();
//   display.Use(plugin);                                  // before plugin.Start()
//   ... the window shown by request, its place read from the log (WindowPlace) ...
//   const std::vector<QImage> frames = display.Grab(rect, 25, 25);  // one second of pictures
class PrivateDisplay
{
public:
    // Starts the server; Started() is false, and Why() says why, when it cannot be.
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    bool Started() const { return !m_strName.isEmpty(); }
    QString Why() const { return m_strWhy; }
    // ":N".
    QString Name() const { return m_strName; }

    // Puts the program on this display (DISPLAY, the xcb platform, no OpenGL).
    void Use(HostedPlugin &plugin) const;

    // nFrames pictures of the rectangle of the screen, nPerSecond a second as the grabber paces them; empty when
    // the grab failed.
    std::vector<QImage> Grab(const QRect &rect, int nFrames, int nPerSecond) const;

    // Where the plug-in window lies on the screen, from the last place it logged ("nLeft:..,nTop:..,Width:..,
    // Height:..") in the program's output; null when it logged none.
    static QRect WindowPlace(const QByteArray &output);

private:
    std::unique_ptr<QProcess> m_pServer;
    QString m_strName;
    QString m_strWhy;
};
