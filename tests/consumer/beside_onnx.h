#pragma once

/// Runs the checks of beside_onnx.cc, printing one line each, and returns
/// how many failed.
int besideOnnxFailures();
