// Upgrade progress: the "NewVersion" text of a version name, and reports of the device library reaching the page in
// order up to the final state, with the reports that were still on their way after it dropped unasked.

#include "platform/korvex.h"
#include "requests/CPluginManage.h"
#include "runtime/JsonText.h"
#include "tests/support/KorvexFixture.h"
#include "tests/support/ManageHarness.h"
#include "tests/support/WaitUntil.h"

#include <QFile>

TEST(UpgradeVersionText, FromTheLastVersionMark)
{
    const std::pair<const char *, const char *> cases[] = {
        {"KVX-NVR16_V4.03.R12", "V4.03.R12"}, {"X_V2_V1.0.3.1", "V1.0.3.1"}, {"Firmware", "Firmware"},
        {"", ""}, {"a_v1.0", "a_v1.0"}, {"_V", "V"}, {"name_V", "V"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CPluginManage::UpgradeVersionText(c.first).toStdString(), c.second) << c.first;
}

class UpgradeProgress : public KorvexFixture
{
};

TEST_F(UpgradeProgress, EndsAtTheFinalStateAndDropsLaterReports)
{
    UseDevices(R"([{"IP": "127.0.0.1", "Port": 34567},
                   {"IP": "10.0.0.9", "Port": 34567, "UpgradeFails": true}])");
    struct Case
    {
        const char *pIP;
        int nFinal;
    };
    for (const Case &c : {Case{"127.0.0.1", ZDK_UPGRADE_DONE}, Case{"10.0.0.9", ZDK_UPGRADE_FAILED}}) {
        SCOPED_TRACE(c.pIP);
        ManageHarness harness;
        const int32_t lLogin = LoginAt(c.pIP, 34567);
        const QString strFile = TempPath("firmware.bin");
        {
            QFile file(strFile);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(100000, 'f'));
        }
        KorvexControl::ClearJournal();
        const int32_t lHandle = ZDK_DEV_StartLocalUpgrade(lLogin, strFile.toLocal8Bit().constData(), ZDK_UPGRADE_LOCAL,
                                                          &CPluginManage::UpgradeCallBack, harness.Manage());
        ASSERT_GT(lHandle, 0);
        auto finalSeen = [&] {
            for (const QString &strMessage : harness.Messages())
                if (strMessage.contains(QString("\"Status\":%1").arg(c.nFinal)))
                    return true;
            return false;
        };
        ASSERT_TRUE(WaitUntil(finalSeen));
        // Reports still on their way once the handle is closed, as the library's threads could have posted them.
        for (int i = 0; i < 3; ++i)
            CPluginManage::UpgradeCallBack(ZDK_UPGRADE_RUNNING, lHandle, 100000, 100000, harness.Manage());
        harness.Sync();

        const QStringList messages = harness.Messages();
        ASSERT_FALSE(messages.isEmpty());
        int nSendSize = -1;
        for (int i = 0; i < messages.size(); ++i) {
            Json::Value event;
            ASSERT_TRUE(JsonText::Parse(messages[i].toStdString(), event));
            EXPECT_EQ(event["MainEvent"].asInt(), 3);
            EXPECT_EQ(event["SubEvent"].asInt(), 0);
            EXPECT_EQ(event["Data"]["TotalSize"].asInt(), 100000);
            // In the order the library reported.
            EXPECT_GE(event["Data"]["SendSize"].asInt(), nSendSize);
            nSendSize = event["Data"]["SendSize"].asInt();
            const bool bLast = i == messages.size() - 1;
            EXPECT_EQ(event["Data"]["Status"].asInt(), bLast ? c.nFinal : int(ZDK_UPGRADE_RUNNING)) << i;
        }
        // The state was asked while the handle was open, and the handle closed once.
        const std::vector<std::string> journal = KorvexControl::Journal();
        int nCloses = 0;
        for (const std::string &line : journal) {
            if (line.rfind("ZDK_DEV_CloseUpgradeHandle", 0) == 0) {
                ++nCloses;
            } else if (line.rfind("ZDK_DEV_GetUpgradeState", 0) == 0) {
                EXPECT_EQ(nCloses, 0) << "state asked after the close";
            }
        }
        EXPECT_EQ(nCloses, 1);
    }
}
