#include "ui/logic/entry_details_reader.h"

namespace toka {

EntryDetailsReader::EntryDetailsReader(LocaleFormat locale, Done done, QObject* parent)
    : QObject(parent), m_done(std::move(done)), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
    m_shared->locale = std::move(locale);
    m_worker = std::thread([shared = m_shared] { work(shared); });
}

EntryDetailsReader::~EntryDetailsReader() {
    bool busy = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->quit = true;
        m_shared->waiting.reset();
        busy = m_shared->busy;
        m_shared->changed.notify_all();
    }
    // An idle worker ends at once; a busy one may be inside a call that
    // never returns, and ends by itself when it does.
    if (busy) m_worker.detach();
    else m_worker.join();
}

void EntryDetailsReader::read(std::uint64_t generation, std::vector<RankedEntry> entries) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->waiting = Batch{generation, std::move(entries)};
    m_shared->changed.notify_all();
}

void EntryDetailsReader::setObserver(std::function<void(std::string_view path)> observer) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->observer = std::move(observer);
}

void EntryDetailsReader::work(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->quit || shared->waiting; });
        if (shared->quit) return;
        Batch batch = std::move(*shared->waiting);
        shared->waiting.reset();
        shared->busy = true;
        const std::function<void(std::string_view)> observer = shared->observer;
        const LocaleFormat locale = shared->locale;
        lock.unlock();

        Details details;
        details.reserve(batch.entries.size());
        for (const RankedEntry& entry : batch.entries) {
            {
                // A reader gone wants no more of this batch.
                std::lock_guard stop(shared->mutex);
                if (shared->quit) break;
            }
            std::string path = entry.path();
            if (observer) observer(path);
            details.emplace_back(std::move(path), readEntryDetails(entry.location, entry.name, locale));
        }

        lock.lock();
        shared->busy = false;
        // Under the lock the reader cannot go away before the call is
        // queued; a queued call whose reader is gone by then is dropped.
        if (EntryDetailsReader* owner = shared->owner) {
            QMetaObject::invokeMethod(
                owner,
                [owner, generation = batch.generation, details = std::move(details)]() mutable {
                    owner->m_done(generation, std::move(details));
                },
                Qt::QueuedConnection);
        }
    }
}

} // namespace toka
