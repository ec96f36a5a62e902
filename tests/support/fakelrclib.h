// An LRCLIB server on 127.0.0.1 for tests: HTTP/1.1, one request per connection; each
// request's target and User-Agent are recorded and answered by `answer`.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

struct FakeAnswer {
    int status = 200;
    QByteArray body;
    bool never = false; // the request is read and never answered
    bool sayLength = true; // a Content-Length header (else the end of the connection ends the body)
};

class FakeLrclib : public QObject
{
public:
    struct Request {
        QByteArray target; // path and query as sent
        QByteArray userAgent;
    };

    FakeLrclib()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())); }

    std::function<FakeAnswer(const QByteArray &target)> answer;
    QList<Request> requests;

private:
    void read(QTcpSocket *s)
    {
        QByteArray &buffer = m_pending[s];
        buffer += s->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        Request r;
        r.target = lines.front().split(' ').value(1);
        for (const QByteArray &line : lines)
            if (line.toLower().startsWith("user-agent:"))
                r.userAgent = line.mid(11).trimmed();
        requests << r;
        m_pending.remove(s);
        const FakeAnswer a = answer ? answer(r.target) : FakeAnswer { 404, "{}" };
        if (a.never)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + " X\r\nContent-Type: application/json\r\n";
        if (a.sayLength)
            head += "Content-Length: " + QByteArray::number(a.body.size()) + "\r\n";
        s->write(head + "Connection: close\r\n\r\n" + a.body);
        s->disconnectFromHost();
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
