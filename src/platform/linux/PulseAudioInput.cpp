#include "platform/linux/PulseAudioInput.h"

#include <QByteArray>

#include <pulse/pulseaudio.h>

#include <functional>

namespace quenda {

namespace {

constexpr AudioInput::Format speechFormat{16000, 1, AudioBuffer::SampleFormat::Int16};

QString noInputDevice()
{
    return QStringLiteral("No audio input device available");
}

} // namespace

// One connection to the sound server, with its own thread (the server's threaded main loop) and, while
// recording, one record stream. Everything below runs with the loop locked unless it says otherwise.
class PulseAudioInput::Connection {
public:
    ~Connection()
    {
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        closeStream();
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

    // Connects, or says why not. Returns with the loop unlocked.
    static std::unique_ptr<Connection> open(QString* error)
    {
        auto connection = std::unique_ptr<Connection>(new Connection);
        connection->m_loop = pa_threaded_mainloop_new();
        if (!connection->m_loop || pa_threaded_mainloop_start(connection->m_loop) < 0) {
            *error = QStringLiteral("The sound server's connection could not be made.");
            return nullptr;
        }
        Connection& c = *connection;
        pa_threaded_mainloop_lock(c.m_loop);
        c.m_context = pa_context_new(pa_threaded_mainloop_get_api(c.m_loop), "Quenda");
        bool ready = false;
        if (c.m_context) {
            pa_context_set_state_callback(c.m_context, &Connection::signal, &c);
            if (pa_context_connect(c.m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
                ready = c.waitUntil([&c] {
                    const pa_context_state_t state = pa_context_get_state(c.m_context);
                    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                }) && pa_context_get_state(c.m_context) == PA_CONTEXT_READY;
            }
        }
        pa_threaded_mainloop_unlock(c.m_loop);
        if (!ready) {
            *error = QStringLiteral("The sound server is not running or does not answer.");
            return nullptr;
        }
        return connection;
    }

    // The default source, when it is a real input (not the monitor of a speaker). Locks the loop.
    std::optional<QByteArray> usableDefaultSource()
    {
        Locked locked(m_loop);
        struct Query {
            Connection* self;
            QByteArray name;
            bool done = false;
            bool isMonitor = false;
            bool found = false;
        } query{this, {}};
        pa_operation* server = pa_context_get_server_info(
            m_context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* q = static_cast<Query*>(data);
                if (info && info->default_source_name)
                    q->name = info->default_source_name;
                q->done = true;
                pa_threaded_mainloop_signal(q->self->m_loop, 0);
            },
            &query);
        if (!finish(server, [&query] { return query.done; }) || query.name.isEmpty())
            return std::nullopt;
        query.done = false;
        pa_operation* source = pa_context_get_source_info_by_name(
            m_context, query.name.constData(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* q = static_cast<Query*>(data);
                if (info) {
                    q->found = true;
                    q->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                }
                if (eol != 0) {
                    q->done = true;
                    pa_threaded_mainloop_signal(q->self->m_loop, 0);
                }
            },
            &query);
        if (!finish(source, [&query] { return query.done; }) || !query.found || query.isMonitor)
            return std::nullopt;
        return query.name;
    }

    // Starts the record stream from the source; buffers then arrive on the server's thread.
    std::optional<QString> record(const QByteArray& source, const Format& format, int framesPerBuffer,
                                  BufferCallback onBuffer)
    {
        Locked locked(m_loop);
        m_format = format;
        const int sampleBytes = format.sampleFormat == AudioBuffer::SampleFormat::Int16 ? 2 : 4;
        m_frameBytes = format.channelCount * sampleBytes;
        m_chunkBytes = qsizetype(framesPerBuffer) * m_frameBytes;
        m_onBuffer = std::move(onBuffer);
        const pa_sample_spec spec{
            format.sampleFormat == AudioBuffer::SampleFormat::Int16 ? PA_SAMPLE_S16LE : PA_SAMPLE_FLOAT32LE,
            uint32_t(format.sampleRate), uint8_t(format.channelCount)};
        m_stream = pa_stream_new(m_context, "Dictation", &spec, nullptr);
        if (!m_stream)
            return failure();
        pa_stream_set_state_callback(m_stream, &Connection::signal, this);
        pa_stream_set_read_callback(m_stream, &Connection::readable, this);
        // The server hands over what it captured every 20 ms: the first audio comes close to the start.
        pa_buffer_attr attributes{};
        attributes.maxlength = uint32_t(-1);
        attributes.fragsize = uint32_t(m_frameBytes * format.sampleRate / 50);
        if (pa_stream_connect_record(m_stream, source.constData(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
            return failure();
        const bool ready = waitUntil([this] {
            const pa_stream_state_t state = pa_stream_get_state(m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!ready || pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return failure();
        return std::nullopt;
    }

    // Hands over what the server already captured, then closes the stream: nothing arrives afterwards.
    void finishRecording()
    {
        Locked locked(m_loop);
        if (m_stream)
            take(true);
        closeStream();
    }

private:
    // Holds the loop's lock for a scope.
    class Locked {
    public:
        explicit Locked(pa_threaded_mainloop* loop)
            : m_loop(loop)
        {
            pa_threaded_mainloop_lock(m_loop);
        }
        ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
    };

    Connection() = default;

    static void signal(pa_context*, void* data)
    {
        pa_threaded_mainloop_signal(static_cast<Connection*>(data)->m_loop, 0);
    }
    static void signal(pa_stream*, void* data)
    {
        pa_threaded_mainloop_signal(static_cast<Connection*>(data)->m_loop, 0);
    }
    static void readable(pa_stream*, size_t, void* data) { static_cast<Connection*>(data)->take(false); }

    // Waits (the loop locked) until the condition holds or the server has taken too long to answer.
    bool waitUntil(const std::function<bool()>& condition)
    {
        struct Deadline {
            pa_threaded_mainloop* loop;
            bool passed = false;
        } deadline{m_loop};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(answerTimeoutMsec) * PA_USEC_PER_MSEC);
        pa_time_event* timer = api->time_new(
            api, &when,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                auto* d = static_cast<Deadline*>(data);
                d->passed = true;
                pa_threaded_mainloop_signal(d->loop, 0);
            },
            &deadline);
        while (!condition() && !deadline.passed)
            pa_threaded_mainloop_wait(m_loop);
        api->time_free(timer);
        return condition();
    }

    // Waits for an introspection operation to call back, then lets it go.
    bool finish(pa_operation* operation, const std::function<bool()>& done)
    {
        if (!operation)
            return false;
        const bool answered = waitUntil(done);
        if (!answered)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return answered;
    }

    std::optional<QString> failure()
    {
        const QString why = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        closeStream();
        return QStringLiteral("The microphone could not be opened (%1).").arg(why);
    }

    void closeStream()
    {
        if (!m_stream)
            return;
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
        m_onBuffer = {};
        m_pending.clear();
    }

    // Moves the captured audio into whole buffers; `flush` hands over the rest too.
    void take(bool flush)
    {
        const void* data = nullptr;
        size_t size = 0;
        while (m_stream && pa_stream_readable_size(m_stream) > 0 &&
               pa_stream_peek(m_stream, &data, &size) == 0 && size > 0) {
            if (data)
                m_pending.append(static_cast<const char*>(data), qsizetype(size));
            else
                m_pending.append(QByteArray(qsizetype(size), '\0')); // a hole in the stream is silence
            pa_stream_drop(m_stream);
        }
        // The first buffer goes out as soon as there is a little audio, so the level meter and the
        // recogniser start at once; the rest comes in whole buffers.
        if (!m_firstDelivered && m_pending.size() >= std::min(m_chunkBytes, m_frameBytes * 128)) {
            m_firstDelivered = true;
            deliver(m_pending.left(m_chunkBytes));
            m_pending.remove(0, std::min(m_pending.size(), m_chunkBytes));
        }
        while (m_pending.size() >= m_chunkBytes) {
            deliver(m_pending.left(m_chunkBytes));
            m_pending.remove(0, m_chunkBytes);
        }
        if (flush && !m_pending.isEmpty())
            deliver(std::exchange(m_pending, {}));
    }

    void deliver(QByteArray bytes)
    {
        if (!m_onBuffer)
            return;
        AudioBuffer buffer;
        buffer.format = m_format.sampleFormat;
        buffer.sampleRate = m_format.sampleRate;
        buffer.channelCount = m_format.channelCount;
        buffer.data = std::move(bytes);
        m_onBuffer(buffer);
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Format m_format;
    qsizetype m_frameBytes = 2;
    qsizetype m_chunkBytes = 2048;
    QByteArray m_pending;
    bool m_firstDelivered = false;
    BufferCallback m_onBuffer;
};

PulseAudioInput::PulseAudioInput() = default;

PulseAudioInput::~PulseAudioInput()
{
    stop();
}

AudioInput::Format PulseAudioInput::inputFormat()
{
    QString error;
    const std::unique_ptr<Connection> connection = Connection::open(&error);
    if (!connection || !connection->usableDefaultSource())
        return {};
    // Speech needs no more than 16 kHz mono; the server converts whatever the device records.
    return speechFormat;
}

std::optional<QString> PulseAudioInput::start(const Format& format, int framesPerBuffer,
                                              BufferCallback onBuffer)
{
    std::lock_guard lock(m_mutex);
    m_recording.reset();
    QString error;
    std::unique_ptr<Connection> connection = Connection::open(&error);
    if (!connection)
        return error;
    const std::optional<QByteArray> source = connection->usableDefaultSource();
    if (!source)
        return noInputDevice();
    if (std::optional<QString> failed =
            connection->record(*source, format, framesPerBuffer, std::move(onBuffer)))
        return failed;
    m_recording = std::move(connection);
    return std::nullopt;
}

void PulseAudioInput::stop()
{
    std::unique_ptr<Connection> recording;
    {
        std::lock_guard lock(m_mutex);
        recording = std::move(m_recording);
    }
    if (recording)
        recording->finishRecording();
}

} // namespace quenda
