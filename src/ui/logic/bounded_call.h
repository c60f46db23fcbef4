#pragma once
// A file-system call that the window's thread may wait for only briefly: it
// runs on a thread of its own; when it answers within the budget (a local
// disk always does) the window goes on with the answer at once, as if it
// had made the call itself; when it does not (a hung network mount), the
// window goes on without it and the answer is handed over later, on the
// application's thread.  The thread is never joined: a call stuck in the
// kernel keeps only that thread, and the program can still end.

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace toka {

/// work's value when it came within budget; else std::nullopt, and late
/// gets the value when it comes, unless alive has expired by then.
template <class T>
std::optional<T> callWithin(std::chrono::milliseconds budget, std::function<T()> work, std::weak_ptr<void> alive,
                            std::function<void(T)> late) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<T> value;
        bool gaveUp = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work), alive = std::move(alive), late = std::move(late)] {
        T value = work();
        std::lock_guard lock(shared->mutex);
        if (!shared->gaveUp) {
            shared->value = std::move(value);
            shared->done.notify_all();
            return;
        }
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app,
                [alive, late, value = std::move(value)] {
                    if (!alive.expired()) late(value);
                },
                Qt::QueuedConnection);
        }
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (shared->done.wait_for(lock, budget, [&] { return shared->value.has_value(); })) return std::move(shared->value);
    shared->gaveUp = true;
    return std::nullopt;
}

} // namespace toka
