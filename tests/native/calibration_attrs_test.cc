#include "attrs/calibration_attrs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessar {
namespace {

using Codes = std::vector<int64_t>;

TEST(CalibrationAttrs, StartsEmpty) {
  const CalibrationAttrs c;
  EXPECT_TRUE(c.get_value().empty());
  EXPECT_EQ(c.number_of_methods(), 0u);
  EXPECT_EQ(CalibrationAttrs(Codes{}).number_of_methods(), 0u);
}

TEST(CalibrationAttrs, SettersAppendInCallOrderKeepingDuplicates) {
  CalibrationAttrs c;
  c.set_kl();
  c.set_max();
  EXPECT_EQ(c.get_value(), (Codes{2, 1}));
  c.set_max();
  EXPECT_EQ(c.get_value(), (Codes{2, 1, 1}));
  EXPECT_EQ(c.number_of_methods(), 3u);

  CalibrationAttrs all;
  all.set_max();
  all.set_kl();
  all.set_percentile();
  all.set_min_max();
  all.set_max_per_channel();
  all.set_percentile_per_channel();
  EXPECT_EQ(all.get_value(), (Codes{1, 2, 4, 8, 16, 32}));
}

TEST(CalibrationAttrs, GivenListIsCopiedUnchecked) {
  Codes given{8, 8, 0, -5, 64, INT64_MIN};
  CalibrationAttrs c(given);
  given.clear();  // the object holds its own copy
  EXPECT_EQ(c.get_value(), (Codes{8, 8, 0, -5, 64, INT64_MIN}));
  EXPECT_EQ(c.number_of_methods(), 6u);
  c.set_percentile();
  EXPECT_EQ(c.get_value().back(), 4);

  Codes copy = c.get_value();
  copy.push_back(99);
  EXPECT_EQ(c.number_of_methods(), 7u);
}

}  // namespace
}  // namespace tessar
