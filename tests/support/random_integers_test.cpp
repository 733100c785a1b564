// The captcha refresh's number source.
#include "support/random_integers.h"

#include <gtest/gtest.h>

#include <vector>

namespace sorrel {
namespace {

// Intended: never seeded, so every run draws the same captcha numbers.
TEST(RandomIntegersTest, UnseededSequence) {
  RandomIntegers random;
  const std::vector<int> expected = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (const int value : expected) EXPECT_EQ(random.Next(), value);
  RandomIntegers other;
  EXPECT_EQ(other.Next(), 41);
}

}  // namespace
}  // namespace sorrel
