#include "search/result_row.h"

#include <algorithm>
#include <cstdio>

namespace toka {

LocaleFormat cLocaleFormat() {
    return LocaleFormat{}; // the defaults are the script-readable C formats
}

namespace {

void appendNumber(std::string& out, long value, int width) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*ld", width, value);
    out += digits;
}

bool usesTwelveHourClock(std::string_view pattern) {
    bool quoted = false;
    for (char c : pattern) {
        if (c == '\'') quoted = !quoted;
        else if (!quoted && (c == 'a' || c == 'A')) return true;
    }
    return false;
}

void trimBlanks(std::string& text) {
    std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        text.clear();
        return;
    }
    std::size_t end = text.find_last_not_of(' ');
    text = text.substr(begin, end - begin + 1);
}

} // namespace

std::string formatDateTime(const LocalDateTime& when, std::string_view pattern, const LocaleFormat& locale) {
    std::string out;
    const bool twelveHour = usesTwelveHourClock(pattern);
    std::size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c == '\'') {
            // Literal text; '' inside or outside a literal is one quote.
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            std::size_t j = i + 1;
            for (;;) {
                if (j >= pattern.size()) break;
                if (pattern[j] == '\'') {
                    if (j + 1 < pattern.size() && pattern[j + 1] == '\'') {
                        out += '\'';
                        j += 2;
                        continue;
                    }
                    break;
                }
                out += pattern[j++];
            }
            i = j + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        switch (c) {
        case 'd':
            if (run == 1) appendNumber(out, when.day, 1);
            else if (run == 2) appendNumber(out, when.day, 2);
            else if (run == 3) out += locale.shortDayNames[static_cast<std::size_t>(when.dayOfWeek % 7)];
            else out += locale.longDayNames[static_cast<std::size_t>(when.dayOfWeek % 7)];
            break;
        case 'M': {
            std::size_t month = static_cast<std::size_t>((when.month + 11) % 12);
            if (run == 1) appendNumber(out, when.month, 1);
            else if (run == 2) appendNumber(out, when.month, 2);
            else if (run == 3) out += locale.shortMonthNames[month];
            else out += locale.longMonthNames[month];
            break;
        }
        case 'y':
            if (run >= 4) {
                appendNumber(out, when.year, 4);
                run = 4;
            } else if (run >= 2) {
                appendNumber(out, ((when.year % 100) + 100) % 100, 2);
                run = 2;
            } else out += c;
            break;
        case 'h':
        case 'H': {
            int hour = when.hour;
            if (c == 'h' && twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
            if (run > 2) run = 2;
            appendNumber(out, hour, static_cast<int>(run));
            break;
        }
        case 'm':
            if (run > 2) run = 2;
            appendNumber(out, when.minute, static_cast<int>(run));
            break;
        case 's':
            if (run > 2) run = 2;
            appendNumber(out, when.second, static_cast<int>(run));
            break;
        case 'z':
            if (run >= 3) {
                out += "000";
                run = 3;
            } else {
                out += "0";
                run = 1;
            }
            break;
        case 'a':
        case 'A': {
            const std::string& text = when.hour < 12 ? locale.amText : locale.pmText;
            bool upper = c == 'A';
            run = 1;
            if (i + 1 < pattern.size() && (pattern[i + 1] == 'p' || pattern[i + 1] == 'P')) {
                upper = pattern[i + 1] == 'P' || c == 'A';
                run = 2;
            }
            for (char t : text) {
                if (upper) out += (t >= 'a' && t <= 'z') ? static_cast<char>(t - 32) : t;
                else out += (t >= 'A' && t <= 'Z') ? static_cast<char>(t + 32) : t;
            }
            break;
        }
        case 't':
            break; // the table shows no time zone
        default:
            out.append(run, c);
            break;
        }
        i += run;
    }
    trimBlanks(out);
    return out;
}

std::string measureText(long double score, const LocaleFormat& locale) {
    long double percent = static_cast<long double>(static_cast<long long>(score * 10000.0L)) * 0.01L;
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.15Lg", percent);
    std::string text;
    for (const char* p = digits; *p; ++p) {
        if (*p == '.') text += locale.decimalSeparator;
        else text += *p;
    }
    return text;
}

std::string measureText(Real48 score, const LocaleFormat& locale) { return measureText(score.value(), locale); }

std::string sizeText(std::int64_t bytes) {
    constexpr std::int64_t kMaxBytes = 10239;
    constexpr std::int64_t kMaxKilobytes = 10485759; // one byte less than 10 MiB
    if (bytes <= kMaxBytes) return std::to_string(bytes);
    if (bytes <= kMaxKilobytes) return std::to_string(bytes / 1024) + " KB";
    return std::to_string(bytes / 1048576) + " MB";
}

std::vector<RankedEntry> rankedEntries(const SimList& list, int maxRows, const LocaleFormat& locale) {
    std::vector<RankedEntry> entries;
    const int last = std::min<int>(maxRows, list.ListSize());
    for (int r = 1; r <= last; ++r) {
        const Real48 score = list.RankScore(r);
        if (!(score.value() > 0)) break;
        const rFileRec& entry = list.RankFile(r);
        entries.push_back({entry.Name, entry.Dir, score, measureText(score, locale)});
    }
    return entries;
}

EntryDetails entryDetails(const FileInfo* info, const LocaleFormat& locale) {
    EntryDetails details;
    if (!info) {
        details.size = std::string(kUnknownSizeText);
        return details;
    }
    details.attributes = attributeText(info->attributes);
    if (info->attributes & AttrDirectory) {
        details.directory = true;
        return details;
    }
    if (auto when = displayedChangeTime(info->mtime)) {
        details.date = formatDateTime(*when, locale.shortDateFormat, locale);
        details.time = formatDateTime(*when, locale.longTimeFormat, locale);
        details.changed = info->mtime;
    }
    details.size = sizeText(info->size);
    details.bytes = info->size;
    return details;
}

EntryDetails readEntryDetails(std::string_view directory, std::string_view name, const LocaleFormat& locale) {
    const auto info = examineEntry(directory, name);
    return entryDetails(info ? &info.value() : nullptr, locale);
}

ResultRow buildResultRow(const rFileRec& entry, Real48 score, const LocaleFormat& locale) {
    EntryDetails details = readEntryDetails(entry.Dir, entry.Name, locale);
    ResultRow row;
    row.name = entry.Name;
    row.location = entry.Dir;
    row.date = std::move(details.date);
    row.time = std::move(details.time);
    row.attributes = std::move(details.attributes);
    row.size = std::move(details.size);
    row.measure = measureText(score, locale);
    return row;
}

std::vector<ResultRow> buildResultRows(const SimList& list, int maxRows, const LocaleFormat& locale) {
    std::vector<ResultRow> rows;
    for (const RankedEntry& entry : rankedEntries(list, maxRows, locale))
        rows.push_back(buildResultRow({entry.name, entry.location}, entry.score, locale));
    return rows;
}

} // namespace toka
