#pragma once

#include <gtest/gtest.h>

#include <string>

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
