#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

/// Expects `statement` to throw `exception_type` whose what() equals
/// `expected_message` exactly.
#define EXPECT_THROW_MSG(statement, exception_type, expected_message)            \
  do {                                                                           \
    bool qcaps_thrown = false;                                                   \
    try {                                                                        \
      statement;                                                                 \
    } catch (const exception_type& qcaps_error) {                                \
      qcaps_thrown = true;                                                       \
      EXPECT_EQ(std::string(qcaps_error.what()), std::string(expected_message)); \
    }                                                                            \
    EXPECT_TRUE(qcaps_thrown) << #statement " did not throw " #exception_type;   \
  } while (false)

/// The 32-bit ids of a list of symbols, for comparing lists in assertions.
template <typename List>
std::vector<uint32_t> ids(const List& list) {
  return std::vector<uint32_t>(list.begin(), list.end());
}

/// A target name as a test-name suffix: gtest allows no "-".
inline std::string testNameOf(std::string name) {
  for (char& ch : name) ch = ch == '-' ? '_' : ch;
  return name;
}
