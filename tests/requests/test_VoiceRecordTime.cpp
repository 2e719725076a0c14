// The custom voice's events reach the page through the request handler: each text as it is, logged.

#include "device/VoiceCustom.h"
#include "requests/CPluginManage.h"
#include "runtime/CDataCenter.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/pavline/PavlineControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManageHarness.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

TEST(VoiceRecordTime, EventsFromAnyThreadAreSentAndLogged)
{
    KorvexControl::Reset();
    ManageHarness harness;
    LogCapture log;
    const QString strEvent = "{\"MainEvent\":6,\"Pos\":3,\"Ret\":100,\"SubEvent\":0}\n";
    // As the capture thread sends it.
    std::thread thread([&] { emit VoiceCustom::GetInstance()->VoiceRecordTime(strEvent); });
    thread.join();
    ASSERT_TRUE(harness.WaitForMessages(1));
    EXPECT_EQ(harness.Messages(), QStringList{strEvent});
    EXPECT_TRUE(log.WaitFor("[CPluginManage::sendWebSocketMsg]"));
    EXPECT_TRUE(log.Contains("\"Pos\":3"));
}

TEST(VoiceRecordTime, TheEndOfATestPlaybackReachesThePage)
{
    KorvexControl::Reset();
    PavlineControl::Reset();
    QTemporaryDir appDir;
    CDataCenter::CreateInstance(appDir.path());
    QFile file(appDir.filePath("customAlarmVoice.pcm"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(400, '\x55'));
    file.close();
    ManageHarness harness;
    ASSERT_EQ(VoiceCustom::GetInstance()->StartTest(), 0);
    ASSERT_TRUE(harness.WaitForMessages(1));
    EXPECT_EQ(harness.Messages(), QStringList{"{\"MainEvent\":6,\"Ret\":100,\"SubEvent\":3}\n"});
    while (VoiceCustom::GetInstance()->IsTestThreadRunning())
        std::this_thread::yield();
    PavlineControl::Reset();
    KorvexControl::Reset();
}
