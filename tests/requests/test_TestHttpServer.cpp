// The tests' update-server stand-in, fetched from with Qt's network access manager as the version checks do.

#include "tests/support/TestHttpServer.h"
#include "tests/support/WaitUntil.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWaitMs = 30000;

struct Fetch
{
    std::unique_ptr<QNetworkReply> pReply;
    QByteArray body;
    bool bFinished = false;
};

std::unique_ptr<Fetch> Get(QNetworkAccessManager &manager, const QString &strUrl, bool bVerifyPeer = false)
{
    QNetworkRequest request{QUrl(strUrl)};
    if (!bVerifyPeer && strUrl.startsWith("https")) {
        QSslConfiguration ssl = request.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(ssl);
    }
    auto pFetch = std::make_unique<Fetch>();
    pFetch->pReply.reset(manager.get(request));
    Fetch *pRaw = pFetch.get();
    QObject::connect(pRaw->pReply.get(), &QNetworkReply::readyRead, [pRaw] { pRaw->body += pRaw->pReply->readAll(); });
    QObject::connect(pRaw->pReply.get(), &QNetworkReply::finished, [pRaw] {
        pRaw->body += pRaw->pReply->readAll();
        pRaw->bFinished = true;
    });
    return pFetch;
}

int Status(const Fetch &fetch)
{
    return fetch.pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

TEST(TestHttpServer, AnswersStatusesAndBodiesOverHttpAndHttps)
{
    for (TestHttpServer::Scheme eScheme : {TestHttpServer::Http, TestHttpServer::Https}) {
        TestHttpServer server(eScheme);
        ASSERT_TRUE(server.Listen());
        server.SetResponse("/ocx/version.ini", {200, "[Tool]\nversion=2.0.0.0\n"});
        server.SetResponse("/web/WebVersion.txt", {503, "busy"});
        QNetworkAccessManager manager;

        const auto pOk = Get(manager, server.Url("/ocx/version.ini?lang=zh"));
        const auto pBusy = Get(manager, server.Url("/web/WebVersion.txt"));
        const auto pMissing = Get(manager, server.Url("/nothing"));
        ASSERT_TRUE(WaitUntil([&] { return pOk->bFinished && pBusy->bFinished && pMissing->bFinished; }, kWaitMs));
        EXPECT_EQ(pOk->pReply->error(), QNetworkReply::NoError) << pOk->pReply->errorString().toStdString();
        EXPECT_EQ(Status(*pOk), 200);
        EXPECT_EQ(pOk->body, QByteArray("[Tool]\nversion=2.0.0.0\n"));
        EXPECT_EQ(Status(*pBusy), 503);
        EXPECT_NE(pBusy->pReply->error(), QNetworkReply::NoError);
        EXPECT_EQ(pBusy->body, QByteArray("busy"));
        EXPECT_EQ(Status(*pMissing), 404);
        EXPECT_EQ(pMissing->pReply->error(), QNetworkReply::ContentNotFoundError);

        QList<QByteArray> targets;
        for (const TestHttpServer::Request &request : server.Requests()) {
            targets << request.target;
            EXPECT_EQ(request.method, QByteArray("GET"));
            EXPECT_TRUE(request.headers.contains("Host: 127.0.0.1:" + QByteArray::number(server.serverPort())));
        }
        std::sort(targets.begin(), targets.end());
        EXPECT_EQ(targets, (QList<QByteArray>{"/nothing", "/ocx/version.ini?lang=zh", "/web/WebVersion.txt"}));
    }
}

TEST(TestHttpServer, CertificateIsRefusedWhenThePeerIsVerified)
{
    TestHttpServer server(TestHttpServer::Https);
    ASSERT_TRUE(server.Listen());
    server.SetResponse("/v", {200, "x"});
    QNetworkAccessManager manager;
    const auto pFetch = Get(manager, server.Url("/v"), true);
    ASSERT_TRUE(WaitUntil([&] { return pFetch->bFinished; }, kWaitMs));
    EXPECT_EQ(pFetch->pReply->error(), QNetworkReply::SslHandshakeFailedError);
    EXPECT_TRUE(pFetch->body.isEmpty());
}

TEST(TestHttpServer, SlowCutClosedAndNeverAnsweringConnections)
{
    for (TestHttpServer::Scheme eScheme : {TestHttpServer::Http, TestHttpServer::Https}) {
        TestHttpServer server(eScheme);
        ASSERT_TRUE(server.Listen());
        TestHttpServer::Response slow{200, "Version:V1.0.2.5\n"};
        slow.eMode = TestHttpServer::Slow;
        slow.nPieces = 3;
        slow.nDelayMs = 20;
        server.SetResponse("/slow", slow);
        // The second piece would come after an hour: the reply stays open with the first one.
        TestHttpServer::Response stalled{200, "first-second"};
        stalled.eMode = TestHttpServer::Slow;
        stalled.nPieces = 2;
        stalled.nDelayMs = 3600 * 1000;
        server.SetResponse("/stalled", stalled);
        TestHttpServer::Response cut{200, "0123456789abcdef"};
        cut.eMode = TestHttpServer::Cut;
        cut.nCutBytes = 4;
        server.SetResponse("/cut", cut);
        TestHttpServer::Response closed;
        closed.eMode = TestHttpServer::Close;
        server.SetResponse("/closed", closed);
        TestHttpServer::Response never;
        never.eMode = TestHttpServer::Never;
        server.SetResponse("/never", never);
        QNetworkAccessManager manager;

        const auto pSlow = Get(manager, server.Url("/slow"));
        const auto pCut = Get(manager, server.Url("/cut"));
        const auto pClosed = Get(manager, server.Url("/closed"));
        const auto pNever = Get(manager, server.Url("/never"));
        const auto pStalled = Get(manager, server.Url("/stalled"));
        ASSERT_TRUE(WaitUntil([&] { return pSlow->bFinished && pCut->bFinished && pClosed->bFinished; }, kWaitMs));
        EXPECT_EQ(pSlow->pReply->error(), QNetworkReply::NoError);
        EXPECT_EQ(pSlow->body, QByteArray("Version:V1.0.2.5\n"));
        EXPECT_EQ(pCut->pReply->error(), QNetworkReply::RemoteHostClosedError);
        EXPECT_EQ(pCut->body, QByteArray("0123"));
        EXPECT_EQ(pClosed->pReply->error(), QNetworkReply::RemoteHostClosedError);

        ASSERT_TRUE(WaitUntil([&] { return pStalled->body == "first-"; }, kWaitMs));
        EXPECT_FALSE(pStalled->bFinished);
        // The request reached the server, which holds the connection without a word.
        ASSERT_TRUE(WaitUntil([&] {
            for (const TestHttpServer::Request &request : server.Requests())
                if (request.target == "/never")
                    return true;
            return false;
        }, kWaitMs));
        EXPECT_FALSE(pNever->bFinished);
        EXPECT_EQ(server.OpenConnections(), 2);
        for (Fetch *pFetch : {pNever.get(), pStalled.get()}) {
            pFetch->pReply->abort();
            EXPECT_TRUE(pFetch->bFinished);
            EXPECT_EQ(pFetch->pReply->error(), QNetworkReply::OperationCanceledError);
        }
        EXPECT_TRUE(WaitUntil([&] { return server.OpenConnections() == 0; }, kWaitMs));
    }
}
