// The six-byte real's store rounding and layout, and the weight table built
// with it.  Every expectation is exact.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "similar/real48.h"
#include "similar/weights.h"

namespace toka::test {
namespace {

using Bytes = std::array<std::uint8_t, 6>;

std::string digits15(long double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15Lg", v);
    return buf;
}

struct RoundCase {
    const char* name;
    long double in;
    Bytes bytes;
};
void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.name; }

class StoreRounding : public testing::TestWithParam<RoundCase> {};

TEST_P(StoreRounding, GivesTheExpectedBytes) {
    const RoundCase& c = GetParam();
    const Real48 stored = Real48::fromExtended(c.in);
    EXPECT_EQ(stored.bytes(), c.bytes);
    // Loading the bytes back is exact.
    EXPECT_EQ(Real48::fromBytes(c.bytes).value(), stored.value());
}

const long double two = 2.0L;
INSTANTIATE_TEST_SUITE_P(
    Cases, StoreRounding,
    testing::Values(
        RoundCase{"zero", 0.0L, {0, 0, 0, 0, 0, 0}}, RoundCase{"one", 1.0L, {0x81, 0, 0, 0, 0, 0}},
        RoundCase{"half", 0.5L, {0x80, 0, 0, 0, 0, 0}},
        RoundCase{"minus_one_sets_the_sign_bit", -1.0L, {0x81, 0, 0, 0, 0, 0x80}},
        RoundCase{"three_is_one_and_a_half_times_two", 3.0L, {0x82, 0, 0, 0, 0, 0x40}},
        RoundCase{"lowest_fraction_bit_in_byte_1", 1.0L + std::ldexp(1.0L, -39), {0x81, 1, 0, 0, 0, 0}},
        // The most significant discarded bit alone: a tie, rounded away from zero.
        RoundCase{"tie_rounds_up", 1.0L + std::ldexp(1.0L, -40), {0x81, 1, 0, 0, 0, 0}},
        RoundCase{"negative_tie_rounds_away_from_zero", -(1.0L + std::ldexp(1.0L, -40)), {0x81, 1, 0, 0, 0, 0x80}},
        // Even significand below the tie: not round-to-even, just truncation.
        RoundCase{
            "just_below_tie_truncates", 1.0L + std::ldexp(1.0L, -40) - std::ldexp(1.0L, -63), {0x81, 0, 0, 0, 0, 0}},
        RoundCase{"odd_significand_tie_also_rounds_up", 1.0L + std::ldexp(3.0L, -40), {0x81, 2, 0, 0, 0, 0}},
        // All 40 significand bits set, then a discarded 1: the carry raises the exponent.
        RoundCase{"carry_into_exponent", two - std::ldexp(1.0L, -40), {0x82, 0, 0, 0, 0, 0}},
        RoundCase{"largest_below_one_is_kept", 1.0L - std::ldexp(1.0L, -40), {0x80, 0xff, 0xff, 0xff, 0xff, 0x7f}},
        RoundCase{"closer_to_one_rounds_to_one", 1.0L - std::ldexp(1.0L, -41), {0x81, 0, 0, 0, 0, 0}},
        RoundCase{"smallest_normal", std::ldexp(1.0L, -128), {0x01, 0, 0, 0, 0, 0}},
        RoundCase{"below_the_range_is_zero", std::ldexp(1.0L, -129), {0, 0, 0, 0, 0, 0}},
        // Rounding first lifts this value into the range.
        RoundCase{"carry_out_of_underflow", std::ldexp(two - std::ldexp(1.0L, -45), -129), {0x01, 0, 0, 0, 0, 0}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Real48, ComparesByValue) {
    EXPECT_LT(Real48::fromExtended(0.25L), Real48::fromExtended(0.5L));
    EXPECT_EQ(Real48::fromExtended(1.0L / 3.0L), Real48::fromExtended(1.0L / 3.0L + std::ldexp(1.0L, -50)));
}

TEST(Weights, MatchTheSixByteRunningSums) {
    const WeightTable w = BuildWeights();
    EXPECT_EQ(w[0].value(), 0.0L);
    EXPECT_EQ(w[1].value(), 1.0L);
    EXPECT_EQ(w[2].value(), 2.5L);
    // 3 + 1 + 1/3 and 4 + 1.5 + 2/3 + 1/4, each partial sum rounded to six bytes.
    EXPECT_EQ(digits15(w[3].value()), "4.33333333333576");
    EXPECT_EQ(digits15(w[4].value()), "6.41666666666424");
    EXPECT_EQ(digits15(w[5].value()), "8.69999999999709");
    EXPECT_EQ(digits15(w[10].value()).substr(0, 12), "22.218650793");
    EXPECT_NEAR(static_cast<double>(w[255].value()), 1311.8, 0.1);
    for (int n = 2; n <= 255; ++n) EXPECT_LT(w[static_cast<std::size_t>(n - 1)], w[static_cast<std::size_t>(n)]) << n;
}

} // namespace
} // namespace toka::test
