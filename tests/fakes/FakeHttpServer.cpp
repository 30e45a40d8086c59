#include "fakes/FakeHttpServer.h"
#include "fakes/Waiting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace quenda::fakes {

QJsonObject RecordedRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QMap<QByteArray, RecordedRequest::Part> RecordedRequest::parts() const
{
    QMap<QByteArray, Part> parts;
    const QByteArray type = header("content-type");
    const qsizetype at = type.indexOf("boundary=");
    if (at < 0)
        return parts;
    const QByteArray delimiter = "--" + type.mid(at + 9).replace('"', "");
    // Each part: the delimiter, CRLF, headers, CRLF CRLF, content, CRLF, then the next delimiter.
    for (qsizetype position = body.indexOf(delimiter), next = 0;
         position >= 0 && (next = body.indexOf(delimiter, position + delimiter.size())) >= 0;
         position = next) {
        const qsizetype start = position + delimiter.size() + 2;
        const QByteArray part = body.mid(start, next - start - 2);
        const qsizetype split = part.indexOf("\r\n\r\n");
        const QString head = QString::fromUtf8(part.left(split));
        auto find = [&](const char* pattern) {
            const QRegularExpression expression(QLatin1String(pattern),
                                                QRegularExpression::CaseInsensitiveOption);
            return expression.match(head).captured(1).trimmed().toUtf8();
        };
        parts.insert(find(R"re(\bname="([^"]*)")re"),
                     Part{find(R"re(content-type:([^\r\n]*))re"), find(R"re(filename="([^"]*)")re"),
                          part.mid(split + 4)});
    }
    return parts;
}

FakeReply FakeReply::json(int status, const QJsonObject& object)
{
    return json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeReply FakeReply::json(int status, const QByteArray& body)
{
    return text(status, body, "application/json");
}

FakeReply FakeReply::text(int status, const QByteArray& body, const QByteArray& contentType)
{
    FakeReply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", contentType}};
    reply.body = {Chunk{body, 0}};
    return reply;
}

FakeReply FakeReply::events(const QList<QByteArray>& chunks, int firstDelayMsec, int perChunkDelayMsec)
{
    FakeReply reply;
    reply.headers = {{"Content-Type", "text/event-stream"}, {"Cache-Control", "no-cache"}};
    reply.framing = Framing::Chunked;
    for (qsizetype i = 0; i < chunks.size(); ++i)
        reply.body.append(Chunk{chunks[i], i == 0 ? firstDelayMsec : perChunkDelayMsec});
    return reply;
}

// One accepted connection, on the server thread: reads one request, writes one reply.
class ServerConnection : public QObject {
public:
    ServerConnection(FakeHttpServer& server, QTcpSocket* socket)
        : m_server(server)
        , m_socket(socket)
    {
        socket->setParent(this);
        setObjectName(QStringLiteral("connection")); // no meta-object of its own: found by name
        connect(socket, &QTcpSocket::readyRead, this, [this] { readRequest(); });
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

    void release()
    {
        if (std::exchange(m_reply.held, false))
            QTimer::singleShot(0, this, [this] { writeHead(); });
    }

private:
    void readRequest()
    {
        if (m_haveRequest)
            return;
        m_buffer += m_socket->readAll();
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        RecordedRequest request;
        const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (m_buffer.size() - (headEnd + 4) < length)
            return; // the body is still coming
        request.body = m_buffer.mid(headEnd + 4, length);
        m_haveRequest = true;
        m_reply = m_server.replyFor(request);
        if (!m_reply.held)
            QTimer::singleShot(0, this, [this] { writeHead(); });
    }

    void writeHead()
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_reply.status) +
                          (m_reply.status == 200 ? " OK\r\n" : " Status\r\n");
        // A reply that breaks off mid-body promised a persistent connection, as streaming servers do, so
        // the client cannot take the closing for the end of the body.
        if (m_reply.ending != FakeReply::Ending::Disconnect)
            head += "Connection: close\r\n";
        for (const auto& [name, value] : m_reply.headers)
            head += name + ": " + value + "\r\n";
        const bool lengthGiven =
            std::any_of(m_reply.headers.begin(), m_reply.headers.end(),
                        [](const auto& header) { return header.first.toLower() == "content-length"; });
        if (m_reply.framing == FakeReply::Framing::ContentLength && !lengthGiven) {
            qsizetype total = 0;
            for (const FakeReply::Chunk& chunk : m_reply.body)
                total += chunk.bytes.size();
            head += "Content-Length: " + QByteArray::number(total) + "\r\n";
        } else if (m_reply.framing == FakeReply::Framing::Chunked) {
            head += "Transfer-Encoding: chunked\r\n";
        }
        head += "\r\n";
        m_socket->write(head);
        m_socket->flush();
        writeChunk(0);
    }

    void writeChunk(int index)
    {
        if (index >= m_reply.body.size())
            return end();
        const FakeReply::Chunk& chunk = m_reply.body[index];
        QTimer::singleShot(chunk.delayMsec, Qt::PreciseTimer, this, [this, index] {
            const QByteArray& bytes = m_reply.body[index].bytes;
            if (m_reply.framing == FakeReply::Framing::Chunked) {
                if (!bytes.isEmpty())
                    m_socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
            } else {
                m_socket->write(bytes);
            }
            m_socket->flush();
            if (m_reply.onChunkWritten)
                m_reply.onChunkWritten(index, std::chrono::steady_clock::now());
            writeChunk(index + 1);
        });
    }

    void end()
    {
        if (m_reply.ending == FakeReply::Ending::Stall)
            return;
        // A reply broken off mid-body gets no terminating chunk, and fewer bytes than it announced.
        if (m_reply.ending == FakeReply::Ending::Complete && m_reply.framing == FakeReply::Framing::Chunked)
            m_socket->write("0\r\n\r\n");
        m_socket->flush();
        m_socket->disconnectFromHost();
    }

    FakeHttpServer& m_server;
    QTcpSocket* m_socket;
    QByteArray m_buffer;
    bool m_haveRequest = false;
    FakeReply m_reply;
};

FakeHttpServer::FakeHttpServer()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("fake-http-server"));
    m_context = new QObject;
    m_context->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            auto* server = new QTcpServer(m_context);
            server->listen(QHostAddress::LocalHost, 0);
            m_port = server->serverPort();
            QObject::connect(server, &QTcpServer::newConnection, m_context, [this, server] {
                while (QTcpSocket* socket = server->nextPendingConnection()) {
                    auto* connection = new ServerConnection(*this, socket);
                    connection->setParent(m_context);
                }
            });
        },
        Qt::BlockingQueuedConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void FakeHttpServer::setHandler(Handler handler)
{
    QMutexLocker locker(&m_mutex);
    m_handler = std::move(handler);
}

void FakeHttpServer::enqueue(FakeReply reply)
{
    QMutexLocker locker(&m_mutex);
    m_queue.append(std::move(reply));
}

FakeReply FakeHttpServer::replyFor(const RecordedRequest& request)
{
    Handler handler;
    {
        QMutexLocker locker(&m_mutex);
        m_requests.append(request);
        if (!m_queue.isEmpty())
            return m_queue.takeFirst();
        handler = m_handler;
    }
    if (handler)
        return handler(request);
    return FakeReply::text(404, "no reply configured");
}

QList<RecordedRequest> FakeHttpServer::requests() const
{
    QMutexLocker locker(&m_mutex);
    return m_requests;
}

bool FakeHttpServer::waitForRequests(int count, int timeoutMsec) const
{
    return waitUntil([&] { return requestCount() >= count; }, timeoutMsec);
}

void FakeHttpServer::releaseHeld()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            for (QObject* child :
                 m_context->findChildren<QObject*>(QStringLiteral("connection"), Qt::FindDirectChildrenOnly))
                static_cast<ServerConnection*>(child)->release();
        },
        Qt::BlockingQueuedConnection);
}

