#pragma once

#include <cstdint>  // int64_t

namespace tessar {

/// Quantization attributes packed into one signed 64-bit flag word. Each of
/// five groups owns a nibble (group n: bits 4n to 4n+3), and the choices of a
/// group exclude each other:
///
///   bit  0 scale       bit  1 shift
///   bit  4 symmetric   bit  5 asymmetric
///   bit  8 static      bit  9 dynamic
///   bit 12 per_tensor  bit 13 per_channel  bit 14 per_block
///   bit 16 feature     bit 17 weight
///
/// Every other bit carries no flag and keeps the value the word was built
/// with. A word built from an integer is stored as it is, even when it sets
/// two choices of one group or is negative; each `is_*` looks at its own bit
/// alone.
class QuantizationAttrs {
 public:
  /// scale, symmetric, static and per_tensor: 0x1111.
  QuantizationAttrs() = default;
  /// Stores `value` unchanged, without validation.
  explicit QuantizationAttrs(int64_t value) : value_(value) {}

  // Each setter sets its own bit and clears its siblings in the same group;
  // no other bit changes.
  void set_scale();
  void set_shift();
  void set_symmetric();
  void set_asymmetric();
  void set_static();
  void set_dynamic();
  void set_per_tensor();
  void set_per_channel();
  void set_per_block();
  void set_feature();
  void set_weight();

  bool is_scale() const;
  bool is_shift() const;
  bool is_symmetric() const;
  bool is_asymmetric() const;
  bool is_static() const;
  bool is_dynamic() const;
  bool is_per_tensor() const;
  bool is_per_channel() const;
  bool is_per_block() const;
  bool is_feature() const;
  bool is_weight() const;

  int64_t get_value() const { return value_; }

 private:
  int64_t value_ = 0x1111;
};

}  // namespace tessar
