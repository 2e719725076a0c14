// "ClientCfg.ini" read and written through the page's requests, over the program's socket.

#include "tests/support/HostedPlugin.h"
#include "tests/support/ScratchMount.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(ClientConfig, ReadFillsDefaultFoldersAndNeedsNoWindow)
{
    HostedPlugin plugin;
    // The capture folder is empty and the download folder absent: both get their defaults, written back.
    ASSERT_TRUE(plugin.App().WriteClientCfg("[Path]\nCapPath=\nRecPath=/data/vid\xc3\xa9o\n"
                                            "[Info]\nCaptureType=3\nRecordType=2\nImageType=1\nVideoType=4\n"));
    ASSERT_TRUE(plugin.Start());
    const HostMessage reply = plugin.Request(HostedPlugin::NewRequest(18, 51, "r1"));
    ASSERT_TRUE(reply);
    const QString strApp = plugin.App().Path();
    const std::string strCapture = QDir(strApp).filePath("Device/Capture").toStdString();
    const std::string strDownload = QDir(strApp).filePath("Device/Download").toStdString();
    // Keys in ascending order, non-ASCII escaped, no "Path" key's text changed; no tool information before a login.
    EXPECT_EQ(reply.text.toStdString(),
              "{\"CapFileType\":3,\"CapPath\":\"" + strCapture + "\",\"DownPath\":\"" + strDownload
                  + "\",\"ImageType\":1,\"Msg\":18,\"MsgID\":\"r1\",\"RecPath\":\"/data/vid\\u00e9o\","
                    "\"RecordFileType\":2,\"Ret\":100,\"SubMsg\":51,\"ToolDate\":\"\",\"ToolVersion\":\"\","
                    "\"VideoType\":4}\n");
    EXPECT_EQ(plugin.App().ClientCfgValue("Path/CapPath").toString().toStdString(), strCapture);
    EXPECT_EQ(plugin.App().ClientCfgValue("Path/DownPath").toString().toStdString(), strDownload);
    EXPECT_EQ(plugin.App().ClientCfgValue("Path/RecPath").toString(), QString::fromUtf8("/data/vid\xc3\xa9o"));

    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.ExitCode(), 0);
    const QByteArray log = plugin.App().LogFiles();
    EXPECT_TRUE(log.contains("[PlayWidget::LoadLocalInfo]"));
    // The plug-in window is made at login only.
    EXPECT_FALSE(log.contains("[PlayWidget::PlayWidget]"));
}

TEST(ClientConfig, ReadWithoutAFileWritesTheThreeDefaults)
{
    for (const char *pVariant : {"x64", "x86"}) {
        HostedPlugin::Options options;
        options.strVariant = pVariant;
        HostedPlugin plugin(options);
        ASSERT_TRUE(plugin.Start()) << pVariant;
        const HostMessage reply = plugin.Request(HostedPlugin::NewRequest(18, 51, 7));
        ASSERT_TRUE(reply) << pVariant;
        EXPECT_EQ(reply["Ret"].asInt(), 100);
        EXPECT_EQ(reply["CapFileType"].asInt(), 0);
        EXPECT_EQ(reply["VideoType"].asInt(), 0);
        const char *const folders[][2] = {
            {"Path/CapPath", "Capture"}, {"Path/RecPath", "Record"}, {"Path/DownPath", "Download"}};
        for (const auto &folder : folders) {
            const QString strDefault = QDir(plugin.App().Path()).filePath(QString("Device/") + folder[1]);
            EXPECT_EQ(plugin.App().ClientCfgValue(folder[0]).toString(), strDefault) << folder[0];
        }
    }
}

