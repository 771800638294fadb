#include "attrs/quantization_attrs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessar {
namespace {

using Setter = void (QuantizationAttrs::*)();
using Test = bool (QuantizationAttrs::*)() const;

// One row per flag: its bit, setter, test, and the bits its setter clears.
struct Flag {
  const char* name;
  int64_t bit;
  Setter set;
  Test is;
  int64_t siblings;
};

const std::vector<Flag> kFlags{
    {"scale", 0x1, &QuantizationAttrs::set_scale, &QuantizationAttrs::is_scale, 0x2},
    {"shift", 0x2, &QuantizationAttrs::set_shift, &QuantizationAttrs::is_shift, 0x1},
    {"symmetric", 0x10, &QuantizationAttrs::set_symmetric, &QuantizationAttrs::is_symmetric, 0x20},
    {"asymmetric", 0x20, &QuantizationAttrs::set_asymmetric, &QuantizationAttrs::is_asymmetric,
     0x10},
    {"static", 0x100, &QuantizationAttrs::set_static, &QuantizationAttrs::is_static, 0x200},
    {"dynamic", 0x200, &QuantizationAttrs::set_dynamic, &QuantizationAttrs::is_dynamic, 0x100},
    {"per_tensor", 0x1000, &QuantizationAttrs::set_per_tensor, &QuantizationAttrs::is_per_tensor,
     0x6000},
    {"per_channel", 0x2000, &QuantizationAttrs::set_per_channel, &QuantizationAttrs::is_per_channel,
     0x5000},
    {"per_block", 0x4000, &QuantizationAttrs::set_per_block, &QuantizationAttrs::is_per_block,
     0x3000},
    {"feature", 0x10000, &QuantizationAttrs::set_feature, &QuantizationAttrs::is_feature, 0x20000},
    {"weight", 0x20000, &QuantizationAttrs::set_weight, &QuantizationAttrs::is_weight, 0x10000},
};

TEST(QuantizationAttrs, DefaultWord) {
  const QuantizationAttrs a;
  EXPECT_EQ(a.get_value(), 4369);
  for (const Flag& f : kFlags) {
    const bool expected = (0x1111 & f.bit) != 0;
    EXPECT_EQ((a.*f.is)(), expected) << f.name;
  }
}

TEST(QuantizationAttrs, EachSetterTouchesOnlyItsGroupOnAnyWord) {
  const std::vector<int64_t> words{
      0x1111, 0, -1, 3, 0x8000, INT64_MIN, INT64_MAX, 0x7FFF'FFFF'FFF0'0000, 0x0123'4567'89AB'CDEF};
  for (const int64_t start : words) {
    for (const Flag& f : kFlags) {
      QuantizationAttrs a(start);
      (a.*f.set)();
      EXPECT_EQ(a.get_value(), (start & ~f.siblings) | f.bit) << f.name << " on " << start;
      EXPECT_TRUE((a.*f.is)()) << f.name;
      const int64_t once = a.get_value();
      (a.*f.set)();
      EXPECT_EQ(a.get_value(), once) << f.name << " twice";
    }
  }
}

TEST(QuantizationAttrs, DocumentedWords) {
  QuantizationAttrs a;
  a.set_per_channel();
  EXPECT_EQ(a.get_value(), 8465);
  QuantizationAttrs b;
  b.set_weight();
  EXPECT_EQ(b.get_value(), 135441);
  QuantizationAttrs c;
  c.set_dynamic();
  EXPECT_EQ(c.get_value(), 4625);
  QuantizationAttrs d;
  d.set_shift();
  d.set_asymmetric();
  d.set_dynamic();
  d.set_per_block();
  d.set_weight();
  EXPECT_EQ(d.get_value(), 148002);
  QuantizationAttrs e;
  e.set_feature();
  e.set_weight();
  EXPECT_TRUE(e.is_weight());
  EXPECT_FALSE(e.is_feature());
}

TEST(QuantizationAttrs, WordsFromIntegersAreKeptAsGiven) {
  QuantizationAttrs both(3);
  EXPECT_TRUE(both.is_scale());
  EXPECT_TRUE(both.is_shift());
  both.set_scale();
  EXPECT_EQ(both.get_value(), 1);

  QuantizationAttrs freeBit(0x8000);
  freeBit.set_per_block();
  EXPECT_EQ(freeBit.get_value(), 0xC000);

  QuantizationAttrs all(-1);
  for (const Flag& f : kFlags) EXPECT_TRUE((all.*f.is)()) << f.name;
  all.set_static();
  EXPECT_EQ(all.get_value(), -513);

  EXPECT_EQ(QuantizationAttrs(INT64_MIN).get_value(), INT64_MIN);
  EXPECT_EQ(QuantizationAttrs(0).get_value(), 0);
}

}  // namespace
}  // namespace tessar
