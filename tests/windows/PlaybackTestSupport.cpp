#include "tests/windows/PlaybackTestSupport.h"

#include "device/CQZConnect.h"
#include "runtime/FixedText.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CVideoFrame.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CVideoWnd.h"

#include <QDateTime>
#include <QImage>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace PlaybackTest {

void PlaybackFixture::SetUp()
{
    RecordFixture::SetUp();
    UseDevices(GridTest::SmallSubStreamDevice());
}

bool ShowPage(CPlaybackWidget &page, int nPanes)
{
    page.ChangeSplit(nPanes == 4 ? 1 : 0);
    const int nCols = nPanes == 4 ? 2 : 1;
    // One pixel of ring around each surface.
    return GridTest::ShowAt(&page, nCols * (GridTest::kStreamWidth + 2), nCols * (GridTest::kStreamHeight + 2));
}

QImage GrabPane(CPlaybackWidget &page, int nPane)
{
    const CPlayWindowManage *pGrid = page.findChild<CPlayWindowManage *>();
    return GridTest::Grab(pGrid->GetVideoWnd(nPane)->GetVideoFrame());
}

std::set<int> JournalPorts(const std::vector<std::string> &lines)
{
    std::set<int> ports;
    for (const std::string &strLine : lines) {
        std::istringstream words(strLine);
        std::string strName, strPort;
        words >> strName >> strPort;
        char *pEnd = nullptr;
        const long nPort = std::strtol(strPort.c_str(), &pEnd, 10);
        if (!strPort.empty() && pEnd && *pEnd == '\0')
            ports.insert(static_cast<int>(nPort));
    }
    return ports;
}

std::vector<std::string> Calls(const std::string &strName) { return PavlineControl::JournalOf(strName); }

int32_t PaneFeed::OnData(int32_t, int32_t, const unsigned char *pData, uint32_t nSize, void *pUser)
{
    PaneFeed *p = static_cast<PaneFeed *>(pUser);
    if (std::this_thread::get_id() == p->guiThread)
        p->bOnGuiThread = true;
    const int nRet = p->pPage->InputData(p->record.Pane, pData, nSize);
    if (nRet)
        ++p->nTaken;
    return nRet;
}

void PaneFeed::OnPos(int32_t, int32_t, int32_t, void *) {}

DevicePanes::~DevicePanes() { StopAll(); }

bool DevicePanes::Start(int nPane, int nChannel, const char *pBegin, int nSeconds)
{
    QDateTime begin = QDateTime::fromString(pBegin, "yyyy-MM-dd hh:mm:ss");
    begin.setTimeSpec(Qt::UTC);
    const QByteArray baEnd = begin.addSecs(nSeconds).toString("yyyy-MM-dd hh:mm:ss").toLatin1();
    m_panes.emplace_back();
    Pane &pane = m_panes.back();
    pane.nPane = nPane;
    pane.pFeed = std::make_unique<PaneFeed>();
    pane.pFeed->pPage = &m_page;
    pane.pFeed->record = PlayUserRecord{nChannel, nPane, 0, 0};
    // As the playback request: the pane plays first, then the device is asked for the recording.
    if (m_page.PlaybackStart(1, nPane) != 0)
        return false;
    m_page.SetPaneChannel(nChannel, nPane);
    m_page.SetPlaybackTime(nPane, pBegin, baEnd.constData());
    PlaybackFileEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.Channel = nChannel;
    entry.Stream = 1;
    FixedText::Copy(entry.BeginTime, QByteArray(pBegin));
    FixedText::Copy(entry.EndTime, baEnd);
    entry.Wnd = nPane;
    int nError = 0;
    // The feed's first member is the pane's record, the user value the requests give.
    pane.lPlay = CQZConnect::GetInstance()->BeginPlayback(m_lLogin, nChannel, 2, entry, &PaneFeed::OnData,
                                                          &PaneFeed::OnPos, pane.pFeed.get(), nError);
    return pane.lPlay > 0;
}

int DevicePanes::Handle(int nPane) const
{
    for (const Pane &pane : m_panes)
        if (pane.nPane == nPane)
            return pane.lPlay;
    return 0;
}

PaneFeed *DevicePanes::Feed(int nPane) const
{
    for (const Pane &pane : m_panes)
        if (pane.nPane == nPane)
            return pane.pFeed.get();
    return nullptr;
}

void DevicePanes::StopAll()
{
    for (Pane &pane : m_panes)
        if (pane.lPlay > 0)
            CQZConnect::GetInstance()->EndPlayback(pane.lPlay);
    for (Pane &pane : m_panes)
        m_page.ClosePane(pane.nPane);
    m_panes.clear();
}

int64_t ShownMs(int nPort) { return PavlineControl::Stats(nPort).nLastShownMs; }

int64_t DeviceSeconds(const char *pText)
{
    QDateTime time = QDateTime::fromString(pText, "yyyy-MM-dd hh:mm:ss");
    time.setTimeSpec(Qt::UTC);
    return time.toSecsSinceEpoch();
}

} // namespace PlaybackTest
