#pragma once

#include <cstdint>  // int64_t, uint64_t
#include <vector>   // std::vector

namespace tessar {

/// The requested calibration methods, as an ordered list of method codes:
/// max 1, kl 2, percentile 4, min_max 8, max_per_channel 16,
/// percentile_per_channel 32. The list keeps the order of the calls and any
/// duplicates; a list given to the constructor is kept as it is, values
/// outside the table included. Nothing is ever removed.
class CalibrationAttrs {
 public:
  CalibrationAttrs() = default;
  explicit CalibrationAttrs(const std::vector<int64_t>& codes) : codes_(codes) {}

  // Each setter appends its code, even when it is already in the list.
  void set_max();
  void set_kl();
  void set_percentile();
  void set_min_max();
  void set_max_per_channel();
  void set_percentile_per_channel();

  /// A copy of the list, in order.
  std::vector<int64_t> get_value() const { return codes_; }
  /// The number of entries, duplicates included.
  uint64_t number_of_methods() const { return codes_.size(); }

 private:
  std::vector<int64_t> codes_;
};

}  // namespace tessar
