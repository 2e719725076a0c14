#include "tests/windows/LivePageSupport.h"

#include "device/CQZConnect.h"
#include "standin/windows/GuiThreadCheck.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CRealPlayWidget.h"
#include "windows/CVideoFrame.h"
#include "windows/CVideoWnd.h"

#include <QSettings>

namespace LiveTest {

std::string Device(const std::string &strExtra)
{
    return R"({"Devices": [{"Channels": 16, "Sub": {"Codec": "H.264", "Width": )" + std::to_string(kSubWidth) +
           R"(, "Height": )" + std::to_string(kSubHeight) + R"(, "FrameRate": 10}, "Main": {"Codec": "H.264", "Width": )" +
           std::to_string(kMainWidth) + R"(, "Height": )" + std::to_string(kMainHeight) +
           R"(, "FrameRate": 10}, "Audio": {"Codec": "None", "SampleRate": 8000})" + strExtra + "}]}";
}

int32_t ChannelFeed::OnFrame(int32_t, const RealDataFrame *pFrame, void *pUser)
{
    ChannelFeed *p = static_cast<ChannelFeed *>(pUser);
    if (std::this_thread::get_id() == p->guiThread)
        ++p->nOnGuiThread;
    if (p->pPage->InputData(p->nChannel, pFrame->pData, pFrame->nDataLength, pFrame) == 0)
        ++p->nTaken;
    else
        ++p->nDropped;
    if (pFrame->nKind == ZDK_FRAME_VIDEO)
        ++p->nVideo;
    return 1;
}

PageStreams::~PageStreams() { StopAll(); }

bool PageStreams::Start(int nChannel, int nStreamType)
{
    Stream &stream = m_streams[static_cast<size_t>(nChannel)];
    if (!stream.pFeed) {
        stream.pFeed = std::make_unique<ChannelFeed>();
        stream.pFeed->pPage = m_pPage;
        stream.pFeed->nChannel = nChannel;
        stream.pFeed->guiThread = std::this_thread::get_id();
    }
    stream.lPlay = CQZConnect::GetInstance()->ConnectChanel_V2(m_lLogin, nChannel, nStreamType, &ChannelFeed::OnFrame,
                                                               stream.pFeed.get());
    return stream.lPlay > 0;
}

void PageStreams::Stop(int nChannel)
{
    Stream &stream = m_streams[static_cast<size_t>(nChannel)];
    if (stream.lPlay > 0)
        CQZConnect::GetInstance()->DisconnectChannel_V2(stream.lPlay, &ChannelFeed::OnFrame, stream.pFeed.get());
    stream.lPlay = 0;
}

void PageStreams::StopAll()
{
    for (int i = 0; i < 64; ++i)
        Stop(i);
}

ChannelFeed &PageStreams::Feed(int nChannel) { return *m_streams[static_cast<size_t>(nChannel)].pFeed; }

bool ShowWithSurfaces(CRealPlayWidget &page, int nTiles, QSize surface)
{
    int nCols = 1;
    while ((nCols + 1) * (nCols + 1) <= nTiles)
        ++nCols;
    if (!page.GetPlayWindowManage()->SetSplit(nTiles))
        return false;
    // One pixel of ring around each surface.
    if (!GridTest::ShowAt(&page, nCols * (surface.width() + 2), nCols * (surface.height() + 2)))
        return false;
    return WaitUntil([&] {
        for (int i = 0; i < nTiles; ++i)
            if (page.GetPlayWindowManage()->GetVideoWnd(i)->GetVideoFrame()->size() != surface)
                return false;
        return true;
    });
}

} // namespace LiveTest

void LivePageFixture::SetUp()
{
    RecordFixture::SetUp();
    UseDevice("");
    GuiThreadCheck::Reset();
}

void LivePageFixture::UseDevice(const std::string &strExtra) { UseDevices(LiveTest::Device(strExtra)); }

void LivePageFixture::SetClientCfg(int nRecordType, int nImageType, int nVideoType)
{
    QSettings settings(AppDir() + "/ClientCfg.ini", QSettings::IniFormat);
    settings.setValue("Path/RecPath", RecordDir());
    settings.setValue("Path/CapPath", CaptureDir());
    settings.setValue("Info/RecordType", nRecordType);
    settings.setValue("Info/ImageType", nImageType);
    settings.setValue("Info/VideoType", nVideoType);
    settings.sync();
}

QString LivePageFixture::CaptureDir() const { return m_tempDir.filePath("captures"); }

int LivePageFixture::Login() { return LoginBuiltIn(); }
