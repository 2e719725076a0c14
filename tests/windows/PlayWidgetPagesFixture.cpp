#include "tests/windows/PlayWidgetPagesFixture.h"

#include "standin/windows/BrowserControl.h"
#include "tests/windows/GridTestSupport.h"
#include "windows/CColorSetWidget.h"
#include "windows/CPlayWindowManage.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CRealPlayWidget.h"

#include <QSettings>

void PlayWidgetPagesFixture::SetUp()
{
    RecordFixture::SetUp();
    UseDevices(GridTest::SmallSubStreamDevice());
    BrowserControl::Reset();
    SetClientCfg("Path/RecPath", RecordDir());
    SetClientCfg("Path/CapPath", CaptureDir());
    SetClientCfg("Info/RecordType", 0);
}

void PlayWidgetPagesFixture::SetClientCfg(const QString &strKey, const QVariant &value)
{
    QSettings settings(AppDir() + "/ClientCfg.ini", QSettings::IniFormat);
    settings.setValue(strKey, value);
    settings.sync();
}

void PlayWidgetPagesFixture::TearDown()
{
    // The pages stop and close their ports before the decode library is checked for threads left.
    PlayWidget::DestroyInstance();
    RecordFixture::TearDown();
    BrowserControl::Reset();
}

CRealPlayWidget *PlayWidgetPagesFixture::Live() { return Window()->findChild<CRealPlayWidget *>(); }

CPlaybackWidget *PlayWidgetPagesFixture::Playback() { return Window()->findChild<CPlaybackWidget *>(); }

CColorSetWidget *PlayWidgetPagesFixture::Colour() { return Window()->findChild<CColorSetWidget *>(); }

CPlayWindowManage *PlayWidgetPagesFixture::Grid(QWidget *pPage) { return pPage->findChild<CPlayWindowManage *>(); }

bool PlayWidgetPagesFixture::ShowWindow()
{
    // One pixel of ring around a single tile's surface.
    return GridTest::ShowAt(Window(), GridTest::kStreamWidth + 2, GridTest::kStreamHeight + 2);
}

QByteArray PlayWidgetPagesFixture::LocalFile(const QString &strName, int nFrames)
{
    const std::string strPath = TempPath(strName).toStdString();
    auto loop = PavlineTest::PatternLoop(2, GridTest::kStreamWidth, GridTest::kStreamHeight, 10);
    EXPECT_TRUE(PavlineTest::WriteFile(strPath, PavlineTest::Join(PavlineTest::Blocks(*loop, nFrames, 1700000000000LL))));
    return QByteArray::fromStdString(strPath);
}

QString PlayWidgetPagesFixture::CaptureDir() const { return m_tempDir.filePath("captures"); }
