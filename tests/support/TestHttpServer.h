#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

class QTcpSocket;

// A small HTTP or HTTPS server on 127.0.0.1 with a port of the system's choosing, standing for the update
// server: it answers each path with what the test gave (404 for any other), slowly, cut short, or never.
// It runs on the thread that made it, served by that thread's event loop (the tests' waits run it).
//
//   TestHttpServer server(TestHttpServer::Https);
//   ASSERT_TRUE(server.Listen());
//   server.SetResponse("/ocx/version.ini", {200, "[Tool]\nversion=2.0.0.0\n"});
//   plugin.SetEnv("QUORRIN_UPDATE_HOST", server.HostPort());     // or server.Url("/ocx/version.ini")
class TestHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    enum Scheme { Http, Https };
    enum Mode {
        Answer, // the status line, the headers and the whole body at once
        Slow,   // the status line and headers, then the body in nPieces pieces: the first at once, each next
                //   nDelayMs after the one before
        Cut,    // headers announcing the whole body, its first nCutBytes, then the connection closes
        Never,  // reads the request and never answers; the connection stays open
        Close,  // closes the connection without a word
    };
    struct Response
    {
        int nStatus = 200;
        QByteArray body;
        Mode eMode = Answer;
        int nDelayMs = 0;
        int nPieces = 2;
        int nCutBytes = 0;
        QByteArray location{}; // a "Location" header, for a redirect
    };
    struct Request
    {
        QByteArray method;
        QByteArray target; // the path with its query, as requested
        QByteArray headers;
    };

    explicit TestHttpServer(Scheme eScheme = Http, QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1; for HTTPS first makes a certificate for 127.0.0.1 with the openssl program.
    bool Listen();

    QString HostPort() const;                  // "127.0.0.1:PORT"
    QString Url(const QString &strPath) const; // "http[s]://127.0.0.1:PORT" + path

    // The answer to a path (the request's target with or without its query).
    void SetResponse(const QString &strPath, const Response &response);

    // Every request read so far, in order.
    QList<Request> Requests() const { return m_requests; }
    // Connections not closed yet.
    int OpenConnections() const { return m_nOpenConnections; }

protected:
    void incomingConnection(qintptr nSocketDescriptor) override;

private:
    bool MakeCertificate();
    void onReadable(QTcpSocket *pSocket);
    void Respond(QTcpSocket *pSocket, const Request &request);
    void SendPiece(QTcpSocket *pSocket, const QByteArray &body, int nPiece, const Response &response);

    Scheme m_eScheme;
    QTemporaryDir m_certDir;
    QByteArray m_certificate;
    QByteArray m_privateKey;
    QMap<QString, Response> m_responses;
    QList<Request> m_requests;
    int m_nOpenConnections = 0;
};
