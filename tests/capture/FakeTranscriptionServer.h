#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace quenda::tests {

// A transcription service on 127.0.0.1 that speaks HTTP/1.1 and multipart/form-data for real, records
// every request and answers as the test says (or holds the answer back until the test releases it).
class FakeTranscriptionServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names lower-cased
        QHash<QByteArray, QByteArray> fields;  // multipart parts by name
        QHash<QByteArray, QByteArray> partTypes;
        QByteArray fileName;
    };
    struct Reply {
        int status = 200;
        QByteArray body = R"({"text":"hello"})";
        bool hold = false; // answer only when the test calls release()
    };

    FakeTranscriptionServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    void close() { m_server.close(); }
    QByteArray url() const
    {
        return "http://127.0.0.1:" + QByteArray::number(port()) + "/v1/audio/transcriptions";
    }

    std::function<Reply(const Request&)> respond = [](const Request&) { return Reply{}; };
    QList<Request> requests;

    // Answers every held request with the given reply.
    void release(const Reply& reply)
    {
        for (const QPointer<QTcpSocket>& socket : std::exchange(m_held, {}))
            if (socket)
                answer(socket, reply);
    }
    int heldCount() const { return int(m_held.size()); }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        request.method = start.value(0);
        request.path = start.value(1);
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return; // the body is still coming
        parseMultipart(request, buffer.mid(headerEnd + 4, length));
        m_buffers.remove(socket);
        requests.append(request);
        const Reply reply = respond(request);
        if (reply.hold)
            m_held.append(socket);
        else
            answer(socket, reply);
    }

    static void parseMultipart(Request& request, const QByteArray& body)
    {
        const QByteArray type = request.headers.value("content-type");
        const qsizetype at = type.indexOf("boundary=");
        if (at < 0)
            return;
        QByteArray boundary = type.mid(at + 9);
        if (boundary.startsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
        const QByteArray delimiter = "--" + boundary;
        qsizetype position = body.indexOf(delimiter);
        while (position >= 0) {
            const qsizetype partStart = position + delimiter.size();
            if (body.mid(partStart, 2) == "--")
                break;
            const qsizetype next = body.indexOf(delimiter, partStart);
            if (next < 0)
                break;
            // Each part: CRLF, headers, CRLF CRLF, content, CRLF, then the next delimiter.
            const QByteArray part = body.mid(partStart + 2, next - partStart - 4);
            const qsizetype split = part.indexOf("\r\n\r\n");
            const QByteArray headers = part.left(split);
            const QByteArray content = part.mid(split + 4);
            QByteArray name;
            QByteArray partType;
            for (const QByteArray& line : headers.split('\n')) {
                const QByteArray lower = line.trimmed().toLower();
                if (lower.startsWith("content-disposition:")) {
                    const qsizetype n = line.indexOf("name=\"");
                    name = line.mid(n + 6, line.indexOf('"', n + 6) - n - 6);
                    const qsizetype f = line.indexOf("filename=\"");
                    if (f >= 0)
                        request.fileName = line.mid(f + 10, line.indexOf('"', f + 10) - f - 10);
                } else if (lower.startsWith("content-type:")) {
                    partType = line.mid(line.indexOf(':') + 1).trimmed();
                }
            }
            request.fields.insert(name, content);
            request.partTypes.insert(name, partType);
            position = next;
        }
    }

    static void answer(QTcpSocket* socket, const Reply& reply)
    {
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                      " Status\r\nContent-Type: application/json\r\n"
                      "Content-Length: " +
                      QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<QPointer<QTcpSocket>> m_held;
};

} // namespace quenda::tests
