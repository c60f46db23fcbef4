// The bigram filter in front of the measures: it may reject only what the
// measure scores 0, and it must reject most unrelated names once the list
// has a cut-off (that is what makes a long walk cheap).

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "similar/bigram_filter.h"
#include "similar/simlist.h"
#include "similar/text.h"

namespace toka::test {
namespace {

std::string randomName(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "c", "O", "n", "f", "i", "g", "x", ".", "-", "\xc3\xa4", "\xc3\x84", "\xe6\x97\xa5", "\xff", "\xc3", "a", "b"};
    const int length = std::uniform_int_distribution<int>(0, rng() % 9 == 0 ? 300 : 24)(rng);
    std::string name;
    for (int k = 0; k < length; ++k) name += pieces[rng() % pieces.size()];
    return name;
}

TEST(BigramFilter, RejectsOnlyWhatTheMeasureScoresZero) {
    std::mt19937 rng(7);
    const char* queries[] = {"config",
                             "CONFIG.txt",
                             "\xc3\xa4\xc3\xa4x",
                             "ab",
                             "a\xe6\x97\xa5"
                             "bc\xe6\x97\xa5",
                             "gigigigig",
                             "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxcon"};
    long rejected = 0, checked = 0, bySignature = 0;
    for (const char* q : queries) {
        SimList list;
        list.InitSimList(q, 200);
        BigramFilter filter;
        filter.prepare(list.SearchText(), list.SearchLen());
        for (int round = 0; round < 4000; ++round) {
            const std::string name = randomName(rng);
            const long double cutOff =
                Real48::fromExtended(std::uniform_real_distribution<double>(0, 1)(rng) * (round % 2)).value();
            const std::uint64_t signature = BigramFilter::signature(name);
            for (bool fuzzy : {true, false}) {
                ++checked;
                // The signature turns away only names the filter turns away.
                if (filter.rejectsSignature(signature, fuzzy, cutOff)) {
                    ++bySignature;
                    ASSERT_TRUE(filter.rejects(name, fuzzy, cutOff)) << q << " / " << name << " fuzzy " << fuzzy;
                }
                if (!filter.rejects(name, fuzzy, cutOff)) continue;
                ++rejected;
                ASSERT_EQ(list.Score(name, fuzzy, Real48::fromExtended(cutOff)), 0.0L)
                    << q << " / " << name << " fuzzy " << fuzzy << " cut-off " << static_cast<double>(cutOff);
            }
        }
    }
    EXPECT_GT(rejected, checked / 4) << "the filter does its work";
    EXPECT_GT(bySignature, rejected / 2) << "so does the signature";
}

TEST(BigramFilter, SignatureDecidesOnlyWhereItBoundsTheRatio) {
    struct Case {
        const char* query;
        std::string name;
        bool fuzzy;
        long double cutOff;
        bool rejects; // what rejectsSignature must say
    };
    const std::vector<Case> cases = {
        // "Similar" with a name no longer than the query counts the name's
        // bigrams: "ab" twice here, which the query's side counts once.
        {"abxyz", "ababa", false, 0.2L, false},
        {"abxyz", "ababaxxx", false, 0.5L, true}, // longer: the query's side
        {"abxyz", "ABXYZ", true, 1.0L, false},    // folded
        {"abxyz", "qqqqqq", true, 0.0L, true},    // no bigram in common
        {"abxyz", std::string(300, 'q'), true, 0.0L, false},
        {"ab", "abab", true, 0.0L, true}, // too short to share a bigram with
    };
    for (const Case& c : cases) {
        SimList list;
        list.InitSimList(c.query, 200);
        BigramFilter filter;
        filter.prepare(list.SearchText(), list.SearchLen());
        EXPECT_EQ(filter.rejectsSignature(BigramFilter::signature(c.name), c.fuzzy, c.cutOff), c.rejects)
            << c.query << " / " << c.name;
        if (c.rejects) {
            EXPECT_TRUE(filter.rejects(c.name, c.fuzzy, c.cutOff)) << c.query << " / " << c.name;
        }
    }
}

TEST(BigramFilter, SearchTextLongerThan255UsesTheFuzzyLength) {
    SimList list;
    list.InitSimList("abcd" + std::string(256, 'x'), 200); // fuzzy length 4
    BigramFilter filter;
    filter.prepare(std::u32string_view(list.SearchText()).substr(0, 255), list.SearchLen());
    EXPECT_FALSE(filter.rejects("ABCD", true, 0.5L));
    EXPECT_TRUE(filter.rejects("zzzzzzz", true, 0.0L)) << "no bigram of ABCD";
    EXPECT_FALSE(filter.rejects("zzCDzz", false, 0.0L));
    // Only the first 4 letters were folded: the tail's lower-case x never
    // meets a (folded) name.
    EXPECT_TRUE(filter.rejects("xxxxxxx", false, 0.0L));
    EXPECT_EQ(list.Score("xxxxxxx", false, Real48()), 0.0L);
}

TEST(BigramFilter, SkipsTheMeasureForRejectedNamesInTheList) {
    // Two lists, one rating through the filter (RateFile) and one ranking
    // the measure's own scores: the ranks must be the same.
    std::mt19937 rng(11);
    for (bool fuzzy : {true, false}) {
        SimList filtered, plain;
        filtered.InitSimList("config", 20);
        plain.InitSimList("config", 20);
        for (int i = 0; i < 5000; ++i) {
            const std::string name = randomName(rng);
            filtered.RateFile(name, "/", fuzzy);
            const Real48 score = Real48::fromExtended(plain.Score(name, fuzzy, plain.CutOff()));
            if (score.value() > 0 && score > plain.CutOff()) plain.InsertRanked(name, "/", score);
        }
        for (int r = 1; r <= 21; ++r) {
            EXPECT_EQ(filtered.RankFile(r), plain.RankFile(r)) << r;
            EXPECT_EQ(filtered.RankScore(r), plain.RankScore(r)) << r;
        }
    }
}

} // namespace
} // namespace toka::test
