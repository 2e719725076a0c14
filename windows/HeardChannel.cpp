#include "windows/HeardChannel.h"

#include "device/CDecodeChannel.h"

int HeardChannel::Switch(int nIndex, bool bOn, const std::function<CDecodeChannel *(int)> &channelOf)
{
    CDecodeChannel *pChannel = channelOf(nIndex);
    if (!pChannel)
        return -1;
    int nRet = 0;
    if (bOn) {
        if (m_nIndex >= 0) {
            CDecodeChannel *pHeard = channelOf(m_nIndex);
            if (!pHeard)
                return -1;
            if (!pHeard->CloseSound())
                return -2;
            m_nIndex = -1;
        }
        nRet = pChannel->OpenSound();
        if (nRet)
            m_nIndex = nIndex;
    } else {
        nRet = pChannel->CloseSound();
        if (nRet && nIndex == m_nIndex)
            m_nIndex = -1;
    }
    return nRet ? 0 : -2;
}
