// The similarity list: ranking, ties, the overflow slot as cut-off, set-up
// and copying out, and the engine's text handling.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "similar/simlist.h"

namespace toka::test {
namespace {

Real48 r(long double v) { return Real48::fromExtended(v); }

std::vector<std::string> rankNames(const SimList& list) {
    std::vector<std::string> names;
    for (int k = 1; k <= list.ListSize() && list.RankScore(k).value() > 0; ++k) names.push_back(list.RankFile(k).Name);
    return names;
}

TEST(SimList, KeepsTheBestAndPushesTheLastIntoTheOverflowSlot) {
    SimList list;
    list.InitSimList("query", 3);
    // RateFile admits only scores above the overflow slot; InsertRanked then
    // places them.  A .5, B .7, C .5, D .6, E .4, F .5
    const std::pair<const char*, long double> rated[] = {{"A", 0.5L}, {"B", 0.7L}, {"C", 0.5L},
                                                         {"D", 0.6L}, {"E", 0.4L}, {"F", 0.5L}};
    for (auto [name, score] : rated)
        if (r(score) > list.CutOff()) list.InsertRanked(name, "/d/", r(score));
    EXPECT_EQ(rankNames(list), (std::vector<std::string>{"B", "D", "A"}));
    EXPECT_EQ(list.RankFile(4).Name, "C"); // overflow slot
    EXPECT_EQ(list.CutOff(), r(0.5L));
    EXPECT_EQ(list.RankScore(3), r(0.5L));
}

TEST(SimList, EqualScoreRanksBelowTheEarlierEntry) {
    SimList list;
    list.InitSimList("abcdef", 200);
    list.RateFile("ABCDEF", "/first/", true);
    list.RateFile("abcdef", "/second/", true);
    list.RateFile("xxABCDEFxx", "/third/", true);
    ASSERT_EQ(list.RankScore(1).value(), 1.0L);
    ASSERT_EQ(list.RankScore(3).value(), 1.0L);
    EXPECT_EQ(list.RankFile(1).Dir, "/first/");
    EXPECT_EQ(list.RankFile(2).Dir, "/second/");
    EXPECT_EQ(list.RankFile(3).Dir, "/third/");
}

TEST(SimList, CutOffIsTheOverflowSlotScore) {
    SimList list;
    list.InitSimList("abcdef", 2);
    EXPECT_EQ(list.CutOff().value(), 0.0L);
    list.RateFile("abc", "/", true);  // 0.29
    list.RateFile("abcd", "/", true); // higher
    EXPECT_EQ(list.CutOff().value(), 0.0L) << "not overflowed yet";
    list.RateFile("abcdef", "/", true); // 1, pushes abc off
    EXPECT_EQ(rankNames(list), (std::vector<std::string>{"abcdef", "abcd"}));
    EXPECT_EQ(list.RankFile(3).Name, "abc");
    EXPECT_EQ(list.CutOff(), list.RankScore(3));
    EXPECT_GT(list.CutOff().value(), 0.0L);
    // A full list turns away an equal score: it must beat the last rank.
    list.RateFile("xabcd", "/", true);
    EXPECT_EQ(rankNames(list), (std::vector<std::string>{"abcdef", "abcd"}));
    EXPECT_EQ(list.RankFile(3).Name, "abc");
}

TEST(SimList, ShortNamesAndDotsNeverEnter) {
    SimList list;
    list.InitSimList("..", 200);
    for (const char* name : {".", "..", "a", "ab", "..."}) list.RateFile(name, "/", true);
    EXPECT_TRUE(rankNames(list).empty());
    list.InitSimList("abc", 200);
    for (const char* name : {".", "..", "ab", "bc"}) {
        list.RateFile(name, "/", true);
        list.RateFile(name, "/", false);
    }
    EXPECT_TRUE(rankNames(list).empty());
}

TEST(SimList, EmptySearchTextScoresNothing) {
    SimList list;
    list.InitSimList("", 200);
    list.RateFile("anything", "/", true);
    list.RateFile("anything", "/", false);
    EXPECT_TRUE(rankNames(list).empty());
}

TEST(SimList, GetSimListOverwritesOnlyTheFilledRanks) {
    ListString dest;
    for (std::size_t k = 0; k < dest.size(); ++k) dest[k] = {"old" + std::to_string(k), "/old/"};
    SimList list;
    list.InitSimList("report", 200);
    list.RateFile("report.txt", "/a/", true);
    list.RateFile("reports", "/b/", true);
    list.GetSimList(dest);
    EXPECT_EQ(dest[0], (rFileRec{"report.txt", "/a/"}));
    EXPECT_EQ(dest[1], (rFileRec{"reports", "/b/"}));
    EXPECT_EQ(dest[2], (rFileRec{"old2", "/old/"}));
    EXPECT_EQ(dest[200], (rFileRec{"old200", "/old/"}));
}

TEST(SimList, SecondSetUpEmptiesEverySlot) {
    SimList list;
    list.InitSimList("a", 200);
    list.InitSimList("name", 200);
    // Ever better names: each one goes to the top and pushes the last rank off.
    for (int k = 250; k >= 0; --k) list.RateFile("name" + std::string(static_cast<std::size_t>(k), 'x'), "/", false);
    ASSERT_GT(list.RankScore(201).value(), 0.0L) << "the list has overflowed";
    list.InitSimList("name", 200);
    for (int k = 1; k <= 201; ++k) {
        EXPECT_EQ(list.RankScore(k).value(), 0.0L);
        EXPECT_EQ(list.RankFile(k), rFileRec{});
    }
}

TEST(SimList, BeforeAnySetUpTheListIsEmpty) {
    SimList list;
    ListString dest;
    dest[0] = {"keep", "/"};
    list.GetSimList(dest);
    EXPECT_EQ(dest[0].Name, "keep");
    EXPECT_EQ(list.ListSize(), 0);
}

TEST(SimList, KeepsTheCallersTextAndFoldsItsOwnCopy) {
    SimList list;
    list.InitSimList("ReadMe", 200);
    list.RateFile("README.txt", "/Docs/", true);
    EXPECT_EQ(list.RankFile(1), (rFileRec{"README.txt", "/Docs/"}));
    EXPECT_EQ(list.SearchText(), U"README");
}

struct TextCase {
    const char* name;
    const char* query;
    const char* candidate;
    bool scoresOne; // in both modes
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class CodePoints : public testing::TestWithParam<TextCase> {};

TEST_P(CodePoints, FoldOnlyAToZAndTheUmlauts) {
    const TextCase& c = GetParam();
    SimList list;
    list.InitSimList(c.query, 200);
    for (bool fuzzy : {true, false}) {
        const long double score = list.Score(c.candidate, fuzzy, Real48());
        if (c.scoresOne) EXPECT_EQ(score, 1.0L) << fuzzy;
        else EXPECT_LT(score, 1.0L) << fuzzy;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodePoints,
    testing::Values(TextCase{"umlauts_fold", "M\u00dcLLER", "m\u00fcller", true},
                    TextCase{"all_three_umlauts_fold", "\u00e4\u00f6\u00fcx", "\u00c4\u00d6\u00dcX", true},
                    // e acute is not folded: the two names differ in one letter.
                    TextCase{"accents_do_not_fold", "CAF\u00c9", "caf\u00e9", false},
                    TextCase{"sharp_s_is_not_upper_cased", "stra\u00dfe", "STRASSE", false},
                    TextCase{"same_cjk_name", "\u65e5\u672c\u8a9e\u30d5\u30a1\u30a4\u30eb",
                             "\u65e5\u672c\u8a9e\u30d5\u30a1\u30a4\u30eb", true},
                    // Different names in another script must not collapse to "???".
                    TextCase{"different_cjk_names", "\u65e5\u672c\u8a9e\u30d5\u30a1\u30a4\u30eb",
                             "\u4e2d\u6587\u6587\u4ef6\u5939", false},
                    TextCase{"different_cyrillic_names", "\u0434\u043e\u043c", "\u043a\u043e\u0442", false},
                    // A stray byte reads as its Latin-1 character, so a legacy name folds.
                    TextCase{"invalid_utf8_reads_as_latin1", "M\u00dcLLER", "m\xfcller", true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(SimList, SearchTextLengthIsTakenModulo256) {
    SimList list;
    // 260 code points: only the first 4 take part (and only those are folded).
    list.InitSimList("abcd" + std::string(256, 'x'), 200);
    EXPECT_EQ(list.SearchLen(), 4);
    EXPECT_EQ(list.SearchText().substr(0, 6), U"ABCDxx");
    EXPECT_EQ(list.Score("ABCD", true, Real48()), 1.0L);
}

TEST(SimList, SizeTwoHundredIsAccepted) {
    SimList list;
    list.InitSimList("x", 200);
    EXPECT_EQ(list.ListSize(), 200);
}

// A walk's worker rates a name against the cut-off it read; the list, whose
// cut-off has risen since, reads the score off that rating.  It must be the
// score the name gets against the list's own cut-off: the early exits turn
// away against a higher cut-off what they let through against a lower one.
TEST(SimList, ARatingTakenAgainstALowerCutOffGivesTheScoreAgainstAHigherOne) {
    std::mt19937 rng(20261208);
    const std::string alphabets[] = {"ab", "abcd", "abcdefgh\xc3\xa4", "xyzzy.txt"};
    auto make = [&](const std::string& alphabet, int maxLen) {
        std::string s(std::uniform_int_distribution<std::size_t>(0, std::size_t(maxLen))(rng), 'a');
        for (auto& ch : s) ch = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
        return s;
    };
    int turnedAwayLater = 0, kept = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string& alphabet = alphabets[round % 4];
        SimList list;
        list.InitSimList(make(alphabet, 12), 20);
        for (int n = 0; n < 40; ++n) {
            const std::string name = make(alphabet, round % 10 == 0 ? 90 : 20);
            for (bool fuzzy : {true, false}) {
                for (double low : {0.0, 0.2, 0.4}) {
                    const SimList::RatedScore rated = list.Rate(name, fuzzy, r(low));
                    ASSERT_EQ(rated.score, list.ScoreAgainst(name, fuzzy, r(low)));
                    for (double high : {low, low + 0.05, low + 0.2, low + 0.5, 0.95}) {
                        const Real48 expected = list.ScoreAgainst(name, fuzzy, r(high));
                        ASSERT_EQ(list.ScoreAgainst(name, rated, fuzzy, r(high)), expected)
                            << name << " " << fuzzy << " " << low << " " << high;
                        turnedAwayLater += rated.score.value() > 0 && expected.value() == 0;
                        kept += expected.value() > 0;
                    }
                    // Against a lower cut-off than its own, the name is scored again.
                    if (low > 0) {
                        EXPECT_EQ(list.ScoreAgainst(name, rated, fuzzy, r(0)), list.ScoreAgainst(name, fuzzy, r(0)));
                    }
                }
            }
        }
    }
    // Both ways out were taken: a score that held, and one a higher cut-off
    // turned away.
    EXPECT_GT(turnedAwayLater, 100);
    EXPECT_GT(kept, 100);
}

TEST(SimListDeathTest, SizeAboveTwoHundredIsFatal) {
    SimList list;
    EXPECT_EXIT(list.InitSimList("x", 201), testing::ExitedWithCode(1),
                "Fatal Error.* \u00c4hnlichkeitsliste zu gro\u00df!!! ");
}

[[noreturn]] void exitWithThree(const char* text, const char* caption) {
    std::fprintf(stderr, "handler got [%s] [%s]\n", caption, text);
    std::_Exit(3);
}

void returningHandler(const char*, const char*) {}

TEST(SimListDeathTest, InstalledHandlerReportsAndAReturningOneStillEnds) {
    EXPECT_EXIT(
        {
            SetFatalErrorHandler(exitWithThree);
            InitSimList("x", 65535);
        },
        testing::ExitedWithCode(3), "handler got \\[ Fatal Error\\] \\[ \u00c4hnlichkeitsliste");
    EXPECT_EXIT(
        {
            SetFatalErrorHandler(returningHandler);
            InitSimList("x", 201);
        },
        testing::ExitedWithCode(1), "");
}

} // namespace
} // namespace toka::test
