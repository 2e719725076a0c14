// The tool and web version checks through the host link against a local update server, over HTTP and HTTPS:
// newer, equal and older versions, a missing file, a cut answer, a server that never answers, the update log and
// its "_zh" address, the event pairs, and the web check's event before its reply.

#include "tests/e2e/LoginFixture.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using Response = TestHttpServer::Response;

const QByteArray kToolIni = "[Tool]\nversion=1.0.2.5\ndate=2024-05-01\n";

Json::Value ToolCheck(int nSubType, const Json::Value &msgId, const Json::Value &language = Json::Value())
{
    Json::Value request = HostedPlugin::NewRequest(22, nSubType, msgId);
    if (!language.isNull())
        request["Language"] = language;
    return request;
}

QByteArray ServerIni(const char *pVersion, const char *pDate = "2025-02-03")
{
    return QByteArray("[Tool]\nversion=") + pVersion + "\ndate=" + pDate + "\n";
}

// The program logged in, its update server being the test's.
class VersionTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Listen()); }

    // Writes the tool-version file (and the local web version file when given) and logs in.
    void Start(const QByteArray &toolIni = kToolIni, const QByteArray &localWeb = QByteArray())
    {
        ASSERT_TRUE(m_plugin.App().WriteFile("OmbrixVersion.ini", toolIni));
        if (!localWeb.isNull()) {
            QDir parent(m_plugin.App().Path());
            ASSERT_TRUE(parent.cdUp() && parent.mkpath("Web"));
            QFile file(parent.filePath("Web/WebVersion.txt"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(localWeb);
        }
        m_plugin.SetEnv("QUORRIN_UPDATE_HOST", m_server.HostPort());
        ASSERT_TRUE(StartAndLogIn(m_plugin, LoginByAddress("login")));
    }

    // A tool check answered at once, and its event.
    HostMessage CheckTool(const Json::Value &request, int nMain = 0, int nSub = 4)
    {
        const HostMessage reply = m_plugin.Request(request);
        EXPECT_TRUE(reply);
        EXPECT_EQ(reply["Ret"].asInt(), 100);
        EXPECT_EQ(reply["Msg"].asInt(), 22);
        return m_plugin.WaitEvent(nMain, nSub);
    }

    int LogRequests() const
    {
        int n = 0;
        for (const TestHttpServer::Request &request : m_server.Requests())
            n += request.target == "/ocx/ombrixupdatelog";
        return n;
    }

    bool Requested(const QByteArray &target) const
    {
        for (const TestHttpServer::Request &request : m_server.Requests())
            if (request.target == target)
                return true;
        return false;
    }

    TestHttpServer m_server;
    HostedPlugin m_plugin;
};

} // namespace

TEST_F(VersionTest, ToolVersionNewerEqualOlderMissingAndCut)
{
    Start();
    struct Case
    {
        const char *pWhat;
        Response version;
        const char *pNewVersion;
        const char *pNewDate;
        bool bNew;
    };
    const Case cases[] = {
        {"newer", {200, ServerIni("1.0.2.10")}, "1.0.2.10", "2025-02-03", true},
        {"equal", {200, ServerIni("1.0.2.5")}, "1.0.2.5", "2025-02-03", false},
        {"older", {200, ServerIni("1.0.1.99")}, "1.0.1.99", "2025-02-03", false},
        {"missing", {404, "not here\n"}, "", "", false},
        {"cut", {200, ServerIni("2.0.0.0"), TestHttpServer::Cut, 0, 2, 21}, "", "", false},
        {"closed", {200, "", TestHttpServer::Close}, "", "", false},
    };
    m_server.SetResponse("/ocx/ombrixupdatelog", {200, "what changed\n"});
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        m_server.SetResponse("/ocx/OmbrixVersion.ini", c.version);
        const int nLogRequests = LogRequests();
        const HostMessage event = CheckTool(ToolCheck(0, ++nMsgId));
        ASSERT_TRUE(event);
        std::string strExpected = std::string("{\"MainEvent\":0,") +
                                  (c.bNew ? "\"OmbrixUpdateLog\":\"what changed\\n\"," : "") +
                                  "\"SubEvent\":4,\"bNew\":" + (c.bNew ? "true" : "false") +
                                  ",\"curDate\":\"2024-05-01\",\"curVersion\":\"1.0.2.5\",\"newDate\":\"" + c.pNewDate +
                                  "\",\"newVersion\":\"" + c.pNewVersion + "\"}\n";
        EXPECT_EQ(event.text.toStdString(), strExpected);
        // The update log is fetched only for a newer version.
        EXPECT_EQ(LogRequests() - nLogRequests, c.bNew ? 1 : 0);
        // The server's file is kept as it came (nothing of a failed download).
        EXPECT_EQ(m_plugin.App().ReadFile("NewVersion.ini"), c.pNewVersion[0] ? c.version.body : QByteArray());
    }
    EXPECT_TRUE(m_plugin.WaitForLog("bNewVersion 1 strNew 1.0.2.10 strCur 1.0.2.5"));
    EXPECT_TRUE(m_plugin.WaitForLog("[1]Successfully obtained logs"));
}

