#pragma once

// The plug-in window with its three real pages against the simulated device and decode library: an
// application directory of its own whose "ClientCfg.ini" names the test's folders, the window shown with its
// pages' tiles at the stream's size, local block files for the playback page, and the pages themselves (found
// as the window's children) for what the window does not tell.

#include "tests/support/RecordFixture.h"
#include "windows/PlayWidget.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

class CColorSetWidget;
class CPlaybackWidget;
class CPlayWindowManage;
class CRealPlayWidget;
class QWidget;

class PlayWidgetPagesFixture : public RecordFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    static PlayWidget *Window() { return PlayWidget::GetInstance(); }
    static CRealPlayWidget *Live();
    static CPlaybackWidget *Playback();
    static CColorSetWidget *Colour();
    static CPlayWindowManage *Grid(QWidget *pPage);

    // Shows the window so that a page of one tile has a surface of the stream's size; false when it does not
    // get that size.
    static bool ShowWindow();
    // A block file of the stream's size (nFrames pictures at 10 a second) to play as a local file, in the local
    // 8-bit encoding.
    QByteArray LocalFile(const QString &strName, int nFrames);
    QString CaptureDir() const;
    // A key of "ClientCfg.ini", which names the record and capture folders below with record type 0 at the
    // start of each test.
    void SetClientCfg(const QString &strKey, const QVariant &value);
};
