#include "tests/support/PrivateDisplay.h"

#include "tests/support/HostedPlugin.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// A bound for a server or a grabber that never answers, not a pause.
constexpr int kStartMs = 30000;
constexpr int kGrabSlackMs = 60000;
const char *const kScreen = "1600x1000x24";

} // namespace

PrivateDisplay::PrivateDisplay()
{
    const QString strServer = QStandardPaths::findExecutable("Xvfb");
    if (strServer.isEmpty()) {
        m_strWhy = "Xvfb is not installed (package xvfb)";
        return;
    }
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) {
        m_strWhy = "ffmpeg is not installed";
        return;
    }
    m_pServer = std::make_unique<QProcess>();
    // The server writes the display it took to the descriptor given: its standard output here.
    m_pServer->setProcessChannelMode(QProcess::SeparateChannels);
    m_pServer->setStandardErrorFile(QProcess::nullDevice());
    m_pServer->start(strServer, {"-displayfd", "1", "-screen", "0", kScreen, "-nolisten", "tcp"});
    if (!m_pServer->waitForStarted(kStartMs)) {
        m_strWhy = "Xvfb did not start";
        return;
    }
    QByteArray line;
    while (!line.contains('\n') && m_pServer->waitForReadyRead(kStartMs))
        line += m_pServer->readAllStandardOutput();
    bool bOk = false;
    const int nDisplay = line.trimmed().toInt(&bOk);
    if (!bOk) {
        m_strWhy = "Xvfb named no display";
        return;
    }
    m_strName = QString(":%1").arg(nDisplay);
}

PrivateDisplay::~PrivateDisplay()
{
    if (m_pServer && m_pServer->state() != QProcess::NotRunning) {
        m_pServer->terminate();
        if (!m_pServer->waitForFinished(kStartMs))
            m_pServer->kill();
        m_pServer->waitForFinished(kStartMs);
    }
}

void PrivateDisplay::Use(HostedPlugin &plugin) const
{
    plugin.SetEnv("DISPLAY", m_strName);
    plugin.SetEnv("QT_QPA_PLATFORM", "xcb");
    plugin.SetEnv("QT_XCB_GL_INTEGRATION", "none");
}

std::vector<QImage> PrivateDisplay::Grab(const QRect &rect, int nFrames, int nPerSecond) const
{
    std::vector<QImage> frames;
    QTemporaryDir dir;
    if (!Started() || !dir.isValid() || rect.isEmpty() || nFrames < 1 || nPerSecond < 1)
        return frames;
    QProcess grabber;
    grabber.setProcessChannelMode(QProcess::MergedChannels);
    grabber.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                             "-framerate", QString::number(nPerSecond), "-video_size",
                             QString("%1x%2").arg(rect.width()).arg(rect.height()), "-i",
                             QString("%1+%2,%3").arg(m_strName).arg(rect.left()).arg(rect.top()), "-frames:v",
                             QString::number(nFrames), "-y", dir.filePath("f%04d.png")});
    if (!grabber.waitForFinished(nFrames * 1000 / nPerSecond + kGrabSlackMs) ||
        grabber.exitStatus() != QProcess::NormalExit || grabber.exitCode() != 0)
        return frames;
    for (const QString &strName : QDir(dir.path()).entryList({"f*.png"}, QDir::Files, QDir::Name))
        frames.push_back(QImage(dir.filePath(strName)).convertToFormat(QImage::Format_RGB32));
    return frames;
}

QRect PrivateDisplay::WindowPlace(const QByteArray &output)
{
    static const QRegularExpression place("nLeft:(-?\\d+),nTop:(-?\\d+),Width:(\\d+),Height:(\\d+)");
    QRect rect;
    QRegularExpressionMatchIterator it = place.globalMatch(QString::fromUtf8(output));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        rect = QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                     match.captured(4).toInt());
    }
    return rect;
}
