#pragma once
// The summary at the right of the status bar: what the last search did and
// what the rows hold, beside the status text ("Ready", the walk's directory).

#include <QString>

#include <cstdint>
#include <optional>

namespace toka {

struct SearchSummary {
    bool searched = false;      ///< a search has run (or runs) in this window
    bool running = false;       ///< it is still walking
    std::uint64_t scanned = 0;  ///< entries scanned
    std::int64_t elapsedMs = 0; ///< time taken so far
    std::uint64_t skipped = 0;  ///< directories that could not be listed
    int marked = 0;             ///< marked rows that show an entry
    bool textTooShort = false;  ///< the search text has fewer than three letters
    bool enterSearches = false; ///< typing is on and no record answers the directory yet
    QString lastOperation;      ///< what the last file operation did ("" for none)
};

/// The summary's text: parts joined by " · ", for example
/// "1,204 entries scanned in 2.4 s · 1 directory skipped · 3 marked".
/// group formats a count with the desktop's digit grouping.
QString summaryText(const SearchSummary& summary, QString (*group)(std::uint64_t));

/// "3 items copied to Documents", "1 item moved to the trash": what a file
/// operation of count items did; kind 0 copy, 1 move, 2 delete, 3 trash.
QString operationSummary(int kind, std::size_t count, const QString& destination);

} // namespace toka