namespace wire {

namespace {
QByteArray dataLine(const QJsonObject& object)
{
    return "data: " + QJsonDocument(object).toJson(QJsonDocument::Compact);
}
QJsonObject choices(const QString& member, const QJsonObject& value)
{
    return {
        {QStringLiteral("choices"), QJsonArray{QJsonObject{{QStringLiteral("index"), 0}, {member, value}}}}};
}
} // namespace

QByteArray groqDelta(const QString& content)
{
    return dataLine(choices(QStringLiteral("delta"), {{QStringLiteral("content"), content}}));
}

QByteArray groqDone()
{
    return "data: [DONE]";
}

QJsonObject groqCompletion(const QString& content)
{
    return choices(QStringLiteral("message"), {{QStringLiteral("role"), QStringLiteral("assistant")},
                                               {QStringLiteral("content"), content}});
}

QByteArray backendToken(const QString& token)
{
    return dataLine({{QStringLiteral("token"), token}});
}

FakeReply groqStream(const QStringList& pieces, int firstDelayMsec, int perPieceDelayMsec)
{
    QList<QByteArray> events;
    for (const QString& piece : pieces)
        events << groqDelta(piece) + "\n\n";
    return FakeReply::events(events << groqDone() + "\n\n", firstDelayMsec, perPieceDelayMsec);
}

FakeReply transcription(const QString& text, bool held)
{
    FakeReply reply = FakeReply::json(200, QJsonObject{{QStringLiteral("text"), text}});
    reply.held = held;
    return reply;
}

} // namespace wire

} // namespace quenda::fakes
