#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <type_traits>
#include <utility>

namespace quenda {

// Runs `work` on a thread of the owner's pool and hands its result to `deliver` on the main thread: what a
// window needs from a slow store (the keyring, a long training log) never holds up the main thread. The
// owner keeps the pool as a member, so its jobs end before it does; the result travels through the
// application object, and `deliver` must be guarded by the owner's Lifetime.
template <class Work, class Deliver>
void inBackground(QThreadPool& pool, Work work, Deliver deliver)
{
    pool.start([work = std::move(work), deliver = std::move(deliver)]() mutable {
        QCoreApplication* app = QCoreApplication::instance();
        if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
            work();
            QMetaObject::invokeMethod(app, std::move(deliver), Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(
                app,
                [deliver = std::move(deliver), result = work()]() mutable { deliver(std::move(result)); },
                Qt::QueuedConnection);
        }
    });
}

} // namespace quenda
