#include "tests/support/KorvexFixture.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <cstring>

void KorvexFixture::SetUp()
{
    ASSERT_TRUE(m_tempDir.isValid());
    unsetenv("KORVEX_DEVICES");
    KorvexControl::Reset();
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
}

void KorvexFixture::TearDown()
{
    m_bClockHeld = false;
    EXPECT_NE(ZDK_DEV_Cleanup(), 0);
    EXPECT_EQ(KorvexControl::RunningThreads(), 0);
    KorvexControl::Reset();
    unsetenv("KORVEX_DEVICES");
}

void KorvexFixture::UseDevices(const std::string &strJson)
{
    const QString strPath = TempPath("devices.json");
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(strJson.data(), static_cast<qint64>(strJson.size()));
    file.close();
    setenv("KORVEX_DEVICES", strPath.toLocal8Bit().constData(), 1);
    ASSERT_NE(ZDK_DEV_Cleanup(), 0);
    ASSERT_NE(ZDK_DEV_Init(nullptr, nullptr), 0);
}

void KorvexFixture::HoldClock()
{
    m_bClockHeld = true;
    KorvexControl::HoldClock();
    EXPECT_TRUE(KorvexControl::WaitForIdle()) << "a library thread stayed busy";
}

void KorvexFixture::RunLibraryFor(int nMilliseconds, int nStepMs)
{
    const bool bLetGo = !m_bClockHeld;
    if (bLetGo) {
        KorvexControl::HoldClock();
        EXPECT_TRUE(KorvexControl::WaitForIdle()) << "a library thread stayed busy";
    }
    for (int nRun = 0; nRun < nMilliseconds; nRun += nStepMs) {
        KorvexControl::AdvanceClock(std::min(nStepMs, nMilliseconds - nRun));
        EXPECT_TRUE(KorvexControl::WaitForIdle()) << "a library thread stayed busy";
    }
    if (bLetGo)
        KorvexControl::ReleaseClock();
}

int32_t KorvexFixture::LoginBuiltIn() { return LoginAt("127.0.0.1", 34567); }

int32_t KorvexFixture::LoginAt(const std::string &strIP, int nPort, const std::string &strUser,
                               const std::string &strPassword)
{
    NetDeviceInfo info{};
    int32_t nError = 0;
    const int32_t lLogin = ZDK_DEV_Login(strIP.c_str(), nPort, strUser.c_str(), strPassword.c_str(), &info, &nError,
                                         ZDK_CONNECT_ADDRESS);
    EXPECT_GT(lLogin, 0) << "login error " << nError;
    return lLogin;
}

int32_t BlockSink::Take(Block &&block)
{
    int nRefuse = m_nRefuse.load();
    while (nRefuse > 0 && !m_nRefuse.compare_exchange_weak(nRefuse, nRefuse - 1)) {
    }
    if (nRefuse > 0) {
        ++m_nRefused;
        return 0;
    }
    block.thread = std::this_thread::get_id();
    block.at = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocks.push_back(std::move(block));
        ++m_nTotal;
        const size_t nKeep = m_nKeep.load();
        if (nKeep > 0 && m_blocks.size() > 2 * nKeep)
            m_blocks.erase(m_blocks.begin(), m_blocks.end() - static_cast<std::ptrdiff_t>(nKeep));
    }
    m_cv.notify_all();
    return 1;
}

int32_t OpenLiveStream(int32_t lLogin, int nChannel, int nStream)
{
    ZDK_ClientInfo client{};
    client.nChannel = nChannel;
    client.nStreamType = nStream;
    return ZDK_DEV_RealPlay(lLogin, &client, nullptr);
}

int32_t BlockSink::OnData(int32_t lHandle, int32_t nType, const unsigned char *pData, uint32_t nSize, void *pUser)
{
    Block block;
    block.nHandle = lHandle;
    block.nType = nType;
    block.data.assign(pData, pData + nSize);
    return static_cast<BlockSink *>(pUser)->Take(std::move(block));
}

