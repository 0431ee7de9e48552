// Gamma table cache: table values against an independent pow() oracle,
// rounding, the 32-set limit, allocation failures and concurrent use.
#include "image/gamma_tables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "../test_hooks_support.h"
#include "runtime/buffers.h"

namespace {

// The oracle works in long double. An entry whose exact value lies this close
// to a half may round either way in double arithmetic; anything else must be
// the nearest integer.
constexpr long double kTieSlack = 1e-6L;

void ExpectRounded(long double exact, uint32_t actual, const char* table, uint32_t index, double gamma) {
  const long double below = std::floor(exact);
  const long double fraction = exact - below;
  if (std::fabs(fraction - 0.5L) < kTieSlack) {
    EXPECT_TRUE(actual == below || actual == below + 1) << table << "[" << index << "] gamma " << gamma;
  } else {
    const long double nearest = fraction > 0.5L ? below + 1 : below;
    EXPECT_EQ(actual, static_cast<uint32_t>(nearest)) << table << "[" << index << "] gamma " << gamma;
  }
}

void CheckAgainstOracle(const GammaTables* set) {
  ASSERT_NE(set, nullptr);
  const long double g = set->gamma;
  for (uint32_t i = 0; i < 256; ++i) {
    ExpectRounded(std::pow(i / 255.0L, g) * 16777215.0L, set->code8ToLinear[i], "code8ToLinear", i, set->gamma);
  }
  for (uint32_t i = 0; i < 65536; ++i) {
    const long double x = i / 65535.0L;
    ExpectRounded(std::pow(x, g) * 16777215.0L, set->code16ToLinear[i], "code16ToLinear", i, set->gamma);
    ExpectRounded(std::pow(x, 1 / g) * 255.0L, set->linearToCode8[i], "linearToCode8", i, set->gamma);
    ExpectRounded(std::pow(x, 1 / g) * 65535.0L, set->linearToCode16[i], "linearToCode16", i, set->gamma);
    if (::testing::Test::HasFailure()) return;  // one broken entry is enough to see
  }
}

TEST(GammaTables, ValuesMatchThePowerLawAndHandComputedEntries) {
  for (double gamma : {2.2, 1.0, 1.8, 0.45454545454545453}) CheckAgainstOracle(GetGammaTables(gamma));

  // Worked by hand: (128/255)^2.2 = 0.219520..., x 16777215 = 3682929.51;
  // (1/255)^2.2 x 16777215 = 85.18; (32768/65535)^2.2 x 65535 = 14263.36.
  const GammaTables* g22 = GetGammaTables(2.2);
  EXPECT_EQ(g22->code8ToLinear[128], 3682930u);
  EXPECT_EQ(g22->code8ToLinear[1], 85u);
  EXPECT_EQ(g22->code8ToLinear[255], 16777215u);
  EXPECT_EQ(g22->code16ToLinear[65535], 16777215u);
  const GammaTables* decode = GetGammaTables(0.45454545454545453);
  EXPECT_EQ(decode->linearToCode16[32768], 14263);
  EXPECT_EQ(decode->linearToCode16[65535], 65535);

  // Gamma 1 is plain rescaling: 255 -> 16777215 is a factor of 65793, and
  // 65535 -> 255 a divisor of 257.
  const GammaTables* g1 = GetGammaTables(1.0);
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(g1->code8ToLinear[i], i * 65793u);
  for (uint32_t i = 0; i < 65536; i += 257) EXPECT_EQ(g1->linearToCode8[i], i / 257);
  for (uint32_t i = 0; i < 65536; i += 97) EXPECT_EQ(g1->linearToCode16[i], i);
}

TEST(GammaTables, RoundingTakesHalvesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfToEven(0.5), 0.0);
  EXPECT_EQ(RoundHalfToEven(1.5), 2.0);
  EXPECT_EQ(RoundHalfToEven(2.5), 2.0);
  EXPECT_EQ(RoundHalfToEven(3.5), 4.0);
  EXPECT_EQ(RoundHalfToEven(16777214.5), 16777214.0);
  EXPECT_EQ(RoundHalfToEven(65534.5), 65534.0);
  EXPECT_EQ(RoundHalfToEven(2.4999999), 2.0);
  EXPECT_EQ(RoundHalfToEven(2.5000001), 3.0);
  EXPECT_EQ(RoundHalfToEven(7.0), 7.0);
  EXPECT_EQ(RoundHalfToEven(0.0), 0.0);
}