TEST(ClientConfig, WriteStoresFoldersAndTypesButNotTheCaptureType)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteClientCfg("[Info]\nCaptureType=3\nVideoType=9\n[Enable]\nPrintLogEn=1\n"));
    ASSERT_TRUE(plugin.Start());
    Json::Value request = HostedPlugin::NewRequest(18, 50, "w1");
    request["RecPath"] = "/r\xc3\xa9";
    request["CapPath"] = "/c";
    request["DownPath"] = "/d";
    request["RecordType"] = 2;
    request["ImageType"] = 1;
    // "VideoType" left out: it reads as 0.
    const HostMessage reply = plugin.Request(request);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply.text, QByteArray("{\"Msg\":18,\"MsgID\":\"w1\",\"Ret\":100,\"SubMsg\":50}\n"));
    EXPECT_TRUE(plugin.WaitForLog("] save config path"));

    const PluginAppDir &app = plugin.App();
    EXPECT_EQ(app.ClientCfgValue("Path/RecPath").toString(), QString::fromUtf8("/r\xc3\xa9"));
    EXPECT_EQ(app.ClientCfgValue("Path/CapPath").toString(), "/c");
    EXPECT_EQ(app.ClientCfgValue("Path/DownPath").toString(), "/d");
    EXPECT_EQ(app.ClientCfgValue("Info/RecordType").toInt(), 2);
    EXPECT_EQ(app.ClientCfgValue("Info/ImageType").toInt(), 1);
    EXPECT_EQ(app.ClientCfgValue("Info/VideoType").toInt(), 0);
    EXPECT_EQ(app.ClientCfgValue("Info/CaptureType").toInt(), 3);
    EXPECT_EQ(app.ClientCfgValue("Enable/PrintLogEn").toInt(), 1);

    // What was written is what the next read reports.
    const HostMessage read = plugin.Request(HostedPlugin::NewRequest(18, 51, "r2"));
    ASSERT_TRUE(read);
    EXPECT_EQ(read["RecPath"].asString(), "/r\xc3\xa9");
    EXPECT_EQ(read["CapPath"].asString(), "/c");
    EXPECT_EQ(read["RecordFileType"].asInt(), 2);
    EXPECT_EQ(read["CapFileType"].asInt(), 3);
}

TEST(ClientConfig, UnreadableRequestsAreAnsweredAsFailedAndUnknownSubTypesGetNoReply)
{
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteClientCfg("[Path]\nRecPath=/keep\n"));
    ASSERT_TRUE(plugin.Start());
    const char *const unreadable[] = {
        R"({"MainType":18,"SubType":50,"MsgID":"u1","CapPath":"/c","DownPath":"/d","RecordType":1})",
        R"({"MainType":18,"SubType":50,"MsgID":"u2","RecPath":"/x","CapPath":5,"DownPath":"/d"})",
        R"({"MainType":18,"SubType":50,"MsgID":"u3","RecPath":"/x","CapPath":"/c","DownPath":null})",
        R"({"MainType":18,"SubType":50,"MsgID":"u4","RecPath":"/x","CapPath":"/c","DownPath":"/d","ImageType":"1"})",
        R"({"MainType":18,"SubType":"51","MsgID":"u5"})",
    };
    for (const char *pRequest : unreadable)
        plugin.Send(pRequest);
    for (int nSubType : {0, 47, 52, 54, 59, -1})
        plugin.Send(HostedPlugin::NewRequest(18, nSubType, nSubType));
    ASSERT_TRUE(plugin.Sync());
    // Each unreadable one is answered as failed, and nothing else came but the sync's own reply.
    for (const char *pMsgId : {"u1", "u2", "u3", "u4"}) {
        const HostMessage reply = plugin.WaitReply(pMsgId, 0);
        EXPECT_EQ(reply.text.toStdString(),
                  std::string("{\"Msg\":18,\"MsgID\":\"") + pMsgId + "\",\"Ret\":1016,\"SubMsg\":50}\n");
    }
    EXPECT_EQ(plugin.WaitReply("u5", 0).text.toStdString(), "{\"Msg\":18,\"MsgID\":\"u5\",\"Ret\":1016,\"SubMsg\":\"51\"}\n");
    EXPECT_EQ(plugin.Messages().size(), 6);
    EXPECT_TRUE(plugin.App().BrowseStarts().isEmpty());
    EXPECT_EQ(plugin.App().ClientCfgValue("Path/RecPath").toString(), "/keep");
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.App().LogFiles().count("[ERROR] [CPluginManage::onRecvWebsocketMsg]"), 5);
}

