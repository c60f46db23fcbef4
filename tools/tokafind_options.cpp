#include "tokafind_options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "similar/simlist.h"
#include "similar/text.h"

namespace toka::tokafind {

const char* const kUsage = "Usage: tokafind [OPTION]... TEXT [DIR]\n"
                           "       tokafind [OPTION]... --all-fixed-disks TEXT\n"
                           "       tokafind --list-records | --forget-records\n"
                           "\n"
                           "Ranks the names of every entry below DIR (default: the current directory)\n"
                           "or on every fixed disk by their similarity to TEXT, and prints the best.\n"
                           "\n"
                           "  --similar          length-dependent measure (only an equal name scores\n"
                           "                     100); the default is the fuzzy measure, under which\n"
                           "                     every name that contains TEXT scores 100\n"
                           "  --no-recurse       rate the entries of DIR only, do not descend\n"
                           "  --rows N           print at most N ranks, 1 to 200 (default 30)\n"
                           "  --all-fixed-disks  search every fixed disk, each from its mount point\n"
                           "                     and without crossing into other mounts\n"
                           "  --show-errors      name each directory that cannot be read, and why, on\n"
                           "                     standard error as the search meets it\n"
                           "  -j, --threads N    walk with N threads, 1 to 256 (default: twice the\n"
                           "                     number of cores); the ranks are the same for every N\n"
                           "  -0, --print0       print only the full path of each rank, unescaped, each\n"
                           "                     ended by a NUL byte (for xargs -0)\n"
                           "  --help             show this text\n"
                           "\n"
                           "Recorded walks (kept in $XDG_CACHE_HOME/tokasearch/walks, by default\n"
                           "~/.cache/tokasearch/walks; without these options none is read or written):\n"
                           "  --record           walk and record the walk, one record per DIR and set of\n"
                           "                     --no-recurse, --all-fixed-disks, -E, --no-hidden, -d and\n"
                           "                     --one-file-system (replacing an older one)\n"
                           "  --from-record      answer from the record of the same DIR and those\n"
                           "                     options, without walking: the ranks of a live search of\n"
                           "                     the tree as it was then; the other filters and the\n"
                           "                     measure may differ from the recorded walk's\n"
                           "  --verify           with --from-record: answer as a live walk of the tree as\n"
                           "                     it is now, listing again only the directories that\n"
                           "                     changed since the record (or are new, or on a file\n"
                           "                     system whose times cannot be trusted) and taking the\n"
                           "                     others' entries from the record; add --record to\n"
                           "                     write the record anew from this walk.  With --record\n"
                           "                     alone: the same when there is a record, else a full\n"
                           "                     walk, recorded either way\n"
                           "  --list-records     one line per record: created, age, entries, file size\n"
                           "                     in bytes, roots, options\n"
                           "  --forget-records   remove every record\n"
                           "\n"
                           "Filters (the ranks are those of the entries that pass every filter given):\n"
                           "  -E, --exclude GLOB\n"
                           "                     neither rate nor enter entries that match GLOB (*, ?,\n"
                           "                     [...]); without a \"/\" GLOB is matched against the name,\n"
                           "                     with one against the whole path; repeatable\n"
                           "  --no-hidden        leave out names starting with \".\" and their contents\n"
                           "  -t, --type KIND    only entries of KIND: f file, d directory, l symbolic\n"
                           "                     link, s special (FIFO, socket, device); repeatable\n"
                           "  -e, --extension EXT\n"
                           "                     only names ending in \".EXT\" (any case); repeatable\n"
                           "  -S, --size +N|-N   at least (+) or at most (-) N bytes; N may end in k, m\n"
                           "                     or g (1024, 1024^2, 1024^3; kb and KiB too); a\n"
                           "                     directory passes no size; repeatable\n"
                           "  --changed-within WHEN\n"
                           "                     changed at or after WHEN\n"
                           "  --changed-before WHEN\n"
                           "                     changed before WHEN\n"
                           "                     WHEN: a duration back from now, as 2weeks, 3d, 12h,\n"
                           "                     30min, 10s, 1y (units s, min, h, d, w, y), or a date\n"
                           "                     YYYY-MM-DD (local midnight) or \"YYYY-MM-DD HH:MM:SS\"\n"
                           "  -d, --max-depth N  rate entries at most N levels below DIR (1: DIR's own)\n"
                           "  --one-file-system  do not cross into other mounted file systems\n"
                           "\n"
                           "Output: one line per rank, best first, with the tab-separated fields\n"
                           "measure, name, location, date, time, attributes, size (ISO date, 24-hour\n"
                           "time, \".\" as decimal separator).  In names and locations a backslash is\n"
                           "written \\\\ and a control character as \\t, \\n, \\r or \\xHH, so that each\n"
                           "rank stays one line; other bytes are written as they are.\n"
                           "\n"
                           "The last line, on standard error, counts the entries scanned and, when\n"
                           "there were any, the directories below DIR that could not be read and\n"
                           "were skipped.\n"
                           "\n"
                           "Examples:\n"
                           "  tokafind -0 -e pdf invoice ~ | xargs -0 ls -l\n"
                           "  tokafind -E node_modules -E .git -t f --changed-within 2weeks main src\n"
                           "\n"
                           "Ctrl-C stops the search and prints the ranks found so far (exit status\n"
                           "130); a second Ctrl-C ends at once.  Exit status 1: the record or the\n"
                           "records could not be written, listed or removed.  Exit status 2: a usage\n"
                           "error, or DIR is missing, is no directory or cannot be read (then nothing\n"
                           "is printed on standard output).  Exit status 3: --from-record found no\n"
                           "record it could use.  Records are kept only in a folder of the user's own\n"
                           "that no one else may write to; another is refused, with the reason.\n";

namespace {

constexpr std::int64_t kMaxDurationSeconds = std::int64_t{1} << 62;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The leading decimal digits of text, removed from it; nullopt when there
// are none or their value exceeds limit.
std::optional<std::uint64_t> takeNumber(std::string_view& text, std::uint64_t limit) {
    std::size_t length = 0;
    std::uint64_t number = 0;
    while (length < text.size() && isDigit(text[length])) {
        unsigned digit = static_cast<unsigned>(text[length] - '0');
        if (number > (limit - digit) / 10) return std::nullopt;
        number = number * 10 + digit;
        ++length;
    }
    if (length == 0) return std::nullopt;
    text.remove_prefix(length);
    return number;
}

// Exactly `width` digits.
std::optional<int> fixedNumber(std::string_view text, std::size_t position, std::size_t width) {
    if (position + width > text.size()) return std::nullopt;
    int number = 0;
    for (std::size_t i = position; i < position + width; ++i) {
        if (!isDigit(text[i])) return std::nullopt;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A whole decimal number from low to high, or nullopt.
std::optional<long> numberIn(const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < low || number > high) return std::nullopt;
    return number;
}

std::optional<unsigned> kindBit(std::string_view text) {
    if (text == "f") return kKindFile;
    if (text == "d") return kKindDirectory;
    if (text == "l") return kKindSymlink;
    if (text == "s") return kKindSpecial;
    return std::nullopt;
}

// The command line, read one argument at a time.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& args) : m_args(args) {}

    bool next() { return ++m_index < m_args.size(); }
    const std::string& current() const { return m_args[m_index]; }

    // Whether the current argument is the option given as "--name VALUE",
    // "--name=VALUE" or, for its one-letter form, "-x VALUE" and "-xVALUE";
    // its value then goes to value (nullopt when the command line ends).
    bool isOption(std::string_view longName, std::string_view shortName, std::optional<std::string>& value) {
        std::string_view arg = current();
        auto take = [&](std::string_view attached) {
            if (!attached.empty()) value = std::string(attached);
            else if (m_index + 1 < m_args.size()) value = m_args[++m_index];
            else value = std::nullopt;
            return true;
        };
        if (arg == longName || (!shortName.empty() && arg == shortName)) return take({});
        if (arg.size() > longName.size() && arg.starts_with(longName) && arg[longName.size()] == '=') {
            value = std::string(arg.substr(longName.size() + 1));
            return true;
        }
        if (!shortName.empty() && arg.starts_with(shortName)) return take(arg.substr(shortName.size()));
        return false;
    }

private:
    const std::vector<std::string>& m_args;
    std::size_t m_index = 0;
};

// "--size: '+5q' is not a size like +10k or -2M"
std::string badValue(std::string_view option, const std::string& value, std::string_view isNot) {
    return std::string(option) + ": '" + value + "' is " + std::string(isNot);
}

struct RecordOption {
    std::string_view name;
    RecordUse use;
};
constexpr RecordOption kRecordOptions[] = {{"--record", RecordUse::record},
                                           {"--from-record", RecordUse::fromRecord},
                                           {"--list-records", RecordUse::list},
                                           {"--forget-records", RecordUse::forget}};

std::string recordOptionName(RecordUse use) {
    for (const RecordOption& option : kRecordOptions) {
        if (option.use == use) return std::string(option.name);
    }
    return {};
}

} // namespace

std::optional<SizeBound> parseSize(std::string_view text) {
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    SizeBound bound;
    bound.atLeast = text[0] == '+';
    text.remove_prefix(1);
    std::optional<std::uint64_t> number = takeNumber(text, UINT64_MAX);
    if (!number) return std::nullopt;
    std::string unit = lowered(text);
    int shift = 0;
    if (!unit.empty() && unit != "b") {
        static constexpr std::string_view kLetters = "kmg";
        std::size_t letter = kLetters.find(unit[0]);
        std::string_view rest = std::string_view(unit).substr(1);
        if (letter == std::string_view::npos || !(rest.empty() || rest == "b" || rest == "ib")) return std::nullopt;
        shift = 10 * static_cast<int>(letter + 1);
    }
    if (*number > (UINT64_MAX >> shift)) return std::nullopt;
    bound.bytes = *number << shift;
    return bound;
}

std::optional<std::int64_t> parseDuration(std::string_view text) {
    struct Unit {
        std::string_view name;
        std::int64_t seconds;
    };
    static constexpr Unit kUnits[] = {
        {"s", 1},          {"sec", 1},           {"secs", 1},
        {"second", 1},     {"seconds", 1},       {"min", 60},
        {"mins", 60},      {"minute", 60},       {"minutes", 60},
        {"h", 3600},       {"hour", 3600},       {"hours", 3600},
        {"d", 86400},      {"day", 86400},       {"days", 86400},
        {"w", 604800},     {"week", 604800},     {"weeks", 604800},
        {"y", 31'536'000}, {"year", 31'536'000}, {"years", 31'536'000},
    };
    auto skipBlanks = [&text] {
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    };
    std::int64_t total = 0;
    skipBlanks();
    if (text.empty()) return std::nullopt;
    while (!text.empty()) {
        std::optional<std::uint64_t> number = takeNumber(text, kMaxDurationSeconds);
        if (!number) return std::nullopt;
        skipBlanks();
        std::size_t letters = 0;
        while (letters < text.size() && isLetter(text[letters])) ++letters;
        std::string name = lowered(text.substr(0, letters));
        text.remove_prefix(letters);
        const Unit* unit = std::find_if(std::begin(kUnits), std::end(kUnits),
                                        [&name](const Unit& candidate) { return candidate.name == name; });
        if (unit == std::end(kUnits)) return std::nullopt;
        auto amount = static_cast<std::int64_t>(*number);
        if (amount > (kMaxDurationSeconds - total) / unit->seconds) return std::nullopt;
        total += amount * unit->seconds;
        skipBlanks();
    }
    return total;
}

std::optional<std::int64_t> parseDate(std::string_view text) {
    if (text.size() != 10 && text.size() != 19) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    std::optional<int> year = fixedNumber(text, 0, 4);
    std::optional<int> month = fixedNumber(text, 5, 2);
    std::optional<int> day = fixedNumber(text, 8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month)) {
        return std::nullopt;
    }
    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_isdst = -1;
    if (text.size() == 19) {
        if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') return std::nullopt;
        std::optional<int> hour = fixedNumber(text, 11, 2);
        std::optional<int> minute = fixedNumber(text, 14, 2);
        std::optional<int> second = fixedNumber(text, 17, 2);
        if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
        local.tm_hour = *hour;
        local.tm_min = *minute;
        local.tm_sec = *second;
    }
    errno = 0;
    std::time_t seconds = std::mktime(&local);
    if (seconds == -1 && errno != 0) return std::nullopt;
    return std::int64_t{seconds};
}

