// What the program's log keeps of secrets, through the program: no password or token, however the page writes
// its key, and files that only their owner can read.

#include "tests/e2e/LoginFixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const char *const kPassword = "hunter2-pw";
const char *const kToken = "tok-7f3a91";

const QByteArray kDevice = R"({"Devices": [{"IP": "127.0.0.1", "Port": 34567, "SN": "SNSECRET1", "Token": "tok-7f3a91",
    "User": "admin", "Password": "hunter2-pw", "Channels": 4}]})";

} // namespace

TEST(LogSecrets, NoSpellingOfAKeyBringsThePasswordOrTokenIntoTheLog)
{
    EnvFiles files;
    HostedPlugin plugin;
    plugin.SetEnv("KORVEX_DEVICES", files.Devices(kDevice));
    ASSERT_TRUE(plugin.Start());

    // Escaped keys are the same keys to the reader: both logins succeed.
    plugin.Send(R"({"MainType":8,"SubType":0,"MsgID":"address","Browse":2,"Device":{"LoginType":0,"IP":"127.0.0.1",
        "Port":34567,"User":"admin","Pass\u0077ord":"hunter2-pw"}})");
    const HostMessage byAddress = plugin.WaitReply("address");
    ASSERT_TRUE(byAddress);
    EXPECT_EQ(byAddress["Ret"].asInt(), 100);
    plugin.Send(R"({"MainType":8,"SubType":0,"MsgID":"token","Browse":2,"Title":"Web Viewer","Device":{"LoginType":2,
        "SN":"SNSECRET1","tcs\u0054oken":"tok-7f3a91","User":"admin","\u0050assword":"hunter2-pw"}})");
    const HostMessage byToken = plugin.WaitReply("token");
    ASSERT_TRUE(byToken);
    EXPECT_EQ(byToken["Ret"].asInt(), 100);
    // A comment before a colon: not JSON to the reader, so it is dropped, but it is logged as it came.
    plugin.Send(R"({"MainType":8,"MsgID":"dropped","Device":{"tcsToken" /* c */ :"tok-7f3a91","Password"// c
        :"hunter2-pw"}})");
    ASSERT_TRUE(plugin.Sync());
    EXPECT_FALSE(plugin.WaitReply("dropped", 0));
    ASSERT_TRUE(plugin.Finish());

    const QByteArray log = plugin.App().LogFiles();
    EXPECT_EQ(log.count("RecvWeb msg="), 4);
    EXPECT_TRUE(log.contains(R"("Pass\u0077ord":"***")"));
    EXPECT_TRUE(log.contains(R"("tcsToken" /* c */ :"***")"));
    for (const QByteArray &text : {log, plugin.Output()}) {
        EXPECT_FALSE(text.contains(kPassword));
        EXPECT_FALSE(text.contains(kToken));
    }

    const QDir folder(plugin.App().FilePath("Log/Plugin"));
    const QStringList names = folder.entryList(QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    for (const QString &strName : names) {
        struct stat info{};
        ASSERT_EQ(stat(QFile::encodeName(folder.filePath(strName)).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << strName.toStdString();
    }
}
