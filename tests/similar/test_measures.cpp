// The two measures on the worked examples and edge cases of the design, and
// the bit-parallel counting against the literal greedy matching.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "similar/measures.h"
#include "similar/weights.h"

namespace toka::test {
namespace {

const WeightTable& weights() {
    static const WeightTable w = BuildWeights();
    return w;
}

std::string digits15(long double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15Lg", v);
    return buf;
}

// Both strings already normalised, lengths from the strings.
long double similar(std::u32string_view q, std::u32string_view c, Real48 t, bool reference) {
    const Real48 wq = weights()[q.size()], wc = weights()[c.size()];
    return reference ? SimilarMeasureReference(q, c, wq, wc, t) : SimilarMeasure(q, c, wq, wc, t);
}

long double fuzzy(std::u32string_view q, std::u32string_view c, Real48 t, bool reference, int lq = -1) {
    const auto lenQ = static_cast<std::uint16_t>(lq < 0 ? static_cast<int>(q.size()) : lq);
    const auto lenC = static_cast<std::uint16_t>(c.size());
    const Real48 wq = weights()[lenQ];
    return reference ? FuzzyMeasureReference(q, c, lenQ, wq, t, lenC) : FuzzyMeasure(q, c, lenQ, wq, t, lenC);
}

struct MeasureCase {
    const char* name;
    bool isFuzzy;
    const char32_t* query;
    const char32_t* candidate;
    long double cutOff;
    const char* expected; // 15 significant digits of the six-byte value
};
void PrintTo(const MeasureCase& c, std::ostream* os) { *os << c.name; }

const MeasureCase kCases[] = {
    // Similar
    {"sim_equal_is_one", false, U"ABCD", U"ABCD", 0, "1"},
    {"sim_equal_is_one_at_cutoff_one", false, U"ABCD", U"ABCD", 1, "1"},
    {"sim_one_letter_changed", false, U"ABCD", U"ABXD", 0, "0.416666666666515"},
    {"sim_hello_help", false, U"HELLO", U"HELP", 0, "0.309569809377081"},
    // No exit fires below the bigram ratios; the caller drops the result.
    {"sim_hello_help_cutoff_039", false, U"HELLO", U"HELP", 0.39L, "0.309569809377081"},
    // 2/5 < 0.401: early exit 1.
    {"sim_hello_help_cutoff_0401", false, U"HELLO", U"HELP", 0.401L, "0"},
    {"sim_prefix", false, U"ABC", U"ABCDEF", 0, "0.292426507225173"},
    {"sim_is_symmetric_on_lengths", false, U"ABCDEF", U"ABC", 0, "0.292426507225173"},
    {"sim_repeated_letters", false, U"AAA", U"AAAAAA", 0, "0.292426507225173"},
    {"sim_contained_costs", false, U"FILE", U"PROFILE.TXT", 0, "0.191716170296331"},
    {"sim_hello_hallo", false, U"HELLO", U"HALLO", 0, "0.461325966851291"},
    {"sim_abab_baba", false, U"ABAB", U"BABA", 0, "0.693798449612586"},
    {"sim_mueller_muller", false, U"MUELLER", U"MULLER", 0, "0.455414803775511"},
    // Same letters, no common bigram.
    {"sim_no_common_bigram", false, U"ABC", U"CBA", 0, "0"},
    {"sim_two_letter_query", false, U"AB", U"ABC", 0, "0"},
    {"sim_two_letter_candidate", false, U"ABC", U"AB", 0, "0"},
    // Fuzzy
    {"fuz_two_letter_query", true, U"AB", U"ABAB", 0, "0"},
    {"fuz_two_letter_candidate", true, U"ABC", U"AB", 0, "0"},
    {"fuz_no_common_bigram", true, U"ABC", U"CBA", 0, "0"},
    {"fuz_equal_is_one", true, U"ABC", U"ABC", 0, "1"},
    {"fuz_contained_is_one", true, U"FILE", U"PROFILE.TXT", 0, "1"},
    // The surplus letters find no free partner and cost nothing.
    {"fuz_repeated_letters", true, U"AAA", U"AAAAAA", 0, "1"},
    {"fuz_hello_hallo", true, U"HELLO", U"HALLO", 0, "0.630906768838031"},
    {"fuz_readme", true, U"README", U"READ.ME", 0, "0.633134030892506"},
    // The second BA finds its only partner taken.
    {"fuz_abab_baba", true, U"ABAB", U"BABA", 0, "0.810966810966420"},
    {"fuz_shorter_candidate", true, U"ABCDEF", U"ABC", 0, "0.292426507225173"},
    {"fuz_scattered", true, U"ABCDEFGH", U"ABXCXDXEXFXGXH", 0, "0.344253995805047"},
    // 1/7 < 0.2 fires early exit 1 although the full score is above 0.2.
    {"fuz_scattered_exit_1", true, U"ABCDEFGH", U"ABXCXDXEXFXGXH", 0.2L, "0"},
    {"fuz_ratio_equal_to_cutoff_passes", true, U"ABCDE", U"ABXDE", 0.5L, "0.605363984674113"},
    // The next six-byte value above the ratio 0.5 rejects.
    {"fuz_cutoff_just_above_the_ratio_rejects", true, U"ABCDE", U"ABXDE", 0.5L + 0x1p-40L, "0"},
    // Every ratio tested by an exit lies above this score: a result equal
    // to the cut-off is returned.
    {"fuz_result_equal_to_cutoff_is_returned", true, U"README", U"READ.ME", 0.633134030892506L, "0.633134030892506"},
    {"fuz_ratio_equal_to_cutoff_t0", true, U"ABCDE", U"ABXDE", 0, "0.605363984674113"},
    {"fuz_picture_pictures", true, U"PICTURE", U"PICTURES", 0, "1"},
    {"fuz_pictures_picture", true, U"PICTURES", U"PICTURE", 0, "0.794687412825624"},
};

class Measure : public testing::TestWithParam<MeasureCase> {};

TEST_P(Measure, FastAndLiteralGiveTheDesignValue) {
    const MeasureCase& c = GetParam();
    const Real48 t = Real48::fromExtended(c.cutOff);
    for (bool reference : {false, true}) {
        const long double v =
            c.isFuzzy ? fuzzy(c.query, c.candidate, t, reference) : similar(c.query, c.candidate, t, reference);
        EXPECT_EQ(digits15(v), digits15(std::strtold(c.expected, nullptr))) << (reference ? "literal" : "fast");
        EXPECT_EQ(Real48::fromExtended(v).value(), v) << "the result is a six-byte value";
    }
}

INSTANTIATE_TEST_SUITE_P(DesignExamples, Measure, testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(FuzzyMeasure, OnlyTheFirstQueryLengthLettersTakePart) {
    const long double cut = fuzzy(U"HELLO", U"HALLO", Real48(), false);
    EXPECT_EQ(fuzzy(U"HELLOWORLD", U"HALLO", Real48(), false, 5), cut);
    EXPECT_EQ(fuzzy(U"HELLOWORLD", U"HALLO", Real48(), true, 5), cut);
    EXPECT_EQ(fuzzy(U"HELLOWORLD", U"HEL", Real48(), false, 2), 0.0L);
}

TEST(SimilarMeasure, SwappingTheStringsKeepsTheValue) {
    for (auto [a, b] : {std::pair{U"HELLO", U"HELP"}, {U"MUELLER", U"MULLER"}, {U"ABAB", U"BABAB"}})
        EXPECT_EQ(similar(a, b, Real48(), false), similar(b, a, Real48(), false));
}

// Every pair of strings up to length 6 over a small alphabet, then random
// longer pairs (above 64 letters the counting uses four-word bit sets).
std::vector<std::u32string> allStrings(std::u32string_view alphabet, std::size_t maxLen) {
    std::vector<std::u32string> out{U""};
    for (std::size_t first = 0; first < out.size(); ++first) {
        if (out[first].size() == maxLen) continue;
        for (char32_t c : alphabet) out.push_back(out[first] + c);
    }
    return out;
}

TEST(MeasureCounting, FastAgreesWithLiteralOnAllShortStrings) {
    const auto strings = allStrings(U"AB\u00c4", 6);
    int checked = 0;
    for (const auto& q : strings) {
        for (const auto& c : strings) {
            ASSERT_EQ(similar(q, c, Real48(), false), similar(q, c, Real48(), true)) << checked;
            ASSERT_EQ(fuzzy(q, c, Real48(), false), fuzzy(q, c, Real48(), true)) << checked;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 1093 * 1093);
}

TEST(MeasureCounting, FastAgreesWithLiteralOnRandomStringsAndCutOffs) {
    std::mt19937 rng(20261207);
    const std::u32string alphabets[] = {U"AB", U"ABC", U"ABCD\u00c4", U"ABCDEFGHIJ\u65e5\u672c"};
    for (int round = 0; round < 20000; ++round) {
        const auto& alphabet = alphabets[round % 4];
        auto make = [&](int maxLen) {
            std::u32string s(std::uniform_int_distribution<int>(0, maxLen)(rng), U'A');
            for (auto& ch : s) ch = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
            return s;
        };
        const int maxLen = round % 10 == 0 ? 255 : 40;
        const std::u32string q = make(maxLen), c = make(maxLen);
        const Real48 t = Real48::fromExtended(std::uniform_real_distribution<double>(0, 0.9)(rng) * (round % 3));
        ASSERT_EQ(similar(q, c, t, false), similar(q, c, t, true)) << round;
        ASSERT_EQ(fuzzy(q, c, t, false), fuzzy(q, c, t, true)) << round;
    }
}

} // namespace
} // namespace toka::test
