// Seeded streams: the standard generators behind uniform01() and
// samplerrand(), and the way back to the fixed ones.
#include "numerics/streams.h"

#include <gtest/gtest.h>

#include <random>

#include "numerics/arms.h"

namespace {

TEST(Streams, SeededStreamsAreTheStandardGenerators) {
  useseededstreams(2026, 3);
  std::seed_seq useq{std::uint64_t{2026}, std::uint64_t{3}, std::uint64_t{0}};
  std::seed_seq rseq{std::uint64_t{2026}, std::uint64_t{3}, std::uint64_t{1}};
  std::mt19937_64 u(useq), r(rseq);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(uniform01(), static_cast<double>(u() >> 11) / 9007199254740992.0);
    const int x = samplerrand();
    ASSERT_EQ(x, static_cast<int>(r() >> 49));
    ASSERT_GE(x, 0);
    ASSERT_LE(x, 32767);
  }
  usefixedstreams();
}

TEST(Streams, ShardsAndSeedsGiveDifferentStreams) {
  useseededstreams(1, 0);
  const double a = uniform01();
  useseededstreams(1, 1);
  const double b = uniform01();
  useseededstreams(2, 0);
  const double c = uniform01();
  useseededstreams(1, 0);
  EXPECT_EQ(uniform01(), a);
  EXPECT_NE(a, b);
  EXPECT_NE(a, c);
  usefixedstreams();
}

TEST(Streams, FixedStreamsStartAgainFromProgramStart) {
  useseededstreams(7, 0);
  uniform01();
  usefixedstreams();
  EXPECT_FALSE(seededstreams());
  EXPECT_EQ(uniform01(), 0.7879286167848271);
  EXPECT_EQ(samplerrand(), 41);
  usefixedstreams();
}

}  // namespace
