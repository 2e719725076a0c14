#include "tests/e2e/RecordedFile.h"

#include "tests/e2e/LiveSession.h"
#include "tests/support/RecordFixture.h"

#include <gtest/gtest.h>

Json::Value RecordRequest(const Json::Value &msgId, int nChannel, bool bOn)
{
    Json::Value request = LiveSession::Preview(10, msgId, nChannel);
    request["Record"] = bOn ? 1 : 0;
    return request;
}

void ExpectWholeRecording(const QString &strPath, const char *pCodec, double dLeast, double dMost)
{
    SCOPED_TRACE(strPath.toStdString());
    const RecordTest::MediaReport report = RecordTest::Probe(strPath);
    const std::string strReport = RecordTest::Describe(report);
    ASSERT_TRUE(report.bOpened) << strReport;
    EXPECT_EQ(report.strVideoCodec, pCodec) << strReport;
    EXPECT_TRUE(report.bFirstIsKey) << strReport;
    EXPECT_GT(report.nVideoPackets, 0) << strReport;
    EXPECT_EQ(report.nPictures, report.nVideoPackets) << strReport;
    EXPECT_EQ(report.nDecodeErrors, 0) << strReport;
    EXPECT_GE(report.dVideoDuration, dLeast - 0.5) << strReport;
    EXPECT_LE(report.dVideoDuration, dMost + 1.2) << strReport;
}

void ExpectWholeRecording(const QString &strPath, const char *pCodec, const RecordTimer &timer)
{
    ExpectWholeRecording(strPath, pCodec, timer.Least(), timer.Most());
}
