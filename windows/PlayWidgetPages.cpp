// The plug-in window's page operations: which page each request reaches, the play states in the host's codes,
// and the stream data entry points of the device library's threads.

#include "windows/PlayWidget.h"

#include "device/CDecodeChannel.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ResultCodes.h"
#include "windows/CColorSetWidget.h"
#include "windows/CPlaybackWidget.h"
#include "windows/CRealPlayWidget.h"
#include "windows/HostPlayState.h"
#include "windows/SmartRuleInfo.h"

namespace {

// GetCurWndChannel's kind for the page shown.
constexpr int kCurrentPageKind = 5;

bool IsPane(int nPane) { return nPane >= 0 && nPane < CPlaybackWidget::PANE_NUM; }

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Pages.

void PlayWidget::SetPageIndex(int nIndex)
{
    m_nCurPageIndex = nIndex;
    if (nIndex < PAGE_REALPLAY || nIndex > PAGE_COLORSET)
        return;
    LOGN(QString("m_nCurPageIndex = %1").arg(nIndex), "PlayWidget::SetPageIndex");
    QWidget *const pages[] = {m_pRealPlayWidget, m_pPlaybackWidget, m_pColorSetWidget};
    for (int i = PAGE_REALPLAY; i <= PAGE_COLORSET; ++i)
        if (i != nIndex)
            pages[i]->hide();
    pages[nIndex]->show();
}

int PlayWidget::ChangeSplit(int nSplitIndex)
{
    LOGN(QString("pageid=%1 mode=%2").arg(m_nCurPageIndex).arg(nSplitIndex), "PlayWidget::ChangeSplit");
    if (m_nCurPageIndex == PAGE_REALPLAY)
        return m_pRealPlayWidget->ChangeSplit(nSplitIndex);
    if (m_nCurPageIndex == PAGE_PLAYBACK)
        return m_pPlaybackWidget->ChangeSplit(nSplitIndex);
    return -1;
}

void PlayWidget::SetCurWndIndex(int nPane)
{
    if (m_nCurPageIndex != PAGE_PLAYBACK)
        return;
    // A pane the page does not have is not selected, nor reported as selected: the page hears which one is.
    if (IsPane(nPane))
        m_pPlaybackWidget->SetCurWndIndex(nPane);
    emit curWndIndexSig(PAGE_PLAYBACK, m_pPlaybackWidget->GetCurWndIndex());
}

int PlayWidget::GetCurWndIndex() const
{
    if (m_nCurPageIndex == PAGE_REALPLAY)
        return m_pRealPlayWidget->GetCurWndIndex();
    if (m_nCurPageIndex == PAGE_PLAYBACK)
        return m_pPlaybackWidget->GetCurWndIndex();
    return -1;
}

int PlayWidget::GetCurWndChannel(int nKind) const
{
    const int nPage = nKind == kCurrentPageKind ? m_nCurPageIndex : nKind;
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->GetCurWndChannel();
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->GetCurWndChannel();
    return -1;
}

int PlayWidget::GetWndChannel(int nPage, int nWndIndex) const
{
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->GetWndChannel(nWndIndex);
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->GetWndChannel(nWndIndex);
    return -1;
}

int PlayWidget::GetWndIndexByChannel(int nPage, int nChannel) const
{
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->GetWndIndexByChannel(nChannel);
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->GetWndIndexByChannel(nChannel);
    return -1;
}

// ---------------------------------------------------------------------------------------------------------
// Live page.

int PlayWidget::PreviewPlay(int nStreamType, int nChannel, int nWndIndex)
{
    return m_pRealPlayWidget->PreviewPlay(nStreamType, nChannel, nWndIndex);
}

int PlayWidget::CapturePreviewPlay(int nStreamType, int nChannel)
{
    return m_pRealPlayWidget->CapturePreviewPlay(nStreamType, nChannel);
}

int PlayWidget::PreviewStop(int nChannel)
{
    LOGN(QString("PlayWidget::PreviewStop Chn=%1").arg(nChannel), "PlayWidget::PreviewStop");
    return m_pRealPlayWidget->PreviewStop(nChannel);
}

int PlayWidget::Record(int nChannel, bool bOn, bool &bRecording)
{
    return m_pRealPlayWidget->Record(nChannel, bOn, bRecording);
}

bool PlayWidget::IsRecording(int nChannel) const
{
    return m_nCurPageIndex == PAGE_REALPLAY && m_pRealPlayWidget->IsRecording(nChannel);
}

int PlayWidget::GetStreamType(int nChannel) const { return m_pRealPlayWidget->GetStreamType(nChannel); }

int PlayWidget::PlayNormal(int nChannel) { return m_pRealPlayWidget->PlayNormal(nChannel); }

int PlayWidget::PlayOriginal(int nChannel) { return m_pRealPlayWidget->PlayOriginal(nChannel); }

int PlayWidget::PlayProportion(int nChannel, int nMode) { return m_pRealPlayWidget->PlayProportion(nChannel, nMode); }

int PlayWidget::GetPlayOriginalState(int nChannel) const
{
    return m_nCurPageIndex == PAGE_REALPLAY ? m_pRealPlayWidget->GetPlayOriginalState(nChannel) : 0;
}

int PlayWidget::GetColor(int nChannel, int &nBrightness, int &nContrast, int &nSaturation, int &nHue)
{
    return m_pRealPlayWidget->GetColor(nChannel, nBrightness, nContrast, nSaturation, nHue);
}

int PlayWidget::SetColor(int nType, int nValue) { return m_pRealPlayWidget->SetColor(nType, nValue); }

void PlayWidget::ScaleSwitch(int nDirection, int nStep) { m_pRealPlayWidget->ScaleSwitch(nDirection, nStep); }

void PlayWidget::SetDeviceInfo(int lLoginID, bool bFirstDevice, bool bSecondDevice)
{
    m_pRealPlayWidget->SetDeviceInfo(lLoginID, bFirstDevice, bSecondDevice);
}

void PlayWidget::SetSmartRule(int nOn, const SmartRuleInfo &info, int &nResult)
{
    m_pRealPlayWidget->SetSmartRuleInfo(info);
    if (nOn == 1 && !m_pRealPlayWidget->SetSmartRuleDraw())
        nResult = RET_FAIL;
}

bool PlayWidget::PTZElectOpen(int nChannel, int nWndIndex) { return m_pRealPlayWidget->PTZElectOpen(nChannel, nWndIndex); }

bool PlayWidget::PTZElectPresent(int nChannel, int nCommand, int nPresetNo)
{
    return m_pRealPlayWidget->PTZElectPresent(nChannel, nCommand, nPresetNo);
}

bool PlayWidget::PTZElectRedu(int nChannel) { return m_pRealPlayWidget->PTZElectRedu(nChannel); }

bool PlayWidget::PTZElectZoomIn(int nChannel, int nStep) { return m_pRealPlayWidget->PTZElectZoomIn(nChannel, nStep); }

bool PlayWidget::PTZElectZoomOut(int nChannel, int nStep) { return m_pRealPlayWidget->PTZElectZoomOut(nChannel, nStep); }

bool PlayWidget::PTZElectronicMove(int nChannel, int nDirection, int nStep)
{
    return m_pRealPlayWidget->PTZElectronicMove(nChannel, nDirection, nStep);
}

// ---------------------------------------------------------------------------------------------------------
// Playback page.

void PlayWidget::SetPlaybackWndChannel(int nChannel, int nPane)
{
    if (m_nCurPageIndex == PAGE_PLAYBACK)
        m_pPlaybackWidget->SetPaneChannel(nChannel, nPane);
}

int PlayWidget::PlaybackStart(int nOpenMode, int /*nUnused*/, int nPane)
{
    return m_pPlaybackWidget ? m_pPlaybackWidget->PlaybackStart(nOpenMode, nPane) : -1;
}

int PlayWidget::PlaybackStop(int nPane) { return m_pPlaybackWidget->ClosePane(nPane); }

int PlayWidget::PlaybackControl(int nPane, int nState) { return m_pPlaybackWidget->PlaybackControl(nPane, nState); }

int PlayWidget::SetPlayPos(int nPane, double dPos) { return m_pPlaybackWidget->SetPlayPos(nPane, dPos); }

float PlayWidget::GetPlayPos(int nPane) { return m_pPlaybackWidget->GetPlayPos(nPane); }

int PlayWidget::GetPlaybackSeekTime(int nPane, int nPerMille) { return m_pPlaybackWidget->GetSeekTime(nPane, nPerMille); }

int PlayWidget::SetPlaybackTime(int nPane, const char *pBeginTime, const char *pEndTime)
{
    return m_pPlaybackWidget->SetPlaybackTime(nPane, pBeginTime, pEndTime);
}

void PlayWidget::SetPlaybackMode(int nMode) { m_pPlaybackWidget->SetMode(nMode); }

int PlayWidget::PlaybackRecord(int nPane, int /*nUnused*/, bool bOn)
{
    LoadLocalInfo(m_stLocalInfo);
    return m_pPlaybackWidget->Record(nPane, m_stLocalInfo.RecordType, bOn,
                                     QString::fromLocal8Bit(m_stLocalInfo.RecPath));
}

bool PlayWidget::IsPlaybackRecording(int nPane) const { return m_pPlaybackWidget->IsRecording(nPane); }

bool PlayWidget::GetPlaybackWndStatus(int nPane, bool &bRecord, bool &bZoom, bool &bSound) const
{
    bRecord = m_pPlaybackWidget->IsRecording(nPane);
    bZoom = m_pPlaybackWidget->IsDigitalZoom(nPane);
    bSound = m_pPlaybackWidget->IsSoundOpen(nPane);
    return bSound;
}

int PlayWidget::PlaybackDigitalZoom() { return m_pPlaybackWidget->DigitalZoom(); }

void PlayWidget::GetPlaybackBufferValue(int nPane, int &nYuvVal, int &nBufVal)
{
    m_pPlaybackWidget->GetBufferValue(nPane, nYuvVal, nBufVal);
}

bool PlayWidget::IsPlaybackBufferEmpty(int nPane) { return m_pPlaybackWidget->IsBufferEmpty(nPane); }

int PlayWidget::BeginLocalPlay(int nPane, const char *pFilePath, KTN_fFileEndCallBack cbFileEnd, void *pUser)
{
    return m_pPlaybackWidget->BeginLocalPlay(nPane, pFilePath, cbFileEnd, pUser);
}

void PlayWidget::SetBackgroundPic(const QString &strPath)
{
    if (m_pPlaybackWidget)
        m_pPlaybackWidget->SetBackgroundPic(strPath);
}

// ---------------------------------------------------------------------------------------------------------
// Colour page.

int PlayWidget::ColorPreviewStart(int nStreamType) { return m_pColorSetWidget->PreviewStart(nStreamType); }

int PlayWidget::ColorPreviewStop() { return m_pColorSetWidget->PreviewStop(); }

// ---------------------------------------------------------------------------------------------------------
// Operations with a page argument.

int PlayWidget::GetPlayState(int nKind, int nIndex) const
{
    int nState = 0;
    if (nKind == PAGE_REALPLAY)
        nState = m_pRealPlayWidget->GetPlayState(nIndex);
    else if (nKind == PAGE_PLAYBACK)
        nState = m_pPlaybackWidget->GetPlayState(nIndex);
    else if (nKind == PAGE_COLORSET)
        nState = m_pColorSetWidget->GetPlayState();
    else
        return 0;
    // Any other value is passed on as it stands.
    return HostPlayState(nState, nState);
}

bool PlayWidget::IsDigitalZoom(int nPage, int nIndex) const
{
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->IsDigitalZoom(nIndex);
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->IsDigitalZoom(nIndex);
    return false;
}

bool PlayWidget::IsSoundOpen(int nPage, int nIndex) const
{
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->IsSoundOpen(nIndex);
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->IsSoundOpen(nIndex);
    return false;
}

int PlayWidget::OpenSound(int nPage, int nIndex, bool bOn)
{
    if (nPage == PAGE_REALPLAY)
        return m_pRealPlayWidget->OpenSound(nIndex, bOn);
    if (nPage == PAGE_PLAYBACK)
        return m_pPlaybackWidget->OpenSound(nIndex, bOn);
    return -1;
}

// ---------------------------------------------------------------------------------------------------------
// Pictures, files and skin.

int PlayWidget::Snapshot(int nWndIndex, bool bConfig)
{
    if (bConfig)
        return m_pRealPlayWidget->Snapshot(nWndIndex, true);
    if (m_nCurPageIndex == PAGE_REALPLAY)
        return m_pRealPlayWidget->Snapshot(nWndIndex, false);
    if (m_nCurPageIndex == PAGE_PLAYBACK) {
        LoadLocalInfo(m_stLocalInfo);
        return m_pPlaybackWidget->Snapshot(nWndIndex, QString::fromLocal8Bit(m_stLocalInfo.CapPath));
    }
    return -1;
}

bool PlayWidget::ChangeFileFormat(const QString &strSource, const QString &strTarget, int nType,
                                  KTN_fConvertProgressCallBack cbProgress, void *pUser)
{
    return CDecodeChannel::ChangeFileFormat(strSource, strTarget, nType, cbProgress, pUser);
}

void PlayWidget::SetSkin(const QString &strSkin)
{
    m_pPlaybackWidget->SetSkin(strSkin);
    m_pRealPlayWidget->SetSkin(strSkin);
}

// ---------------------------------------------------------------------------------------------------------
// Stream data, on the device library's threads: nothing here may touch a widget or make anything.

int PlayWidget::PreviewInputData(int nChannel, const unsigned char *pData, uint32_t nLength, const RealDataFrame *pFrame)
{
    return m_pRealPlayWidget->InputData(nChannel, pData, nLength, pFrame);
}

int PlayWidget::PlaybackInputData(int nPane, const unsigned char *pData, uint32_t nLength)
{
    return m_pPlaybackWidget->InputData(nPane, pData, nLength);
}

int PlayWidget::ColorInputData(const unsigned char *pData, uint32_t nLength)
{
    return m_pColorSetWidget->InputData(pData, nLength);
}
