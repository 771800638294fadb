#include "attrs/calibration_attrs.h"

namespace tessar {

void CalibrationAttrs::set_max() { codes_.push_back(1); }
void CalibrationAttrs::set_kl() { codes_.push_back(2); }
void CalibrationAttrs::set_percentile() { codes_.push_back(4); }
void CalibrationAttrs::set_min_max() { codes_.push_back(8); }
void CalibrationAttrs::set_max_per_channel() { codes_.push_back(16); }
void CalibrationAttrs::set_percentile_per_channel() { codes_.push_back(32); }

}  // namespace tessar
