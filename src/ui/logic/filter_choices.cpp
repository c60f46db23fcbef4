#include "ui/logic/filter_choices.h"

#include <QRegularExpression>

namespace toka {

namespace {

std::vector<std::string> bytesOf(const QStringList& texts) {
    std::vector<std::string> bytes;
    for (const QString& text : texts) bytes.push_back(text.toUtf8().toStdString());
    return bytes;
}

std::optional<std::uint64_t> bytesOf(const SizeBound& bound) {
    if (bound.value <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(bound.value) << (10 * static_cast<int>(bound.unit));
}

} // namespace

QStringList excludePatternsOf(const QString& text) {
    static const QRegularExpression separators("[\\s;]+");
    QStringList patterns;
    for (QString pattern : text.split(separators, Qt::SkipEmptyParts)) {
        while (pattern.size() > 1 && pattern.endsWith('/')) pattern.chop(1);
        patterns << pattern;
    }
    return patterns;
}

QStringList extensionsOf(const QString& text) {
    static const QRegularExpression separators("[\\s,;]+");
    QStringList extensions;
    for (QString extension : text.split(separators, Qt::SkipEmptyParts)) {
        if (extension.startsWith('*')) extension.remove(0, 1);
        if (extension.startsWith('.')) extension.remove(0, 1);
        if (!extension.isEmpty()) extensions << extension;
    }
    return extensions;
}

WalkFilter walkFilterOf(const FilterChoices& choices, const QDateTime& now) {
    static constexpr unsigned kKinds[kKindChoiceCount] = {0, kKindFile, kKindDirectory, kKindSymlink, kKindSpecial};
    WalkFilter filter;
    filter.exclude = bytesOf(excludePatternsOf(choices.exclude));
    filter.skipHidden = choices.skipHidden;
    filter.kinds = kKinds[static_cast<int>(choices.kind)];
    filter.extensions = bytesOf(extensionsOf(choices.extensions));
    filter.minSize = bytesOf(choices.minSize);
    filter.maxSize = bytesOf(choices.maxSize);
    filter.oneFileSystem = choices.oneFileSystem;

    const QDateTime local = now.toLocalTime();
    const auto daysBack = [&](int days) { return local.addDays(-days).toSecsSinceEpoch(); };
    switch (choices.modified) {
    case ModifiedChoice::AnyTime:
        break;
    case ModifiedChoice::Today:
        filter.modifiedFrom = local.date().startOfDay().toSecsSinceEpoch();
        break;
    case ModifiedChoice::Last7Days:
        filter.modifiedFrom = daysBack(7);
        break;
    case ModifiedChoice::Last30Days:
        filter.modifiedFrom = daysBack(30);
        break;
    case ModifiedChoice::Last365Days:
        filter.modifiedFrom = daysBack(365);
        break;
    case ModifiedChoice::Between: {
        const QDate first = choices.from.isValid() ? choices.from : local.date();
        const QDate last = choices.until.isValid() ? choices.until : local.date();
        filter.modifiedFrom = std::min(first, last).startOfDay().toSecsSinceEpoch();
        filter.modifiedUntil = std::max(first, last).addDays(1).startOfDay().toSecsSinceEpoch();
        break;
    }
    }
    return filter;
}

} // namespace toka