TEST(GammaTables, AFullCacheServesTheNearestSetAndNeverGrows) {
  ResetGammaTablesForTesting();
  std::vector<const GammaTables*> sets;
  for (uint32_t k = 0; k < GAMMA_CACHE_CAPACITY; ++k) sets.push_back(GetGammaTables(0.5 + 0.1 * k));
  ASSERT_EQ(GetGammaTableSetCount(), GAMMA_CACHE_CAPACITY);
  const BufferUsage full = GetBufferUsage();

  EXPECT_EQ(GetGammaTables(1.93), sets[14]);  // 0.5 + 1.4
  EXPECT_EQ(GetGammaTables(9.0), sets.back());
  EXPECT_EQ(GetGammaTables(0.01), sets.front());
  EXPECT_EQ(GetGammaTables(0.5 + 0.1 * 7), sets[7]);
  EXPECT_EQ(GetGammaTableSetCount(), GAMMA_CACHE_CAPACITY);
  EXPECT_EQ(GetBufferUsage().current, full.current);
  ResetGammaTablesForTesting();
}

TEST(GammaTables, FailedAllocationsLeaveTheCacheAsItWas) {
  ResetGammaTablesForTesting();
  const BufferUsage empty = GetBufferUsage();
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(GetGammaTables(2.2), nullptr);  // nothing cached to fall back on
  EXPECT_EQ(GetGammaTableSetCount(), 0u);
  EXPECT_EQ(GetBufferUsage().current, empty.current);

  // A cached set of another gamma is no stand-in for memory that ran out
  // (its tables would convert the light wrongly); the build can be retried.
  const GammaTables* one = GetGammaTables(1.0);
  ASSERT_NE(one, nullptr);
  const BufferUsage before = GetBufferUsage();
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(GetGammaTables(2.2), nullptr);
  EXPECT_EQ(GetGammaTableSetCount(), 1u);
  EXPECT_EQ(GetBufferUsage().current, before.current);
  EXPECT_EQ(GetGammaTables(2.2)->gamma, 2.2);  // a later request builds it
  EXPECT_EQ(GetGammaTableSetCount(), 2u);
  ResetGammaTablesForTesting();
}

TEST(GammaTables, InvalidGammasAreRefused) {
  const uint32_t count = GetGammaTableSetCount();
  for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL}) EXPECT_EQ(GetGammaTables(bad), nullptr) << bad;
  EXPECT_EQ(GetGammaTableSetCount(), count);
}

// Many threads ask for the same and for different gammas at once; each set is
// built once, every thread gets the same pointer for a gamma, and no thread
// ever sees a set that is not completely filled.
TEST(GammaTables, ConcurrentLookupsAndInsertionsAgree) {
  ResetGammaTablesForTesting();
  constexpr int kThreads = 8;
  constexpr int kGammas = 12;
  std::atomic<bool> go{false};
  std::vector<std::vector<const GammaTables*>> seen(kThreads, std::vector<const GammaTables*>(kGammas));
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 20; ++round) {
        for (int j = 0; j < kGammas; ++j) {
          const int k = (j * 5 + t + round) % kGammas;  // a different order per thread
          const double gamma = 0.6 + 0.2 * k;
          const GammaTables* set = GetGammaTables(gamma);
          if (set == nullptr || set->gamma != gamma || set->code16ToLinear[65535] != 16777215u ||
              set->linearToCode16[65535] != 65535 || set->code8ToLinear[0] != 0 || set->linearToCode8[65535] != 255) {
            ++bad;
            continue;
          }
          if (seen[t][k] == nullptr) seen[t][k] = set;
          if (seen[t][k] != set) ++bad;
        }
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(GetGammaTableSetCount(), static_cast<uint32_t>(kGammas));
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
  for (int k = 0; k < kGammas; ++k) {
    // Spot-check the middle of each set against the oracle.
    const GammaTables* set = seen[0][k];
    const long double exact = std::pow(128 / 255.0L, static_cast<long double>(set->gamma)) * 16777215.0L;
    EXPECT_LE(std::fabs(exact - set->code8ToLinear[128]), 0.5L + kTieSlack);
  }
  ResetGammaTablesForTesting();
}

// More distinct gammas than the cache holds, raced: exactly 32 sets exist
// afterwards and every caller still gets a set.
TEST(GammaTables, ConcurrentOverflowStopsAtTheCapacity) {
  ResetGammaTablesForTesting();
  std::atomic<bool> go{false};
  std::atomic<int> missing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < 40; ++k) {
        if (GetGammaTables(0.3 + 0.05 * ((k * 7 + t * 3) % 40)) == nullptr) ++missing;
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(missing.load(), 0);
  EXPECT_EQ(GetGammaTableSetCount(), GAMMA_CACHE_CAPACITY);
  ResetGammaTablesForTesting();
}

}  // namespace
