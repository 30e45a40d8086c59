#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;
class QObject;

namespace quenda::fakes {

// A request as the server received it. Header names are lower-cased.
struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    QJsonObject json() const;

    // One part of a multipart/form-data body.
    struct Part {
        QByteArray contentType;
        QByteArray fileName;
        QByteArray content;
    };
    // The parts of a multipart/form-data body by name (empty for any other body).
    QMap<QByteArray, Part> parts() const;
};

// A reply, written to the wire exactly as described: the head, then each body chunk after its own delay,
// then the ending.
struct FakeReply {
    struct Chunk {
        QByteArray bytes;
        int delayMsec = 0;
    };
    enum class Framing {
        ContentLength, // Content-Length: the sum of the chunks
        Chunked,       // Transfer-Encoding: chunked, one HTTP chunk per body chunk
        CloseDelimited // neither: the body ends when the connection closes
    };
    enum class Ending {
        Complete,   // the body is finished properly, then the connection is closed
        Disconnect, // the connection is closed right after the last chunk, mid-body
        Stall,      // after the last chunk nothing more is sent and the connection stays open
    };

    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QList<Chunk> body;
    Framing framing = Framing::ContentLength;
    Ending ending = Ending::Complete;
    bool held = false; // wait for releaseHeld() before the head
    // Called on the server thread right after each body chunk has been written.
    std::function<void(int chunk, std::chrono::steady_clock::time_point)> onChunkWritten;

    static FakeReply json(int status, const QJsonObject& object);
    static FakeReply json(int status, const QByteArray& body);
    static FakeReply text(int status, const QByteArray& body, const QByteArray& contentType = "text/plain");
    // A server-sent-events reply: each event's bytes as one chunk, the first after `firstDelayMsec`, the
    // others `perChunkDelayMsec` apart.
    static FakeReply events(const QList<QByteArray>& chunks, int firstDelayMsec = 0,
                            int perChunkDelayMsec = 0);
};

// A real HTTP/1.1 server on 127.0.0.1 (a free port), on its own thread. Replies come from the queue filled by
// enqueue(), else from the handler (404 without one). Every connection is closed after its reply.
class FakeHttpServer {
public:
    using Handler = std::function<FakeReply(const RecordedRequest&)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path = QStringLiteral("/")) const { return QUrl(origin() + path); }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    void setHandler(Handler handler);
    void enqueue(FakeReply reply);

    QList<RecordedRequest> requests() const;
    int requestCount() const { return int(requests().size()); }
    // Waits (processing the caller's events) until at least `count` requests have arrived.
    bool waitForRequests(int count, int timeoutMsec = 5000) const;
    // Sends every held reply.
    void releaseHeld();

private:
    friend class ServerConnection;
    FakeReply replyFor(const RecordedRequest& request); // records the request, then picks its reply

    mutable QMutex m_mutex;
    QList<RecordedRequest> m_requests;
    QList<FakeReply> m_queue;
    Handler m_handler;

    QThread* m_thread = nullptr;
    QObject* m_context = nullptr;
    quint16 m_port = 0;
};

// The wire formats of the services.
namespace wire {
// "data: {"choices":[{"delta":{"content":…}}]}" (one line, no terminator)
QByteArray groqDelta(const QString& content);
QByteArray groqDone();                              // "data: [DONE]"
QJsonObject groqCompletion(const QString& content); // {"choices":[{"message":{"content":…}}]}
QByteArray backendToken(const QString& token);      // "data: {"token":…}"
// A streamed Groq reply: one event per piece ("data: …\n\n"), then [DONE].
FakeReply groqStream(const QStringList& pieces, int firstDelayMsec = 0, int perPieceDelayMsec = 0);
// A transcription reply: {"text":…}.
FakeReply transcription(const QString& text, bool held = false);
} // namespace wire

} // namespace quenda::fakes
