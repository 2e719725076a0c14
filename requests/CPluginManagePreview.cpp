// Live preview: the data callbacks that carry the device library's blocks into the pages' decode channels.

#include "requests/CPluginManage.h"

#include "device/CQZConnect.h"
#include "platform/korvex.h"
#include "windows/PlayWidget.h"

// The window exists from the login that opened a stream until the logout that has stopped it, so a data
// callback always finds it.

int32_t CPluginManage::RealDataCallBackV2(int32_t /*lRealHandle*/, const RealDataFrame *pFrame, void *pUser)
{
    if (!pFrame)
        return 1;
    const int nChannel = CQZConnect::UserChannel(pUser);
    PlayWidget::GetInstance()->PreviewInputData(nChannel, pFrame->pData, pFrame->nDataLength, pFrame);
    CPluginManage *pManage = Instance();
    if (pFrame->nKind == ZDK_FRAME_VIDEO && pManage) {
        const int nWidth = pFrame->nWidth;
        const int nHeight = pFrame->nHeight;
        emit pManage->returnToThisThreadSig(
            [pManage, nWidth, nHeight, nChannel] { pManage->onShowPTZElect(nWidth, nHeight, nChannel); });
    }
    return 1;
}

int32_t CPluginManage::RealDataCallBack(int32_t /*lHandle*/, int32_t /*nDataType*/, const unsigned char *pBuffer,
                                        uint32_t nBufSize, void *pUser)
{
    if (!pUser)
        return -1;
    PlayWidget::GetInstance()->ColorInputData(pBuffer, nBufSize);
    return 1;
}
