#include "tests/support/TestHttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

namespace {
// What a connection has read of its request so far.
const char *const kBufferProperty = "testHttpBuffer";

QByteArray ReasonPhrase(int nStatus)
{
    switch (nStatus) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray Head(const TestHttpServer::Response &response)
{
    return "HTTP/1.1 " + QByteArray::number(response.nStatus) + " " + ReasonPhrase(response.nStatus) + "\r\n"
        + "Content-Type: text/plain; charset=utf-8\r\n"
        + "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n"
        + (response.location.isEmpty() ? QByteArray() : "Location: " + response.location + "\r\n")
        + "Connection: close\r\n\r\n";
}
} // namespace

TestHttpServer::TestHttpServer(Scheme eScheme, QObject *parent)
    : QTcpServer(parent)
    , m_eScheme(eScheme)
{
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::MakeCertificate()
{
    if (!m_certDir.isValid())
        return false;
    const QString strKey = m_certDir.filePath("key.pem");
    const QString strCert = m_certDir.filePath("cert.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedChannels);
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                              "-keyout", strKey, "-out", strCert, "-days", "2", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1"});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return false;
    QFile key(strKey);
    QFile cert(strCert);
    if (!key.open(QIODevice::ReadOnly) || !cert.open(QIODevice::ReadOnly))
        return false;
    m_privateKey = key.readAll();
    m_certificate = cert.readAll();
    return !QSslKey(m_privateKey, QSsl::Ec).isNull() && !QSslCertificate(m_certificate).isNull();
}

bool TestHttpServer::Listen()
{
    if (m_eScheme == Https && (!QSslSocket::supportsSsl() || !MakeCertificate()))
        return false;
    return listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::HostPort() const
{
    return QString("127.0.0.1:%1").arg(serverPort());
}

QString TestHttpServer::Url(const QString &strPath) const
{
    return QString("%1://%2%3").arg(m_eScheme == Https ? "https" : "http", HostPort(), strPath);
}

void TestHttpServer::SetResponse(const QString &strPath, const Response &response)
{
    m_responses[strPath] = response;
}

void TestHttpServer::incomingConnection(qintptr nSocketDescriptor)
{
    QTcpSocket *pSocket = nullptr;
    if (m_eScheme == Https) {
        auto *pSsl = new QSslSocket(this);
        if (!pSsl->setSocketDescriptor(nSocketDescriptor)) {
            delete pSsl;
            return;
        }
        pSsl->setLocalCertificate(QSslCertificate(m_certificate));
        pSsl->setPrivateKey(QSslKey(m_privateKey, QSsl::Ec));
        pSsl->setPeerVerifyMode(QSslSocket::VerifyNone);
        // A client that refuses the certificate ends the handshake; the connection just goes.
        connect(pSsl, qOverload<const QList<QSslError> &>(&QSslSocket::sslErrors), pSsl, [] {});
        pSsl->startServerEncryption();
        pSocket = pSsl;
    } else {
        pSocket = new QTcpSocket(this);
        if (!pSocket->setSocketDescriptor(nSocketDescriptor)) {
            delete pSocket;
            return;
        }
    }
    ++m_nOpenConnections;
    connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] { onReadable(pSocket); });
    connect(pSocket, &QTcpSocket::disconnected, this, [this, pSocket] {
        --m_nOpenConnections;
        pSocket->deleteLater();
    });
}

void TestHttpServer::onReadable(QTcpSocket *pSocket)
{
    QByteArray buffer = pSocket->property(kBufferProperty).toByteArray() + pSocket->readAll();
    const int nEnd = buffer.indexOf("\r\n\r\n");
    if (nEnd < 0) {
        pSocket->setProperty(kBufferProperty, buffer);
        return;
    }
    // One request per connection (every answer closes it); a body of the request is not needed.
    pSocket->setProperty(kBufferProperty, QByteArray());
    disconnect(pSocket, &QTcpSocket::readyRead, this, nullptr);
    const QByteArray head = buffer.left(nEnd);
    const int nLineEnd = head.indexOf("\r\n");
    const QList<QByteArray> words = head.left(nLineEnd < 0 ? head.size() : nLineEnd).split(' ');
    Request request;
    request.method = words.value(0);
    request.target = words.value(1);
    request.headers = nLineEnd < 0 ? QByteArray() : head.mid(nLineEnd + 2);
    m_requests << request;
    Respond(pSocket, request);
}

void TestHttpServer::Respond(QTcpSocket *pSocket, const Request &request)
{
    const QString strTarget = QString::fromUtf8(request.target);
    Response response;
    if (m_responses.contains(strTarget)) {
        response = m_responses[strTarget];
    } else if (m_responses.contains(strTarget.section('?', 0, 0))) {
        response = m_responses[strTarget.section('?', 0, 0)];
    } else {
        response.nStatus = 404;
        response.body = "not found\n";
    }

    switch (response.eMode) {
    case Answer:
        pSocket->write(Head(response) + response.body);
        pSocket->disconnectFromHost();
        break;
    case Slow:
        pSocket->write(Head(response));
        SendPiece(pSocket, response.body, 0, response);
        break;
    case Cut:
        pSocket->write(Head(response) + response.body.left(response.nCutBytes));
        pSocket->disconnectFromHost();
        break;
    case Never:
        break;
    case Close:
        pSocket->abort();
        break;
    }
}

void TestHttpServer::SendPiece(QTcpSocket *pSocket, const QByteArray &body, int nPiece, const Response &response)
{
    const int nPieces = qMax(1, response.nPieces);
    const int nSize = (body.size() + nPieces - 1) / nPieces;
    pSocket->write(body.mid(nPiece * nSize, nSize));
    if (nPiece + 1 >= nPieces) {
        pSocket->disconnectFromHost();
        return;
    }
    // The timer is the socket's child: a connection that goes takes its pending pieces with it.
    QTimer::singleShot(response.nDelayMs, pSocket, [this, pSocket, body, nPiece, response] {
        if (pSocket->state() == QAbstractSocket::ConnectedState)
            SendPiece(pSocket, body, nPiece + 1, response);
    });
}