// "ClientCfg.ini" on a file system of its own that refuses writes, read-only or full: each write is answered as a
// failure, what the file holds is what the same process reads back, and once the file system takes writes again
// the refused values do not come back either.
TEST(ClientConfig, AFileThatCannotBeWrittenAnswersFailureAndKeepsItsValues)
{
    const QByteArray kHeld = "[Path]\nCapPath=/held/cap\nDownPath=/held/down\nRecPath=/held/rec\n"
                             "[Info]\nImageType=1\nRecordType=0\nVideoType=0\n[alarmtype]\nMotion=true\n";
    enum Refusal { ReadOnly, Full };
    for (const Refusal eRefusal : {ReadOnly, Full}) {
        SCOPED_TRACE(eRefusal == ReadOnly ? "read-only" : "full");
        ScratchMount mount(2 * 1024 * 1024);
        if (!mount.Mounted())
            GTEST_SKIP() << mount.Why().toStdString();
        const QString strFile = QDir(mount.Path()).filePath("ClientCfg.ini");
        {
            QFile file(strFile);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write(kHeld), kHeld.size());
        }
        HostedPlugin plugin;
        ASSERT_TRUE(QFile::link(strFile, plugin.App().FilePath("ClientCfg.ini")));
        ASSERT_TRUE(plugin.Start());
        // Read once while it can be written, so that the process holds the file's values already.
        ASSERT_EQ(plugin.Request(HostedPlugin::NewRequest(18, 51, "before"))["RecPath"].asString(), "/held/rec");
        ASSERT_TRUE(eRefusal == ReadOnly ? mount.SetReadOnly(true) : mount.Fill());

        Json::Value write = HostedPlugin::NewRequest(18, 50, "w");
        write["RecPath"] = "/new/rec";
        write["CapPath"] = "/new/cap";
        write["DownPath"] = "/new/down";
        write["RecordType"] = 2;
        write["ImageType"] = 0;
        write["VideoType"] = 5;
        const HostMessage written = plugin.Request(write);
        ASSERT_TRUE(written);
        EXPECT_EQ(written.text, QByteArray("{\"Msg\":18,\"MsgID\":\"w\",\"Ret\":1016,\"SubMsg\":50}\n"));
        Json::Value store = HostedPlugin::NewRequest(14, 0, "a");
        store["alarmtype"]["Motion"] = false;
        store["alarmtype"]["Blind"] = true;
        const HostMessage stored = plugin.Request(store);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored.text, QByteArray("{\"Msg\":14,\"MsgID\":\"a\",\"Ret\":1016,\"SubMsg\":0}\n"));

        // What the file holds, not what was refused.
        auto expectHeld = [&](const char *pWhen) {
            SCOPED_TRACE(pWhen);
            const HostMessage read = plugin.Request(HostedPlugin::NewRequest(18, 51, pWhen));
            ASSERT_TRUE(read);
            EXPECT_EQ(read["RecPath"].asString(), "/held/rec");
            EXPECT_EQ(read["CapPath"].asString(), "/held/cap");
            EXPECT_EQ(read["DownPath"].asString(), "/held/down");
            EXPECT_EQ(read["RecordFileType"].asInt(), 0);
            EXPECT_EQ(read["ImageType"].asInt(), 1);
            EXPECT_EQ(read["VideoType"].asInt(), 0);
            const HostMessage types = plugin.Request(HostedPlugin::NewRequest(15, 0, pWhen));
            ASSERT_TRUE(types);
            EXPECT_TRUE(types["alarmtype"]["Motion"].asBool());
            EXPECT_FALSE(types["alarmtype"]["Blind"].asBool());
        };
        expectHeld("refused");
        EXPECT_TRUE(plugin.WaitForLog("ClientCfg.ini not written"));

        // Writable again: a read writes nothing that was refused, and the next write goes through whole.
        if (eRefusal == ReadOnly)
            ASSERT_TRUE(mount.SetReadOnly(false));
        else
            mount.Unfill();
        expectHeld("writable again");
        EXPECT_EQ(plugin.App().ClientCfgValue("Path/RecPath").toString(), "/held/rec");
        EXPECT_EQ(plugin.App().ClientCfgValue("alarmtype/Blind"), QVariant());
        write["MsgID"] = "again";
        EXPECT_EQ(plugin.Request(write)["Ret"].asInt(), 100);
        EXPECT_EQ(plugin.App().ClientCfgValue("Path/RecPath").toString(), "/new/rec");
        EXPECT_EQ(plugin.App().ClientCfgValue("Info/VideoType").toInt(), 5);
        EXPECT_TRUE(plugin.App().ClientCfgValue("alarmtype/Motion").toBool());
        ASSERT_TRUE(plugin.Finish());
        EXPECT_EQ(plugin.ExitCode(), 0);
    }
}