TEST_F(VersionTest, ARedirectIsAFailedDownloadAndIsNotFollowed)
{
    Start(kToolIni, "Version:V1.0.3.0\n");
    // Where each redirect points: a newer version, a log and a web file, none of which may be asked for.
    m_server.SetResponse("/moved/version.ini", {200, ServerIni("9.0.0.0")});
    m_server.SetResponse("/moved/log", {200, "the moved log\n"});
    m_server.SetResponse("/moved/Info.txt", {200, "Version:V9.9.9.9\n"});
    int nMsgId = 0;
    for (const int nStatus : {301, 302, 307}) {
        SCOPED_TRACE(nStatus);
        auto moved = [nStatus](const QByteArray &body, const char *pTo) {
            Response response{nStatus, body};
            response.location = pTo;
            return response;
        };

        // The version file moved: its body names no version.
        m_server.SetResponse("/ocx/OmbrixVersion.ini", moved(ServerIni("9.0.0.0"), "/moved/version.ini"));
        m_server.SetResponse("/ocx/ombrixupdatelog", {200, "what changed\n"});
        const HostMessage tool = CheckTool(ToolCheck(0, ++nMsgId));
        ASSERT_TRUE(tool);
        EXPECT_EQ(tool["newVersion"].asString(), "");
        EXPECT_EQ(tool["newDate"].asString(), "");
        EXPECT_FALSE(tool["bNew"].asBool());
        EXPECT_FALSE(tool.value.isMember("OmbrixUpdateLog"));
        EXPECT_EQ(m_plugin.App().ReadFile("NewVersion.ini"), QByteArray());

        // A newer version whose update log moved: the event goes without a log.
        m_server.SetResponse("/ocx/OmbrixVersion.ini", {200, ServerIni("9.0.0.0")});
        m_server.SetResponse("/ocx/ombrixupdatelog", moved("moved", "/moved/log"));
        const HostMessage logMoved = CheckTool(ToolCheck(0, ++nMsgId));
        ASSERT_TRUE(logMoved);
        EXPECT_TRUE(logMoved["bNew"].asBool());
        EXPECT_EQ(logMoved["newVersion"].asString(), "9.0.0.0");
        EXPECT_FALSE(logMoved.value.isMember("OmbrixUpdateLog")) << logMoved.text.constData();

        // The web file moved: no server version.
        m_server.SetResponse("/web/Web/Info.txt", moved("Version:V9.9.9.9\n", "/moved/Info.txt"));
        const HostMessage web = m_plugin.Request(HostedPlugin::NewRequest(36, 0, ++nMsgId));
        ASSERT_TRUE(web);
        EXPECT_EQ(web["Ret"].asInt(), 100);
        const QList<HostMessage> messages = m_plugin.Messages();
        ASSERT_GE(messages.size(), 2);
        EXPECT_EQ(messages[messages.size() - 2].text.toStdString(),
                  "{\"MainEvent\":0,\"SubEvent\":7,\"bNew\":false,\"curVersion\":\"1.0.3.0\",\"newVersion\":\"\"}\n");
    }
    for (const char *pTarget : {"/moved/version.ini", "/moved/log", "/moved/Info.txt"})
        EXPECT_FALSE(Requested(pTarget)) << pTarget;
    EXPECT_TRUE(m_plugin.WaitForLog("HTTP status 302"));
}