std::optional<std::int64_t> parseTimePoint(std::string_view text, std::int64_t now) {
    if (std::optional<std::int64_t> date = parseDate(text)) return date;
    if (std::optional<std::int64_t> duration = parseDuration(text)) return now - *duration;
    return std::nullopt;
}

std::optional<std::string> parseArguments(const std::vector<std::string>& args, std::int64_t now, Options& options) {
    WalkFilter& filter = options.filter;
    std::vector<std::string> positional;
    bool optionsDone = false;
    std::string combined; // --record with --from-record, until --verify is seen
    ArgumentReader reader(args);
    while (reader.next()) {
        const std::string arg = reader.current();
        std::optional<std::string> value;
        // The option whose value is read, for the messages.
        std::string_view option;
        auto is = [&](std::string_view longName, std::string_view shortName = {}) {
            option = longName;
            return reader.isOption(longName, shortName, value);
        };
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--similar") {
            options.fuzzy = false;
        } else if (arg == "--no-recurse") {
            options.recurse = false;
        } else if (arg == "--all-fixed-disks") {
            options.allFixedDisks = true;
        } else if (arg == "--show-errors") {
            options.showErrors = true;
        } else if (arg == "--print0" || arg == "-0") {
            options.print0 = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (const RecordOption* record =
                       std::find_if(std::begin(kRecordOptions), std::end(kRecordOptions),
                                    [&arg](const RecordOption& candidate) { return candidate.name == arg; });
                   record != std::end(kRecordOptions)) {
            const bool verifiedPair = (options.records == RecordUse::record && record->use == RecordUse::fromRecord)
                                      || (options.records == RecordUse::fromRecord && record->use == RecordUse::record);
            if (verifiedPair) {
                // Allowed with --verify only, which may come later.
                combined = recordOptionName(options.records) + " and " + arg + " cannot be combined";
                options.records = RecordUse::fromRecord;
                options.updateRecord = true;
            } else if (options.records != RecordUse::none && options.records != record->use) {
                return recordOptionName(options.records) + " and " + arg + " cannot be combined";
            } else {
                options.records = record->use;
            }
        } else if (arg == "--no-hidden") {
            filter.skipHidden = true;
        } else if (arg == "--one-file-system") {
            filter.oneFileSystem = true;
        } else if (is("--rows") || is("--threads", "-j") || is("--exclude", "-E") || is("--type", "-t")
                   || is("--extension", "-e") || is("--size", "-S") || is("--changed-within") || is("--changed-before")
                   || is("--max-depth", "-d")) {
            if (!value) return std::string(option) + ": no value given";
            if (option == "--rows") {
                auto rows = numberIn(*value, 1, MaxListSize);
                if (!rows) return "--rows takes a number from 1 to 200, not '" + *value + "'";
                options.rows = static_cast<int>(*rows);
            } else if (option == "--threads") {
                auto threads = numberIn(*value, 1, 256);
                if (!threads) return "--threads takes a number from 1 to 256, not '" + *value + "'";
                options.threads = static_cast<unsigned>(*threads);
            } else if (option == "--exclude") {
                // "build/" names the directory build: a directory is matched
                // without its trailing "/".
                std::string pattern = *value;
                while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
                if (pattern.empty() || pattern == "/")
                    return badValue(option, *value, "not a pattern like *.o or build");
                filter.exclude.push_back(pattern);
            } else if (option == "--type") {
                auto bit = kindBit(*value);
                if (!bit) return badValue(option, *value, "not a type: f, d, l or s");
                filter.kinds |= *bit;
            } else if (option == "--extension") {
                std::string_view extension = *value;
                if (extension.starts_with('.')) extension.remove_prefix(1);
                // The extension is what follows a name's last dot.
                if (extension.empty() || extension.find_first_of("./") != std::string_view::npos) {
                    return badValue(option, *value, "not an extension like pdf or .txt");
                }
                filter.extensions.emplace_back(extension);
            } else if (option == "--size") {
                auto bound = parseSize(*value);
                if (!bound) return badValue(option, *value, "not a size like +10k or -2M");
                // Each bound given must hold: the tightest counts.
                std::optional<std::uint64_t>& limit = bound->atLeast ? filter.minSize : filter.maxSize;
                limit = !limit           ? bound->bytes
                        : bound->atLeast ? std::max(*limit, bound->bytes)
                                         : std::min(*limit, bound->bytes);
            } else if (option == "--changed-within" || option == "--changed-before") {
                auto time = parseTimePoint(*value, now);
                if (!time)
                    return badValue(option, *value, "neither a duration like 2weeks or 12h nor a date like 2024-05-31");
                if (option == "--changed-within") {
                    filter.modifiedFrom = std::max(filter.modifiedFrom.value_or(INT64_MIN), *time);
                } else {
                    filter.modifiedUntil = std::min(filter.modifiedUntil.value_or(INT64_MAX), *time);
                }
            } else if (option == "--max-depth") {
                auto depth = numberIn(*value, 1, INT_MAX);
                if (!depth) return badValue(option, *value, "not a depth of 1 or more");
                filter.maxDepth = static_cast<int>(*depth);
            }
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    if (options.help) return std::nullopt;
    if (options.updateRecord && !options.verify) return combined;
    if (options.verify && options.records != RecordUse::record && options.records != RecordUse::fromRecord)
        return "--verify needs --from-record or --record";
    if (options.records == RecordUse::list || options.records == RecordUse::forget) {
        if (!positional.empty()) return recordOptionName(options.records) + " takes no TEXT or DIR";
        return std::nullopt;
    }
    if (positional.empty()) return "no search text";
    options.text = positional[0];
    if (DecodeName(options.text).size() > 255) return "the search text is longer than 255 characters";
    if (options.allFixedDisks) {
        if (positional.size() > 1) return "--all-fixed-disks takes no directory";
    } else {
        if (positional.size() > 2) return "unexpected argument '" + positional[2] + "'";
        options.dir = positional.size() > 1 ? positional[1] : ".";
        if (options.dir.empty()) return "an empty directory name";
    }
    return std::nullopt;
}

} // namespace toka::tokafind
