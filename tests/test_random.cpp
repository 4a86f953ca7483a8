// The random source: the generator against the lagged-Fibonacci recurrence
// it implements, seeding, the value modes, clamped ranges and extraction.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

#include "tavo/random.h"

namespace {

// The draws of a source seeded with s, from the recurrence rather than the
// table: with x0 = s, x(i) = x(i-1) * 1103515245 + 12345 (i = 1..30),
// u(-31+i) = x((i+3) mod 31) and u(k) = u(k-31) + u(k-3) for k >= 0, the
// k-th draw is u(k) >> 1; seeding discards the first 310.
std::vector<unsigned> reference_draws(int s, int n) {
  std::uint32_t x[31];
  x[0] = std::uint32_t(s);
  for (int i = 1; i < 31; ++i) x[i] = x[i - 1] * 1103515245u + 12345u;
  std::vector<std::uint32_t> u;  // u[j] holds u(j - 31)
  for (int i = 0; i < 31; ++i) u.push_back(x[(i + 3) % 31]);
  std::vector<unsigned> draws;
  for (int k = 0; int(draws.size()) < n; ++k) {
    const std::size_t at = u.size();  // index of u(k)
    u.push_back(u[at - 31] + u[at - 3]);
    if (k >= 310) draws.push_back(u.back() >> 1);
  }
  return draws;
}

tavo_random_source seeded(int s) {
  tavo_random_source r;
  r.set_seed(s);
  return r;
}

// ---- the generator ------------------------------------------------------------

TEST(RandomGenerator, DrawsFollowTheRecurrenceForEverySeed) {
  for (int s : {0, 1, -1, 12345, INT_MIN, INT_MAX}) {
    tavo_random_source r = seeded(s);
    const std::vector<unsigned> expected = reference_draws(s, 2000);
    for (int k = 0; k < 2000; ++k) ASSERT_EQ(r.get_rand31(), expected[k]) << "seed " << s;
  }
  tavo_random_source r = seeded(2024);
  unsigned high = 0;
  for (int k = 0; k < 100000; ++k) high |= r.get_rand31();
  EXPECT_EQ(high, 0x7fffffffu);  // every one of the 31 bits occurs, no more
}

TEST(RandomGenerator, InitialTableIsTheStateSeedOneLeaves) {
  tavo_random_source a = seeded(99);
  a.init_table();
  const tavo_random_source b = seeded(1);
  for (int i = 0; i < 31; ++i) EXPECT_EQ(a.state_word(i), b.state_word(i)) << "word " << i;
  EXPECT_EQ(a.state_word(0), 0x9a319039u);  // not the seed fill itself
  EXPECT_EQ(a.rear_position(), 0);
  EXPECT_EQ(a.front_position(), 3);
  EXPECT_EQ(b.rear_position(), 0);  // 310 draws are ten whole turns
  EXPECT_EQ(b.front_position(), 3);
}

TEST(RandomGenerator, ReseedingRepeatsTheSequenceOfAnySourceWithThatSeed) {
  tavo_random_source a(5), b(3, 9);
  for (int k = 0; k < 50; ++k) a.get_rand31();
  a.set_seed(777);
  b.set_seed(777);
  for (int k = 0; k < 500; ++k) ASSERT_EQ(a.get_rand31(), b.get_rand31());
}

TEST(RandomGenerator, Rand32TakesTheTopBitFromABufferRefilledEveryThirtyOneCalls) {
  tavo_random_source r = seeded(31);
  const std::vector<unsigned> d = reference_draws(31, 64);
  // Results 0..30 use draws 1..31 with bits 0..30 of draw 0 on top; result
  // 31 refills from draw 32 and uses draw 33.
  int top = 0;
  for (int k = 0; k < 62; ++k) {
    const int refill = (k / 31) * 32;
    const unsigned buffer = d[refill] | 0x80000000u;
    const unsigned expected = d[refill + 1 + k % 31] | (((buffer >> (k % 31)) & 1u) << 31);
    const unsigned got = r.get_rand32();
    ASSERT_EQ(got, expected) << "result " << k;
    top += got >> 31;
  }
  EXPECT_EQ(r.get_rand31(), reference_draws(31, 65)[64]);  // 64 draws used
  // Bit 31 is set in about half the results.
  EXPECT_GT(top, 15);
  EXPECT_LT(top, 47);
}

// ---- seeding from the clock ----------------------------------------------------

TEST(RandomSeeding, NewSourceIsSeededWithTimeTimesTheInstanceCount) {
  ASSERT_GE(tavo_random_source::count, 1);  // rand_int was built at start-up
  const int before = tavo_random_source::count;
  const std::time_t t0 = std::time(nullptr);
  tavo_random_source a;
  tavo_random_source b;
  const std::time_t t1 = std::time(nullptr);
  EXPECT_EQ(tavo_random_source::count, before + 2);
  // a got t * (before + 1), b t * (before + 2), for a t in [t0, t1].
  auto seeded_at = [&](tavo_random_source r, int n) {
    const unsigned first = r.get_rand31();
    for (std::time_t t = t0; t <= t1; ++t)
      if (reference_draws(int(std::uint32_t(t) * std::uint32_t(n)), 1)[0] == first) return true;
    return false;
  };
  EXPECT_TRUE(seeded_at(a, before + 1));
  EXPECT_TRUE(seeded_at(b, before + 2));
  int same = 0;
  for (int k = 0; k < 100; ++k) same += a.get_rand31() == b.get_rand31();
  EXPECT_LT(same, 5);
}

TEST(RandomSeeding, ConstructorsStartInTheirModes) {
  tavo_random_source d, p(8), q(0), w(40), r(-3, 4);
  EXPECT_TRUE(d.in_precision_mode());
  EXPECT_EQ(d.current_mask(), 0xffffffffu);
  EXPECT_EQ(d.current_precision(), 31);
  EXPECT_EQ(p.current_mask(), 255u);
  EXPECT_EQ(p.current_precision(), 8);
  EXPECT_EQ(q.current_mask(), 0xffffffffu);
  EXPECT_EQ(w.current_mask(), 0xffffffffu);
  EXPECT_EQ(w.current_precision(), 40);
  EXPECT_FALSE(r.in_precision_mode());
  EXPECT_EQ(r.range_low(), -3);
  EXPECT_EQ(r.range_diff(), 7u);
  EXPECT_EQ(r.current_mask(), 7u);
}

// ---- value modes ------------------------------------------------------------------

TEST(RandomRange, MaskIsTheSmallestAllOnesValueCoveringDiff) {
  const std::pair<int, unsigned> cases[] = {{0, 0u},
                                            {1, 1u},
                                            {2, 3u},
                                            {3, 3u},
                                            {4, 7u},
                                            {7, 7u},
                                            {8, 15u},
                                            {1000, 1023u},
                                            {1 << 30, 0x7fffffffu},
                                            {INT_MAX, 0x7fffffffu}};
  tavo_random_source r;
  for (auto [d, mask] : cases) {
    r.set_range(0, d);
    EXPECT_EQ(r.current_mask(), mask) << "diff " << d;
    EXPECT_EQ(r.range_diff(), unsigned(d));
  }
}

TEST(RandomRange, ZeroToFiveRejectsSixAndSevenAndCoversTheRangeEvenly) {
  tavo_random_source r(0, 5);
  r.set_seed(8);
  const std::vector<unsigned> d = reference_draws(8, 40000);
  std::size_t next = 0;
  int seen[6] = {};
  for (int k = 0; k < 20000; ++k) {
    unsigned expected = d[next++] & 7u;
    while (expected > 5) expected = d[next++] & 7u;
    const int v = r();
    ASSERT_EQ(v, int(expected));
    ++seen[v];
  }
  for (int v = 0; v < 6; ++v) EXPECT_NEAR(seen[v], 20000 / 6, 300) << "value " << v;
}

TEST(RandomRange, DegenerateRangesGiveLowAndReversedCallGivesZero) {
  tavo_random_source r = seeded(3);
  r.set_range(5, 5);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(r(), 5);
  r.set_range(10, 1);
  EXPECT_EQ(r.range_diff(), 0u);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(r(), 10);
  tavo_random_source copy = r;
  EXPECT_EQ(r(10, 1), 0);
  EXPECT_EQ(r.get_rand31(), copy.get_rand31());  // no draw taken
}

TEST(RandomRange, RangesOfTwoToTheThirtyOneOrMoreAreClampedAndTerminate) {
  tavo_random_source r = seeded(11);
  const std::vector<unsigned> d = reference_draws(11, 300);
  r.set_range(INT_MIN, INT_MAX);
  EXPECT_EQ(r.range_diff(), 0x7fffffffu);
  EXPECT_EQ(r.current_mask(), 0x7fffffffu);
  for (int k = 0; k < 100; ++k) ASSERT_EQ(r(), int(std::int64_t(INT_MIN) + d[k]));
  r.set_range(-10, INT_MAX);  // 2^31 + 9 values: [-10, 2^31 - 11]
  for (int k = 100; k < 200; ++k) ASSERT_EQ(r(), int(std::int64_t(d[k]) - 10));
  for (int k = 200; k < 300; ++k) {
    const int v = r(INT_MIN + 1, INT_MAX - 1);
    ASSERT_EQ(v, int(std::int64_t(INT_MIN) + 1 + d[k]));
  }
}

TEST(RandomRange, CallWithBoundsRestoresModeAndFields) {
  tavo_random_source r(8);
  r.set_seed(21);
  for (int k = 0; k < 1000; ++k) {
    const int v = r(-50, 50);
    ASSERT_GE(v, -50);
    ASSERT_LE(v, 50);
  }
  EXPECT_TRUE(r.in_precision_mode());
  EXPECT_EQ(r.current_mask(), 255u);
  EXPECT_EQ(r.range_low(), 0);
  EXPECT_EQ(r.range_diff(), 0u);
  r.set_range(100, 103);
  const int wide = r(1, 1000000);
  EXPECT_GE(wide, 1);
  EXPECT_LE(wide, 1000000);
  EXPECT_FALSE(r.in_precision_mode());
  EXPECT_EQ(r.range_low(), 100);
  EXPECT_EQ(r.range_diff(), 3u);
  EXPECT_EQ(r.current_mask(), 3u);
}

TEST(RandomPrecision, SetPrecisionReturnsThePreviousOneAndMasksLowBits) {
  tavo_random_source r;
  r.set_seed(4);
  const std::vector<unsigned> d = reference_draws(4, 30);
  EXPECT_EQ(r.set_precision(8), 31);
  for (int k = 0; k < 10; ++k) ASSERT_EQ(r(), int(d[k] & 255u));
  EXPECT_EQ(r.set_precision(0), 8);
  for (int k = 10; k < 20; ++k) ASSERT_EQ(r(), int(d[k]));
  EXPECT_EQ(r.set_precision(40), 0);
  for (int k = 20; k < 30; ++k) ASSERT_EQ(r(), int(d[k]));
  r.set_range(3, 9);
  EXPECT_EQ(r.set_precision(5), 40);  // the range left precision alone
  EXPECT_EQ(r.range_low(), 3);        // and set_precision leaves low, diff
  EXPECT_EQ(r.range_diff(), 6u);
}

TEST(RandomPrecision, BitsCallTakesTheHighBitsAndClampsOutsideOneToThirtyOne) {
  tavo_random_source r = seeded(6);
  const std::vector<unsigned> d = reference_draws(6, 7);
  EXPECT_EQ(r(8), int(d[0] >> 23));
  EXPECT_EQ(r(31), int(d[1]));
  EXPECT_EQ(r(1), int(d[2] >> 30));
  EXPECT_EQ(r(0), 0);
  EXPECT_EQ(r(-4), 0);
  EXPECT_EQ(r(32), int(d[5]));
  EXPECT_EQ(r(40), int(d[6]));  // each call took exactly one draw
  EXPECT_TRUE(r.in_precision_mode());
  EXPECT_EQ(r.current_mask(), 0xffffffffu);
}

// ---- extraction ----------------------------------------------------------------------

TEST(RandomExtraction, IntegersTakeTheModeValueOrItsLowByteAndBoolBitSixteen) {
  tavo_random_source r(-20, 300);
  r.set_seed(9);
  tavo_random_source ref = r;
  for (int k = 0; k < 200; ++k) {
    int i;
    long l;
    unsigned u;
    unsigned long ul;
    char c;
    unsigned char uc;
    r >> i >> l >> u >> ul >> c >> uc;
    ASSERT_EQ(i, ref());
    ASSERT_EQ(l, ref());
    ASSERT_EQ(u, unsigned(ref()));
    ASSERT_EQ(ul, (unsigned long)unsigned(ref()));  // 32-bit wrap, as on 32-bit x86
    ASSERT_EQ((unsigned char)c, ref() & 0xff);
    ASSERT_EQ(uc, ref() & 0xff);
  }
  int ones = 0;
  for (int k = 0; k < 500; ++k) {
    bool b;
    r >> b;
    ASSERT_EQ(b, ((ref.get_rand31() >> 16) & 1u) != 0);
    ones += b;
  }
  EXPECT_NEAR(ones, 250, 50);
}

TEST(RandomExtraction, RealsAreTheDrawScaledToTheUnitInterval) {
  tavo_random_source r = seeded(17);
  const std::vector<unsigned> d = reference_draws(17, 2000);
  for (int k = 0; k < 2000; k += 2) {
    float f;
    double x;
    r >> f >> x;
    // f is the float nearest to d / 2^31: within half a float step of it.
    const double exact = d[k] / 2147483648.0;
    ASSERT_LE(std::fabs(f - exact), std::ldexp(1.0, -25)) << d[k];
    ASSERT_LE(f, 1.0f);
    ASSERT_GE(x, 0.0);
    ASSERT_LT(x, 1.0);
    ASSERT_NEAR(x * 2147483647.0, double(d[k + 1]), 1e-6);
  }
}

TEST(RandomGlobal, RandIntIsAWorkingSourceBuiltAtStartUp) {
  for (int k = 0; k < 100; ++k) {
    const int v = rand_int(1, 6);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 6);
  }
  EXPECT_TRUE(rand_int.in_precision_mode());
}

}  // namespace
