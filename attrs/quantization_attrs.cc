#include "attrs/quantization_attrs.h"

namespace tessar {
namespace {

// The flag bits, one per choice.
constexpr int64_t kScale = 0x1;
constexpr int64_t kShift = 0x2;
constexpr int64_t kSymmetric = 0x10;
constexpr int64_t kAsymmetric = 0x20;
constexpr int64_t kStatic = 0x100;
constexpr int64_t kDynamic = 0x200;
constexpr int64_t kPerTensor = 0x1000;
constexpr int64_t kPerChannel = 0x2000;
constexpr int64_t kPerBlock = 0x4000;
constexpr int64_t kFeature = 0x10000;
constexpr int64_t kWeight = 0x20000;

// Sets `flag` and clears `siblings`, leaving every other bit as it was.
constexpr int64_t choose(int64_t word, int64_t flag, int64_t siblings) {
  return (word & ~siblings) | flag;
}

constexpr bool has(int64_t word, int64_t flag) { return (word & flag) != 0; }

}  // namespace

void QuantizationAttrs::set_scale() { value_ = choose(value_, kScale, kShift); }
void QuantizationAttrs::set_shift() { value_ = choose(value_, kShift, kScale); }
void QuantizationAttrs::set_symmetric() { value_ = choose(value_, kSymmetric, kAsymmetric); }
void QuantizationAttrs::set_asymmetric() { value_ = choose(value_, kAsymmetric, kSymmetric); }
void QuantizationAttrs::set_static() { value_ = choose(value_, kStatic, kDynamic); }
void QuantizationAttrs::set_dynamic() { value_ = choose(value_, kDynamic, kStatic); }
void QuantizationAttrs::set_per_tensor() {
  value_ = choose(value_, kPerTensor, kPerChannel | kPerBlock);
}
void QuantizationAttrs::set_per_channel() {
  value_ = choose(value_, kPerChannel, kPerTensor | kPerBlock);
}
void QuantizationAttrs::set_per_block() {
  value_ = choose(value_, kPerBlock, kPerTensor | kPerChannel);
}
void QuantizationAttrs::set_feature() { value_ = choose(value_, kFeature, kWeight); }
void QuantizationAttrs::set_weight() { value_ = choose(value_, kWeight, kFeature); }

bool QuantizationAttrs::is_scale() const { return has(value_, kScale); }
bool QuantizationAttrs::is_shift() const { return has(value_, kShift); }
bool QuantizationAttrs::is_symmetric() const { return has(value_, kSymmetric); }
bool QuantizationAttrs::is_asymmetric() const { return has(value_, kAsymmetric); }
bool QuantizationAttrs::is_static() const { return has(value_, kStatic); }
bool QuantizationAttrs::is_dynamic() const { return has(value_, kDynamic); }
bool QuantizationAttrs::is_per_tensor() const { return has(value_, kPerTensor); }
bool QuantizationAttrs::is_per_channel() const { return has(value_, kPerChannel); }
bool QuantizationAttrs::is_per_block() const { return has(value_, kPerBlock); }
bool QuantizationAttrs::is_feature() const { return has(value_, kFeature); }
bool QuantizationAttrs::is_weight() const { return has(value_, kWeight); }

}  // namespace tessar
