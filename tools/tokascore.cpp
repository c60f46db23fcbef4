// tokascore: checks the similarity engine from outside.
//
//   tokascore                           reads MODE<TAB>QUERY<TAB>CANDIDATE<TAB>CUTOFF
//                                       lines, answers HEX<TAB>DECIMAL per line
//   tokascore --list MODE QUERY [SIZE]  rates the names read from standard
//                                       input and prints the ranked list
//
// MODE is "fuzzy" or "similar"; texts are UTF-8.  HEX is the six-byte real,
// byte 0 first, as 12 lower-case hex digits.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "similar/real48.h"
#include "similar/simlist.h"

namespace {

std::string hexOf(toka::Real48 value) {
    std::string out;
    char digits[3];
    for (std::uint8_t b : value.bytes()) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

bool parseMode(const std::string& text, bool& fuzzy) {
    if (text == "fuzzy") {
        fuzzy = true;
        return true;
    }
    if (text == "similar") {
        fuzzy = false;
        return true;
    }
    return false;
}

bool parseCutOff(const std::string& text, toka::Real48& cutOff) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long double value = std::strtold(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || value < 0 || value != value) return false;
    cutOff = toka::Real48::fromExtended(value);
    return true;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

int scoreLines() {
    toka::SimList list;
    std::string line;
    long lineNo = 0;
    int failures = 0;
    while (std::getline(std::cin, line)) {
        ++lineNo;
        const std::vector<std::string> fields = splitTabs(line);
        bool fuzzy = false;
        toka::Real48 cutOff;
        const char* problem = nullptr;
        if (fields.size() != 4) problem = "expected MODE<TAB>QUERY<TAB>CANDIDATE<TAB>CUTOFF";
        else if (!parseMode(fields[0], fuzzy)) problem = "MODE must be fuzzy or similar";
        else if (!parseCutOff(fields[3], cutOff)) problem = "CUTOFF must be a decimal number of at least 0";
        if (problem) {
            std::fprintf(stderr, "tokascore: line %ld: %s\n", lineNo, problem);
            ++failures;
            continue;
        }
        list.InitSimList(fields[1], 0);
        const toka::Real48 score = toka::Real48::fromExtended(list.Score(fields[2], fuzzy, cutOff));
        std::printf("%s\t%.17Lg\n", hexOf(score).c_str(), score.value());
    }
    return failures == 0 ? 0 : 1;
}

int rankList(int argc, char** argv) {
    bool fuzzy = false;
    if (argc < 4 || argc > 5 || !parseMode(argv[2], fuzzy)) {
        std::fprintf(stderr, "usage: tokascore --list fuzzy|similar QUERY [SIZE]\n");
        return 2;
    }
    unsigned long size = 200;
    if (argc == 5) {
        char* end = nullptr;
        errno = 0;
        size = std::strtoul(argv[4], &end, 10);
        if (errno != 0 || *end != '\0' || argv[4][0] == '-' || argv[4][0] == '\0' || size > 65535) {
            std::fprintf(stderr, "tokascore: SIZE must be a number from 0 to 65535\n");
            return 2;
        }
    }
    toka::SimList& list = toka::TheSimList();
    list.InitSimList(argv[3], static_cast<std::uint16_t>(size));
    std::string name;
    while (std::getline(std::cin, name)) list.RateFile(name, "", fuzzy);
    for (int r = 1; r <= list.ListSize(); ++r) {
        if (list.RankScore(r).value() <= 0) break;
        std::printf("%d\t%s\t%s\n", r, hexOf(list.RankScore(r)).c_str(), list.RankFile(r).Name.c_str());
    }
    const int overflow = list.ListSize() + 1;
    if (list.RankScore(overflow).value() > 0)
        std::printf("overflow\t%s\t%s\n", hexOf(list.RankScore(overflow)).c_str(),
                    list.RankFile(overflow).Name.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--list") return rankList(argc, argv);
    if (argc != 1) {
        std::fprintf(stderr, "usage: tokascore < lines of MODE<TAB>QUERY<TAB>CANDIDATE<TAB>CUTOFF\n"
                             "       tokascore --list fuzzy|similar QUERY [SIZE] < names\n");
        return 2;
    }
    return scoreLines();
}