int32_t BlockSink::OnFrame(int32_t lHandle, const RealDataFrame *pFrame, void *pUser)
{
    Block block;
    block.nHandle = lHandle;
    block.nType = pFrame->nKind;
    block.data.assign(pFrame->pData, pFrame->pData + pFrame->nDataLength);
    block.bHasFrame = true;
    block.frame = *pFrame;
    block.frame.pData = nullptr;
    return static_cast<BlockSink *>(pUser)->Take(std::move(block));
}

void BlockSink::OnPos(int32_t lHandle, int32_t nTotal, int32_t nPos, void *pUser)
{
    BlockSink *pSink = static_cast<BlockSink *>(pUser);
    {
        std::lock_guard<std::mutex> lock(pSink->m_mutex);
        pSink->m_positions.push_back(Position{lHandle, nTotal, nPos});
    }
    pSink->m_cv.notify_all();
}

size_t BlockSink::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nTotal;
}

std::vector<BlockSink::Block> BlockSink::Blocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks;
}

std::vector<BlockSink::Position> BlockSink::Positions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_positions;
}

bool BlockSink::WaitForBlocks(size_t nCount, int nTimeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_nTotal >= nCount; });
}

bool BlockSink::WaitForPositions(size_t nCount, int nTimeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_positions.size() >= nCount; });
}

void BlockSink::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks.clear();
    m_positions.clear();
    m_nTotal = 0;
}

struct AvTestDecoder::Impl
{
    AVCodecContext *pContext = nullptr;
    AVPacket *pPacket = nullptr;
    AVFrame *pFrame = nullptr;
    ~Impl()
    {
        avcodec_free_context(&pContext);
        av_packet_free(&pPacket);
        av_frame_free(&pFrame);
    }
};

AvTestDecoder::AvTestDecoder(bool bH265)
    : m_pImpl(std::make_unique<Impl>())
{
    const AVCodec *pCodec = avcodec_find_decoder(bH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    m_pImpl->pContext = avcodec_alloc_context3(pCodec);
    m_pImpl->pContext->thread_count = 1;
    // A corrupt picture is an error here, not something to conceal.
    m_pImpl->pContext->err_recognition = AV_EF_EXPLODE | AV_EF_CRCCHECK | AV_EF_BITSTREAM;
    avcodec_open2(m_pImpl->pContext, pCodec, nullptr);
    m_pImpl->pPacket = av_packet_alloc();
    m_pImpl->pFrame = av_frame_alloc();
}

AvTestDecoder::~AvTestDecoder() = default;

bool AvTestDecoder::Receive()
{
    for (;;) {
        const int nRet = avcodec_receive_frame(m_pImpl->pContext, m_pImpl->pFrame);
        if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
            return true;
        if (nRet < 0)
            return false;
        if (m_pImpl->pFrame->decode_error_flags != 0 || (m_pImpl->pFrame->flags & AV_FRAME_FLAG_CORRUPT))
            return false;
        ++m_nPictures;
        m_nWidth = m_pImpl->pFrame->width;
        m_nHeight = m_pImpl->pFrame->height;
        av_frame_unref(m_pImpl->pFrame);
    }
}

bool AvTestDecoder::Decode(const uint8_t *pData, size_t nSize)
{
    if (av_new_packet(m_pImpl->pPacket, static_cast<int>(nSize)) < 0)
        return false;
    std::memcpy(m_pImpl->pPacket->data, pData, nSize);
    const int nRet = avcodec_send_packet(m_pImpl->pContext, m_pImpl->pPacket);
    av_packet_unref(m_pImpl->pPacket);
    if (nRet < 0)
        return false;
    return Receive();
}

bool AvTestDecoder::Flush()
{
    if (avcodec_send_packet(m_pImpl->pContext, nullptr) < 0)
        return false;
    return Receive();
}
