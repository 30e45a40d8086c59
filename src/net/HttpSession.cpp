#include "net/HttpSession.h"

#include "base/WorkerThread.h"
#include "net/SseLineReader.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace quenda {

namespace detail {

struct SessionState {
    HttpSession::Timeouts timeouts;
    std::atomic_bool closing{false};
    QNetworkAccessManager* manager = nullptr; // network thread only
};

struct ExchangeControl {
    std::atomic_bool cancelled{false};
    std::function<void()> abort; // network thread only; set while the transfer runs
};

} // namespace detail

namespace {

// The process-wide network thread ("the shared task pool" of the HTTP requests), until the application
// object goes away.
WorkerThread& networkThread()
{
    static WorkerThread* const thread = [] {
        auto* worker = new WorkerThread(QStringLiteral("quenda-network"));
        qAddPostRoutine([] { networkThread().stop(); });
        return worker;
    }();
    return *thread;
}

// Errors below 200 come from the connection itself; from 200 on Qt maps HTTP statuses to errors, and
// those replies are still HTTP replies with a body.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && int(error) < 200;
}

int statusOf(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
}

// One transfer, on the network thread. Owned by its reply, so it goes when the reply goes.
class Exchange : public QObject {
public:
    Exchange(QNetworkReply* reply, std::shared_ptr<detail::SessionState> session,
             std::shared_ptr<detail::ExchangeControl> control)
        : QObject(reply)
        , m_reply(reply)
        , m_session(std::move(session))
        , m_control(std::move(control))
    {
        const HttpSession::Timeouts limits = m_session->timeouts;
        if (limits.idleMsec > 0) {
            m_idle.setSingleShot(true);
            m_idle.setInterval(limits.idleMsec);
            connect(&m_idle, &QTimer::timeout, this, [this] { abortWith(ServiceError::timedOut()); });
            m_idle.start();
        }
        if (limits.totalMsec > 0) {
            m_total.setSingleShot(true);
            m_total.setInterval(limits.totalMsec);
            connect(&m_total, &QTimer::timeout, this, [this] { abortWith(ServiceError::timedOut()); });
            m_total.start();
        }
        auto activity = [this] {
            if (m_idle.isActive())
                m_idle.start();
        };
        connect(reply, &QNetworkReply::metaDataChanged, this, activity);
        connect(reply, &QNetworkReply::uploadProgress, this, activity);
        connect(reply, &QNetworkReply::downloadProgress, this, activity);
        connect(reply, &QNetworkReply::finished, this, [this] { onFinished(); });

        QPointer<Exchange> self(this);
        m_control->abort = [self] {
            if (self)
                self->abortWith(ServiceError::cancelled());
        };
    }

    void setWholeBody(HttpSession::Completion done) { m_completion = std::move(done); }

    void setDownload(HttpSession::DownloadHandlers handlers)
    {
        m_onBytes = std::move(handlers.onData);
        auto onHead = std::move(handlers.onHead);
        setStreaming({[this, onHead](int status) {
                          return onHead(HttpHead{status, m_reply->rawHeaderPairs()});
                      },
                      {},
                      std::move(handlers.done)});
    }

    void setStreaming(HttpSession::StreamHandlers handlers)
    {
        m_stream = std::move(handlers);
        m_streaming = true;
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { handleHead(); });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { readLines(); });
    }

