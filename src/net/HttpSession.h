#pragma once

#include "net/ServiceError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace quenda {

namespace detail {
struct ExchangeControl;
struct SessionState;
} // namespace detail

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
};

struct HttpResponse {
    int statusCode = 0; // 0: the reply was not an HTTP reply
    QByteArray body;
};

// The head of a reply: its status and its headers as they came.
struct HttpHead {
    int statusCode = 0;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // The first header of that name (case-insensitive); empty when there is none.
    QByteArray header(QByteArrayView name) const;
};

// A request in flight. Cancelling it (from any thread) aborts the transfer; its completion then reports
// ServiceError::Kind::Cancelled. Copies share the request; a default handle is empty.
class RequestHandle {
public:
    RequestHandle() = default;
    explicit RequestHandle(std::shared_ptr<detail::ExchangeControl> control)
        : m_control(std::move(control))
    {}
    // A handle for work that runs elsewhere than in a session: cancelling it only marks it cancelled.
    static RequestHandle unattached();
    void cancel() const;
    bool isCancelled() const;
    bool isValid() const { return m_control != nullptr; }

private:
    std::shared_ptr<detail::ExchangeControl> m_control;
};

// An HTTP session: the client's own connection pool with its two limits, like a URL session configured with a
// request timeout (the longest wait for further data) and a resource timeout (the longest whole exchange).
// All transfers run on one process-wide network thread; completions and line handlers are called there, never
// on the caller's thread. Once the session is destroyed (or the application object is gone, with the network
// thread) none of its handlers is called again.
class HttpSession {
public:
    struct Timeouts {
        int idleMsec = 0;  // 0: no limit
        int totalMsec = 0; // 0: no limit
    };

    explicit HttpSession(Timeouts timeouts);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    Timeouts timeouts() const { return m_timeouts; }

    using Completion = std::function<void(Result<HttpResponse>)>;
    // Sends the request and delivers the whole reply. Transport failures, timeouts and cancellation are
    // errors; any HTTP status is a response.
    RequestHandle send(HttpRequest request, Completion done);

    struct StreamHandlers {
        // The reply's head has arrived (status 0 when it is not HTTP). An error ends the exchange with it and
        // the body is not read.
        std::function<std::optional<ServiceError>(int statusCode)> onHead;
        // One line of the body, without its terminator, as soon as it is complete. False stops reading; the
        // exchange then ends successfully.
        std::function<bool(QByteArrayView line)> onLine;
        // Called once: nothing on success (the body ended or a handler stopped it), else the error.
        std::function<void(std::optional<ServiceError>)> done;
    };
    // Sends the request and reads the body line by line as it arrives.
    RequestHandle stream(HttpRequest request, StreamHandlers handlers);

    struct DownloadHandlers {
        // The head of the final reply (redirects are followed). An error ends the exchange with it.
        std::function<std::optional<ServiceError>(const HttpHead& head)> onHead;
        // The body's bytes as they arrive. False stops reading; the exchange then ends successfully.
        std::function<bool(QByteArrayView bytes)> onData;
        // Called once: nothing when the body ended or a handler stopped it, else the error.
        std::function<void(std::optional<ServiceError>)> done;
    };
    // Sends the request and hands the body on as it arrives, bytes as they are: for files too large to
    // hold in memory.
    RequestHandle download(HttpRequest request, DownloadHandlers handlers);

private:
    Timeouts m_timeouts;
    std::shared_ptr<detail::SessionState> m_state;
};

} // namespace quenda
