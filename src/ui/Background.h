#pragma once

#include "base/Scheduler.h"

#include <QThreadPool>

#include <type_traits>
#include <utility>

namespace quenda {

// Runs `work` on a pool thread and hands its result to `deliver` on the main queue: what a window needs
// from a slow store (the keyring, a long training log) never holds up the main thread. `deliver` should
// be guarded by its owner's Lifetime; the main queue outlives every window.
template <class Work, class Deliver>
void inBackground(Scheduler& mainQueue, Work work, Deliver deliver)
{
    QThreadPool::globalInstance()->start(
        [&mainQueue, work = std::move(work), deliver = std::move(deliver)]() mutable {
            if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
                work();
                mainQueue.post(std::move(deliver));
            } else {
                mainQueue.post([deliver = std::move(deliver), result = work()]() mutable {
                    deliver(std::move(result));
                });
            }
        });
}

} // namespace quenda
