// The login's "SetupName" names the tool-version file beside the program, through the program: a name that
// leaves the program's folder is refused and the default file read instead.

#include "tests/e2e/LoginFixture.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QByteArray ToolIni(const char *pVersion)
{
    return QByteArray("[Tool]\nversion=") + pVersion + "\ndate=2031-01-01\nversionFileAddr=http://planted.invalid/v.ini\n";
}

} // namespace

TEST(SetupName, ANameThatLeavesTheProgramsFolderIsNotRead)
{
    HostedPlugin plugin;
    PluginAppDir &app = plugin.App();
    const QDir outside = QFileInfo(app.Path()).dir();
    ASSERT_TRUE(app.WriteFile("OmbrixVersion.ini", ToolIni("1.0.0.1")));
    ASSERT_TRUE(app.WriteFile("MySetup.ini", ToolIni("2.0.0.2")));
    ASSERT_TRUE(QDir(app.Path()).mkdir("sub"));
    ASSERT_TRUE(app.WriteFile("sub/planted.ini", ToolIni("6.6.6.6")));
    {
        QFile planted(outside.filePath("planted.ini"));
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        planted.write(ToolIni("6.6.6.6"));
    }
    ASSERT_TRUE(plugin.Start());

    struct Case
    {
        QString strSetupName;
        const char *pVersion;
    };
    const Case cases[] = {
        {"MySetup", "2.0.0.2"},
        {"../planted", "1.0.0.1"},
        {outside.filePath("planted"), "1.0.0.1"},
        {"sub/planted", "1.0.0.1"},
        {"..\\planted", "1.0.0.1"},
    };
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.strSetupName.toStdString());
        Json::Value login = LoginByAddress(++nMsgId);
        login["SetupName"] = c.strSetupName.toStdString();
        const HostMessage loggedIn = plugin.Request(login);
        ASSERT_TRUE(loggedIn);
        ASSERT_EQ(loggedIn["Ret"].asInt(), 100);
        const HostMessage config = plugin.Request(HostedPlugin::NewRequest(18, 51, ++nMsgId));
        ASSERT_TRUE(config);
        EXPECT_EQ(config["ToolVersion"].asString(), c.pVersion);
    }
    ASSERT_TRUE(plugin.Finish());
    EXPECT_EQ(plugin.App().LogFiles().count("leaves the program's folder: the default is used"), 4);
}