TEST_F(VersionTest, ToolEventPairsAndTheChineseUpdateLog)
{
    Start();
    m_server.SetResponse("/ocx/OmbrixVersion.ini", {200, ServerIni("9.0.0.0")});
    m_server.SetResponse("/ocx/ombrixupdatelog", {200, "log"});
    m_server.SetResponse("/ocx/ombrixupdatelog_zh", {200, "zh log"});
    struct Case
    {
        int nSubType;
        Json::Value language;
        int nMain, nSub;
        const char *pLog;
    };
    const Case cases[] = {
        {0, "SimpChinese", 0, 4, "zh log"},
        {1, "simpchinese", 4, 54, "log"},
        {5, Json::Value(), -1, -1, "log"},
        {1, "English", 4, 54, "log"},
    };
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nSubType);
        const HostMessage event = CheckTool(ToolCheck(c.nSubType, ++nMsgId, c.language), c.nMain, c.nSub);
        ASSERT_TRUE(event);
        EXPECT_EQ(event["OmbrixUpdateLog"].asString(), c.pLog);
        EXPECT_TRUE(event["bNew"].asBool());
    }
    EXPECT_TRUE(Requested("/ocx/ombrixupdatelog_zh"));
    // A language that is not a text makes the request unreadable: nothing is fetched, and it is answered as failed.
    const int nRequests = m_server.Requests().size();
    m_plugin.Send(ToolCheck(0, "bad", 7));
    ASSERT_TRUE(m_plugin.Sync());
    EXPECT_TRUE(m_plugin.WaitForLog("can not analyze json"));
    EXPECT_EQ(m_plugin.WaitReply("bad", 0)["Ret"].asInt(), 1016);
    EXPECT_EQ(m_server.Requests().size(), nRequests);
}

TEST_F(VersionTest, AnUpdateLogThatNeverComesEndsAtItsTimeout)
{
    Start();
    m_server.SetResponse("/ocx/OmbrixVersion.ini", {200, ServerIni("2.0.0.0")});
    m_server.SetResponse("/ocx/ombrixupdatelog", {200, "", TestHttpServer::Never});
    const HostMessage reply = m_plugin.Request(ToolCheck(0, "hang"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply["Ret"].asInt(), 100);
    // Other requests are handled while the check waits for its log.
    ASSERT_TRUE(WaitUntil([&] { return Requested("/ocx/ombrixupdatelog"); }, HostedPlugin::kWaitMs));
    ASSERT_TRUE(m_plugin.Sync());
    // The wait ends at its time-out: the event goes without the log.
    EXPECT_TRUE(m_plugin.WaitForLog("access timeout"));
    const HostMessage event = m_plugin.WaitEvent(0, 4);
    ASSERT_TRUE(event);
    EXPECT_TRUE(event["bNew"].asBool());
    EXPECT_FALSE(event.value.isMember("OmbrixUpdateLog"));
    // Nothing of the check is left open.
    EXPECT_TRUE(WaitUntil([&] { return m_server.OpenConnections() == 0; }, HostedPlugin::kWaitMs));
}

TEST_F(VersionTest, AVersionFileThatNeverComesSendsNoEventAndHoldsNothingUp)
{
    Start();
    m_server.SetResponse("/ocx/OmbrixVersion.ini", {200, "", TestHttpServer::Never});
    const HostMessage reply = m_plugin.Request(ToolCheck(0, "hang"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply["Ret"].asInt(), 100);
    ASSERT_TRUE(WaitUntil([&] { return Requested("/ocx/OmbrixVersion.ini"); }, HostedPlugin::kWaitMs));
    // The program goes on and ends with the download still waiting.
    m_server.SetResponse("/web/Web/Info.txt", {200, "Version:V3.0.0.0\n"});
    const HostMessage web = m_plugin.Request(HostedPlugin::NewRequest(36, 0, "web"));
    ASSERT_TRUE(web);
    ASSERT_TRUE(m_plugin.Finish());
    EXPECT_EQ(m_plugin.ExitCode(), 0);
    for (const HostMessage &message : m_plugin.Messages())
        EXPECT_FALSE(message["MainEvent"].asInt() == 0 && message["SubEvent"].asInt() == 4) << message.text.constData();
}

TEST_F(VersionTest, WebVersionSendsItsEventBeforeItsReply)
{
    Start(kToolIni, "web pages\r\nVersion:V1.0.3.0\r\n");
    struct Case
    {
        const char *pWhat;
        Response file;
        int nSubType;
        int nMain, nSub;
        const char *pNewVersion;
        bool bNew;
    };
    const Case cases[] = {
        {"newer", {200, "Version:V1.0.10.0\n"}, 0, 0, 7, "1.0.10.0", true},
        {"equal", {200, "x\nVersion:V1.0.3.0\n"}, 1, 4, 59, "1.0.3.0", false},
        // The character right after "version:" is dropped, whatever it is.
        {"blank", {200, "web\r\nversion: V2.1.0.0\r\n"}, 0, 0, 7, "V2.1.0.0", false},
        {"older", {200, "Version:V1.0.2.9"}, 3, -1, -1, "1.0.2.9", false},
        {"missing", {404, "Version:V9.9.9.9\n"}, 0, 0, 7, "", false},
        {"cut", {200, "Version:V9.9.9.9\n" + QByteArray(40, ' '), TestHttpServer::Cut, 0, 2, 17}, 0, 0, 7, "", false},
        {"never", {200, "", TestHttpServer::Never}, 0, 0, 7, "", false},
        // The version line comes at once and the rest only after the wait's end: a download that did not come
        // whole in time names no version.
        {"slow", {200, "Version:V9.9.9.9\n" + QByteArray(17, ' '), TestHttpServer::Slow, 30000, 2}, 0, 0, 7, "", false},
    };
    int nMsgId = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pWhat);
        m_server.SetResponse("/web/Web/Info.txt", c.file);
        const int nBefore = m_plugin.Messages().size();
        const HostMessage reply = m_plugin.Request(HostedPlugin::NewRequest(36, c.nSubType, ++nMsgId));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply.text.toStdString(), "{\"Msg\":36,\"MsgID\":" + std::to_string(nMsgId) +
                                                ",\"Ret\":100,\"SubMsg\":" + std::to_string(c.nSubType) + "}\n");
        // The event is the message right before the reply.
        const QList<HostMessage> messages = m_plugin.Messages();
        ASSERT_GE(messages.size(), nBefore + 2);
        const HostMessage &event = messages[messages.size() - 2];
        EXPECT_EQ(event.text.toStdString(), "{\"MainEvent\":" + std::to_string(c.nMain) + ",\"SubEvent\":" +
                                                std::to_string(c.nSub) + ",\"bNew\":" + (c.bNew ? "true" : "false") +
                                                ",\"curVersion\":\"1.0.3.0\",\"newVersion\":\"" + c.pNewVersion +
                                                "\"}\n");
    }
    // Each request carried a random number, and the web pages' folder named the file.
    for (const TestHttpServer::Request &request : m_server.Requests())
        EXPECT_TRUE(request.target.startsWith("/web/Web/Info.txt?random=")) << request.target.constData();
    EXPECT_TRUE(m_plugin.WaitForLog("[1]New Version=1.0.10.0 Cur Version:1.0.3.0"));
    EXPECT_TRUE(m_plugin.WaitForLog("[1]Download successful"));
}

