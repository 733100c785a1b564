// Tables of cases: every row is checked, and a failure names its row.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_helpers/hex_bytes.h"

namespace sorrel::test {

// Rows of {input, expected result}.
template <typename In, typename Out>
using Cases = std::vector<std::pair<In, Out>>;

// Expects `f(input) == expected` for every row.
template <typename F, typename In, typename Out>
void ExpectEach(const F& f, const Cases<In, Out>& rows) {
  for (const auto& [input, expected] : rows) {
    SCOPED_TRACE(::testing::PrintToString(input));
    EXPECT_EQ(f(input), expected);
  }
}

// The same over byte strings, read as hex pairs so that GBK bytes show.
template <typename F>
void ExpectEachBytes(const F& f, const Cases<std::string, std::string>& rows) {
  for (const auto& [input, expected] : rows) {
    SCOPED_TRACE(HexOf(input));
    EXPECT_EQ(HexOf(f(input)), HexOf(expected));
  }
}

}  // namespace sorrel::test
