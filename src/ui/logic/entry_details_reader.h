#pragma once
// Reads the details of the result rows' entries (lstat: kind, date, time,
// attributes, size) on a worker thread of its own, so that a slow or hung
// file system holds the worker, never the window.  One batch at a time: a
// batch asked for while another is read waits for it, and a later one
// replaces a batch still waiting.  Each batch's details come back on the
// thread that made the reader, through its event loop.

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "search/result_row.h"

namespace toka {

class EntryDetailsReader : public QObject {
public:
    /// The details of one batch, each with its entry's path (location + name).
    using Details = std::vector<std::pair<std::string, EntryDetails>>;
    using Done = std::function<void(std::uint64_t generation, Details details)>;

    /// done gets every batch's details on this object's thread, in the order
    /// the batches were read; the texts follow locale.
    EntryDetailsReader(LocaleFormat locale, Done done, QObject* parent = nullptr);
    /// Drops the batch waiting.  A worker inside a file-system call is left
    /// to end on its own (its answer goes nowhere), so that a hung mount
    /// cannot hold the window as it closes.
    ~EntryDetailsReader() override;
    EntryDetailsReader(const EntryDetailsReader&) = delete;
    EntryDetailsReader& operator=(const EntryDetailsReader&) = delete;

    /// Reads the details of entries for generation, in their order.
    void read(std::uint64_t generation, std::vector<RankedEntry> entries);
    /// Called on the worker before each entry is examined, with its path: a
    /// test holds the worker there as a hung mount would.
    void setObserver(std::function<void(std::string_view path)> observer);

private:
    struct Batch {
        std::uint64_t generation = 0;
        std::vector<RankedEntry> entries;
    };
    /// What the worker shares with the reader; it outlives the reader when
    /// the worker is left inside a call.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<Batch> waiting;
        bool busy = false;
        bool quit = false;
        EntryDetailsReader* owner = nullptr; ///< null once the reader is gone
        std::function<void(std::string_view)> observer;
        LocaleFormat locale;
    };
    static void work(const std::shared_ptr<Shared>& shared);

    Done m_done;
    std::shared_ptr<Shared> m_shared;
    std::thread m_worker;
};

} // namespace toka
