#include "ui/logic/search_summary.h"

#include <QStringList>

namespace toka {

namespace {

QString counted(std::uint64_t n, const char* one, const char* many, QString (*group)(std::uint64_t)) {
    return group(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QString duration(std::int64_t ms) {
    if (ms < 60'000) return QString::number(static_cast<double>(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
    const std::int64_t seconds = ms / 1000;
    return QStringLiteral("%1:%2 min").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString summaryText(const SearchSummary& summary, QString (*group)(std::uint64_t)) {
    QStringList parts;
    if (summary.textTooShort) parts << QStringLiteral("texts under 3 letters match nothing");
    else if (summary.enterSearches) parts << QStringLiteral("no recorded walk here yet: Enter searches");
    if (summary.searched) {
        parts << counted(summary.scanned, "entry scanned", "entries scanned", group)
                     + (summary.running ? QStringLiteral(", ") : QStringLiteral(" in ")) + duration(summary.elapsedMs);
        if (summary.skipped > 0) parts << counted(summary.skipped, "directory skipped", "directories skipped", group);
    }
    if (summary.marked > 0) parts << group(static_cast<std::uint64_t>(summary.marked)) + QStringLiteral(" marked");
    if (!summary.lastOperation.isEmpty()) parts << summary.lastOperation;
    return parts.join(QStringLiteral(" · "));
}

QString operationSummary(int kind, std::size_t count, const QString& destination) {
    const QString items = count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
    switch (kind) {
    case 0:
        return QStringLiteral("copy of %1 to %2 ended").arg(items, destination);
    case 1:
        return QStringLiteral("move of %1 to %2 ended").arg(items, destination);
    case 2:
        return QStringLiteral("delete of %1 ended").arg(items);
    default:
        return QStringLiteral("%1 moved to the trash").arg(items);
    }
}

} // namespace toka
