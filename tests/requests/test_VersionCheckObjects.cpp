// The version checks against a local server, run on the request thread of a handler in this process so that what
// they leave behind can be counted: every path (a newer version with its update log, an equal one, a missing
// file, a cut file, a version file that never comes, an update log that never comes or comes cut, a web file that
// never comes or comes too slowly)
// frees its timers, managers and downloads, and no cut or late download is read as a version.

#include "requests/CPluginManage.h"
#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"
#include "runtime/JsonText.h"
#include "tests/support/ManageHarness.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

struct ObjectCount
{
    int nManagers = 0;
    int nReplies = 0;
    int nTimers = 0;
    bool operator==(const ObjectCount &o) const
    {
        return nManagers == o.nManagers && nReplies == o.nReplies && nTimers == o.nTimers;
    }
};

ObjectCount CountObjects(ManageHarness &harness)
{
    ObjectCount count;
    harness.RunOnRequestThread([&] {
        count.nManagers = harness.Manage()->findChildren<QNetworkAccessManager *>().size();
        count.nReplies = harness.Manage()->findChildren<QNetworkReply *>().size();
        count.nTimers = harness.Manage()->findChildren<QTimer *>().size();
    });
    return count;
}

} // namespace

TEST(VersionCheck, EveryPathFreesItsObjectsAndReadsNoCutVersion)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("app") && QDir(root.path()).mkpath("Web"));
    {
        QFile local(root.filePath("Web/WebVersion.txt"));
        ASSERT_TRUE(local.open(QIODevice::WriteOnly));
        local.write("Version:V1.0.0.0\n");
    }
    CDataCenter *pCenter = CDataCenter::CreateInstance(root.filePath("app"));
    ToolInfo &tool = pCenter->m_stToolInfo;
    tool.PrintLogEn = 1;

    TestHttpServer server;
    ASSERT_TRUE(server.Listen());
    const QByteArray newer = "[Tool]\nversion=2.0.0.0\ndate=2025-01-01\n";
    using R = TestHttpServer::Response;
    struct ToolCase
    {
        const char *pName;      // the file names on the server, and the case's current version
        const char *pCurrent;
        R version;
        R log;
        const char *pNewVersion;
        bool bNew;
        const char *pLog;       // nullptr: no "OmbrixUpdateLog"
    };
    const ToolCase toolCases[] = {
        {"a", "1.0.0.1", R{200, newer}, R{200, "the changes\n"}, "2.0.0.0", true, "the changes\n"},
        {"b", "1.0.0.2", R{200, "[Tool]\nversion=1.0.0.2\n"}, R{200, "unused"}, "1.0.0.2", false, nullptr},
        {"c", "1.0.0.3", R{404, "[Tool]\nversion=3.0.0.0\n"}, R{200, "unused"}, "", false, nullptr},
        {"d", "1.0.0.4", R{200, newer, TestHttpServer::Cut, 0, 2, 23}, R{200, "unused"}, "", false, nullptr},
        {"e", "1.0.0.5", R{200, newer}, R{200, "", TestHttpServer::Never}, "2.0.0.0", true, nullptr},
        {"f", "1.0.0.6", R{200, newer}, R{200, "the changes\n", TestHttpServer::Cut, 0, 2, 5}, "2.0.0.0", true, nullptr},
    };
    struct WebCase
    {
        const char *pName;
        R file;
        const char *pNewVersion;
        bool bNew;
    };
    const WebCase webCases[] = {
        {"g", R{200, "web\r\nVersion:V2.0.0.0\r\n"}, "2.0.0.0", true},
        {"h", R{200, "", TestHttpServer::Never}, "", false},
        // The version line comes at once, the rest after the wait has ended.
        {"i", R{200, "Version:V9.9.9.9\n" + QByteArray(17, 'x'), TestHttpServer::Slow, 30000, 2}, "", false},
    };

    ManageHarness harness(3);
    const ObjectCount before = CountObjects(harness);
    auto events = [&](int nMainEvent, int nSubEvent) {
        std::vector<Json::Value> found;
        for (const QString &strMessage : harness.Messages()) {
            Json::Value message;
            if (JsonText::Parse(strMessage.toStdString(), message) && message["MainEvent"].asInt() == nMainEvent &&
                message["SubEvent"].asInt() == nSubEvent)
                found.push_back(message);
        }
        return found;
    };
    auto checkTool = [&](const ToolCase &c) {
        server.SetResponse(QString("/%1.ini").arg(c.pName), c.version);
        server.SetResponse(QString("/%1.log").arg(c.pName), c.log);
        FixedText::Copy(tool.ToolVersion, QString(c.pCurrent));
        FixedText::Copy(tool.VersionFileAddr, server.Url(QString("/%1.ini").arg(c.pName)));
        FixedText::Copy(tool.UpdateLogAddr, server.Url(QString("/%1.log").arg(c.pName)));
        harness.Send(R"({"MainType":22,"SubType":0,"MsgID":1})");
        harness.Sync();
    };
    auto requested = [&](const QByteArray &target) {
        for (const TestHttpServer::Request &request : server.Requests())
            if (request.target == target)
                return true;
        return false;
    };
    // A version file that never comes: the check ends at its own time-out, long after the others, with no event.
    const ToolCase silent = {"n", "1.0.0.7", R{200, "", TestHttpServer::Never}, R{200, "unused"}, nullptr, false,
                             nullptr};
    checkTool(silent);
    // The quick tool checks run at once.
    for (const ToolCase &c : toolCases)
        if (c.log.eMode != TestHttpServer::Never)
            checkTool(c);
    ASSERT_TRUE(WaitUntil([&] { return events(0, 4).size() == 5; }, 30000));
    // The one whose update log never comes waits for it; the web checks run one after another inside that wait.
    for (const ToolCase &c : toolCases)
        if (c.log.eMode == TestHttpServer::Never)
            checkTool(c);
    ASSERT_TRUE(WaitUntil([&] { return requested("/e.log"); }, 30000));
    for (size_t i = 0; i < std::size(webCases); ++i) {
        const WebCase &c = webCases[i];
        server.SetResponse(QString("/%1.txt").arg(c.pName), c.file);
        FixedText::Copy(tool.WebVersionAddr, server.Url(QString("/%1.txt?random=7").arg(c.pName)));
        harness.Send(R"({"MainType":36,"SubType":0,"MsgID":2})");
        ASSERT_TRUE(WaitUntil([&] { return events(0, 7).size() == i + 1; }, 30000)) << c.pName;
    }
    ASSERT_TRUE(WaitUntil([&] { return events(0, 4).size() == 6; }, 30000));
    for (const ToolCase &c : toolCases) {
        SCOPED_TRACE(c.pName);
        int nFound = 0;
        for (const Json::Value &event : events(0, 4)) {
            if (event["curVersion"].asString() != c.pCurrent)
                continue;
            ++nFound;
            EXPECT_EQ(event["newVersion"].asString(), c.pNewVersion);
            EXPECT_EQ(event["bNew"].asBool(), c.bNew);
            EXPECT_EQ(event.isMember("OmbrixUpdateLog"), c.pLog != nullptr);
            if (c.pLog) {
                EXPECT_EQ(event["OmbrixUpdateLog"].asString(), c.pLog);
            }
        }
        EXPECT_EQ(nFound, 1);
    }
    const std::vector<Json::Value> webEvents = events(0, 7);
    for (size_t i = 0; i < webEvents.size(); ++i) {
        SCOPED_TRACE(webCases[i].pName);
        EXPECT_EQ(webEvents[i]["curVersion"].asString(), "1.0.0.0");
        EXPECT_EQ(webEvents[i]["newVersion"].asString(), webCases[i].pNewVersion);
        EXPECT_EQ(webEvents[i]["bNew"].asBool(), webCases[i].bNew);
    }
    // An equal version asks for no update log; the silent check was asked for its version file only.
    EXPECT_TRUE(requested("/n.ini"));
    EXPECT_FALSE(requested("/n.log"));
    for (const TestHttpServer::Request &request : server.Requests())
        EXPECT_NE(request.target, "/b.log");

    // The silent check's objects go at its minute's end.
    EXPECT_TRUE(WaitUntil([&] { return CountObjects(harness) == before; }, 180000));
    for (const Json::Value &event : events(0, 4))
        EXPECT_NE(event["curVersion"].asString(), silent.pCurrent);
    const ObjectCount after = CountObjects(harness);
    EXPECT_EQ(after.nManagers, 0);
    EXPECT_EQ(after.nReplies, 0);
    EXPECT_EQ(after.nTimers, before.nTimers);
    CDataCenter::ReleaseInstance();
}