private:
    void abortWith(ServiceError reason)
    {
        if (m_ended || m_abortReason)
            return;
        m_abortReason = std::move(reason);
        m_reply->abort(); // emits finished, which reports the reason
    }

    // Stream mode: the status decides whether the body is read at all.
    bool handleHead()
    {
        if (m_headHandled)
            return !m_ended;
        if (m_reply->error() != QNetworkReply::NoError && isTransportError(m_reply->error()))
            return false; // finished() reports it
        if (!m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && m_reply->isRunning())
            return false; // no head yet
        const int status = statusOf(m_reply);
        if (m_onBytes && status >= 300 && status < 400 && m_reply->isRunning())
            return false; // a redirect being followed: the head that counts comes later
        m_headHandled = true;
        if (std::optional<ServiceError> refusal = m_stream.onHead(statusOf(m_reply))) {
            end(std::move(refusal));
            return false;
        }
        return true;
    }

    void readLines()
    {
        if (m_ended || !handleHead())
            return;
        const QByteArray bytes = m_reply->readAll();
        if (!feed(bytes))
            end(std::nullopt); // the consumer has what it wanted
    }

    void onFinished()
    {
        if (m_ended)
            return;
        if (m_abortReason) {
            end(m_abortReason);
            return;
        }
        const QNetworkReply::NetworkError error = m_reply->error();
        if (!m_streaming) {
            if (isTransportError(error))
                finishWhole(ServiceError::transport(m_reply->errorString()));
            else
                finishWhole(HttpResponse{statusOf(m_reply), m_reply->readAll()});
            return;
        }
        if (isTransportError(error)) {
            end(ServiceError::transport(m_reply->errorString()));
            return;
        }
        if (!handleHead())
            return;
        const QByteArray rest = m_reply->readAll();
        if (m_onBytes)
            feed(rest);
        else if (m_reader.feed(rest, m_stream.onLine))
            m_reader.finish(m_stream.onLine);
        end(std::nullopt);
    }

    // The body's bytes to the consumer: as lines, or as they are for a download. False: it wants no more.
    bool feed(const QByteArray& bytes)
    {
        if (!m_onBytes)
            return m_reader.feed(bytes, m_stream.onLine);
        return bytes.isEmpty() || m_onBytes(bytes);
    }

    void finishWhole(Result<HttpResponse> result)
    {
        m_ended = true;
        stopTimers();
        if (!m_session->closing)
            m_completion(std::move(result));
        m_reply->deleteLater();
    }

    void end(std::optional<ServiceError> error)
    {
        if (!m_streaming) {
            finishWhole(error ? Result<HttpResponse>(*error) : Result<HttpResponse>(HttpResponse{}));
            return;
        }
        m_ended = true;
        stopTimers();
        // A reply still running is dropped with its connection when it is deleted (later: this may run inside
        // one of its own signals, where aborting it confuses it).
        m_reply->disconnect(this);
        if (!m_session->closing)
            m_stream.done(std::move(error));
        m_reply->deleteLater();
    }

    void stopTimers()
    {
        m_idle.stop();
        m_total.stop();
        m_control->abort = nullptr;
    }

    QNetworkReply* m_reply;
    std::shared_ptr<detail::SessionState> m_session;
    std::shared_ptr<detail::ExchangeControl> m_control;
    QTimer m_idle;
    QTimer m_total;
    bool m_streaming = false;
    bool m_headHandled = false;
    bool m_ended = false;
    std::optional<ServiceError> m_abortReason;
    HttpSession::Completion m_completion;
    HttpSession::StreamHandlers m_stream;
    std::function<bool(QByteArrayView)> m_onBytes; // download mode
    SseLineReader m_reader;
};

QNetworkReply* startTransfer(detail::SessionState& session, const HttpRequest& request)
{
    if (!session.manager) {
        session.manager = new QNetworkAccessManager;
        session.manager->setAutoDeleteReplies(false);
    }
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    if (request.body)
        return session.manager->sendCustomRequest(networkRequest, request.method, *request.body);
    return session.manager->sendCustomRequest(networkRequest, request.method);
}

} // namespace

QByteArray HttpHead::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

RequestHandle RequestHandle::unattached()
{
    return RequestHandle(std::make_shared<detail::ExchangeControl>());
}

void RequestHandle::cancel() const
{
    if (!m_control || m_control->cancelled.exchange(true))
        return;
    networkThread().post([control = m_control] {
        if (control->abort)
            control->abort();
    });
}

bool RequestHandle::isCancelled() const
{
    return m_control && m_control->cancelled.load();
}

HttpSession::HttpSession(Timeouts timeouts)
    : m_timeouts(timeouts)
    , m_state(std::make_shared<detail::SessionState>())
{
    m_state->timeouts = timeouts;
}

HttpSession::~HttpSession()
{
    m_state->closing = true;
    // Waits until no handler of this session runs; then deletes the manager and, with it, its replies.
    networkThread().sync([state = m_state] {
        delete state->manager;
        state->manager = nullptr;
    });
}

RequestHandle HttpSession::send(HttpRequest request, Completion done)
{
    auto control = std::make_shared<detail::ExchangeControl>();
    // Refused only once the application has ended: then no handler is called at all, as for a closed session.
    networkThread().post([state = m_state, control, request = std::move(request), done]() mutable {
        if (state->closing)
            return;
        if (control->cancelled) {
            done(ServiceError::cancelled());
            return;
        }
        auto* exchange = new Exchange(startTransfer(*state, request), state, control);
        exchange->setWholeBody(std::move(done));
    });
    return RequestHandle(control);
}

RequestHandle HttpSession::download(HttpRequest request, DownloadHandlers handlers)
{
    auto control = std::make_shared<detail::ExchangeControl>();
    networkThread().post(
        [state = m_state, control, request = std::move(request), handlers = std::move(handlers)]() mutable {
            if (state->closing)
                return;
            if (control->cancelled) {
                handlers.done(ServiceError::cancelled());
                return;
            }
            auto* exchange = new Exchange(startTransfer(*state, request), state, control);
            exchange->setDownload(std::move(handlers));
        });
    return RequestHandle(control);
}

RequestHandle HttpSession::stream(HttpRequest request, StreamHandlers handlers)
{
    auto control = std::make_shared<detail::ExchangeControl>();
    networkThread().post(
        [state = m_state, control, request = std::move(request), handlers = std::move(handlers)]() mutable {
            if (state->closing)
                return;
            if (control->cancelled) {
                handlers.done(ServiceError::cancelled());
                return;
            }
            auto* exchange = new Exchange(startTransfer(*state, request), state, control);
            exchange->setStreaming(std::move(handlers));
        });
    return RequestHandle(control);
}

} // namespace quenda