TEST_F(VersionTest, WithoutALocalWebFileTheCurrentVersionIsZero)
{
    Start();
    m_server.SetResponse("/web/Web/Info.txt", {200, "Version:V0.0.0.1\n"});
    m_plugin.Send(HostedPlugin::NewRequest(36, 0, "web"));
    const HostMessage event = m_plugin.WaitEvent(0, 7);
    ASSERT_TRUE(event);
    EXPECT_EQ(event["curVersion"].asString(), "0.0.0.0");
    EXPECT_TRUE(event["bNew"].asBool());
}

TEST(VersionCheckHttps, BothChecksOverHttpsWithTheServersOwnCertificate)
{
    TestHttpServer server(TestHttpServer::Https);
    ASSERT_TRUE(server.Listen());
    server.SetResponse("/tool/version.ini", {200, ServerIni("1.1.0.0")});
    server.SetResponse("/pages/Web/Info.txt", {200, "Version:V2.0.0.0\n"});
    HostedPlugin plugin;
    ASSERT_TRUE(plugin.App().WriteFile("OmbrixVersion.ini", kToolIni + "versionFileAddr=" +
                                                                 server.Url("/tool/version.ini").toUtf8() +
                                                                 "\nwebFileAddr=" + server.Url("/pages").toUtf8() + "\n"));
    // The update log stays on the plain server, which is not there: the event goes without it.
    plugin.SetEnv("QUORRIN_UPDATE_HOST", "127.0.0.1:1");
    ASSERT_TRUE(StartAndLogIn(plugin, LoginByAddress("login")));
    ASSERT_EQ(plugin.Request(ToolCheck(0, "tool"))["Ret"].asInt(), 100);
    const HostMessage tool = plugin.WaitEvent(0, 4);
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool["newVersion"].asString(), "1.1.0.0");
    EXPECT_TRUE(tool["bNew"].asBool());
    ASSERT_EQ(plugin.Request(HostedPlugin::NewRequest(36, 0, "web"))["Ret"].asInt(), 100);
    const HostMessage web = plugin.WaitEvent(0, 7);
    ASSERT_TRUE(web);
    EXPECT_EQ(web["newVersion"].asString(), "2.0.0.0");
    EXPECT_TRUE(web["bNew"].asBool());
}
