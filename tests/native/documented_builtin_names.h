#pragma once

// The 437 builtin names in id order, ten to a line, as the documentation
// lists them: written out here, independently of the table in the
// symbol table's header, so that a changed name, id or order there is
// caught.

#include <array>  // std::array

// clang-format off
inline constexpr std::array<const char*, 437> kDocumentedBuiltinNames{
    /* 0-9 */ "spatial", "select_last_index", "coordinate_transformation_mode", "PythonOp", "CppOp", "Param", "Select", "Return", "Eval", "add",
    /* 10-19 */ "Add", "Div", "Mul", "Mod", "Neg", "Sub", "Pow", "Sigmoid", "ArgMax", "Concat",
    /* 20-29 */ "Softmax", "LogSoftmax", "Dropout", "Tanh", "mul", "neg", "sigmoid", "tanh", "Constant", "cat",
    /* 30-39 */ "Slice", "Squeeze", "Undefined", "FusionGroup", "MatMul", "Gemm", "Tile", "SubConstant", "Scale", "Transpose",
    /* 40-49 */ "Pad", "Reshape", "split", "chunk", "Offset", "value", "Subgraph", "BatchNormalization", "Conv", "ConvTranspose",
    /* 50-59 */ "is_test", "epsilon", "expand", "Expand", "order", "momentum", "consumed_inputs", "kernels", "kernel_shape", "kernel",
    /* 60-69 */ "scale", "strides", "stride", "pads", "pad", "beta", "alpha", "dilations", "dilation", "broadcast",
    /* 70-79 */ "axis", "ratio", "size", "dim", "keepdims", "perm", "shape", "axes", "group", "inplace",
    /* 80-89 */ "transA", "transB", "other", "__and__", "__lshift__", "__or__", "__rshift__", "__xor__", "abs", "acos",
    /* 90-99 */ "asin", "atan", "atan2", "ceil", "clamp", "cos", "cosh", "div", "eq", "equal",
    /* 100-109 */ "Exp", "ends", "expm1", "floor", "fmod", "frac", "ge", "gt", "le", "lerp",
    /* 110-119 */ "lgamma", "Log", "log1p", "lt", "max", "min", "ne", "ones", "pow", "reciprocal",
    /* 120-129 */ "remainder", "round", "rsqrt", "sin", "sinh", "Sqrt", "sub", "starts", "tan", "trunc",
    /* 130-139 */ "zeros", "exponent", "device", "mode", "Identity", "Loop", "If", "body", "then_branch", "else_branch",
    /* 140-149 */ "Captured", "__control_inputs", "count_include_pad", "storage_order", "Unsqueeze", "ReduceL1", "ReduceL2", "ReduceLogSum", "ReduceLogSumExp", "ReduceMax",
    /* 150-159 */ "ReduceMean", "ReduceMin", "ReduceProd", "ReduceSum", "ReduceSumSquare", "Cast", "to", "PRelu", "Greater", "Less",
    /* 160-169 */ "scales", "dequantize_scale", "Upsample", "RNN", "layout", "k", "Flatten", "ScatterElements", "num_outputs", "HardSigmoid",
    /* 170-179 */ "ZtPointPillarsPreprocess", "Celu", "Round", "Sign", "Softsign", "Acos", "Acosh", "Asin", "Asinh", "Atanh",
    /* 180-189 */ "Cosh", "Selu", "Sinh", "Tan", "ArgMin", "LSTM", "GRU", "hidden_size", "linear_before_reset", "activations",
    /* 190-199 */ "shift", "Abs", "Atan", "Ceil", "Equal", "Where", "Not", "Floor", "gamma", "Max",
    /* 200-209 */ "Min", "Reciprocal", "sizes", "Relu", "AveragePool", "MaxPool", "GlobalAveragePool", "GlobalMaxPool", "activation", "data_format",
    /* 210-219 */ "x_shift", "y_shift", "e_shift", "right_shift", "left_shift", "out_shift", "use_bias", "use_sumin", "e_scale", "alpha_scale",
    /* 220-229 */ "alpha_shift", "high_precision_output", "fake_quantization", "bits", "ZtQuantize", "ZtDequantize", "ZtRequantize", "add_rounding_bias", "ZtQuantizedConv", "ZtSQuantizedConv",
    /* 230-239 */ "ZtQuantizedAveragePool", "ZtQuantizedMaxPool", "ZtQuantizedGlobalAveragePool", "ZtSQuantizedGlobalAveragePool", "ZtQuantizedGlobalMaxPool", "QuantizeLinear", "DequantizeLinear", "ZtDruKPB", "ZtLeakyRelu", "ZtPRelu",
    /* 240-249 */ "ZtLut", "ZtPad", "lut_type", "LeakyRelu", "ZtCalibration", "ZtQuantizedResizeUpsample", "ZtSpaceToDepth", "SpaceToDepth", "block_height", "block_width",
    /* 250-259 */ "ZtDepthToSpace", "DepthToSpace", "ZtElementWiseAdd", "ZtSElementwiseAdd", "x_shift0", "x_shift1", "Resize", "quantize", "learnable", "method",
    /* 260-269 */ "threshold", "thresholds", "channel_scales", "bins", "ceil_mode", "ZtNormalize", "ZtMeanVarianceNormalization", "ZtPreprocess", "input_type", "precision",
    /* 270-279 */ "ZtReluX", "ZtQuantizedPreprocess", "ZtSQuantizedPreprocess", "channel_group", "ZtQuantizedConvTranspose", "output_type", "w_shift", "b_shift", "output_padding", "ZtSQuantizedConvTranspose",
    /* 280-289 */ "b_left_shift", "e_left_shift", "e_quant_scale", "accu_right_shift", "y_quant_scale", "y_right_shift", "ZtResize11", "auto_pad", "Clip", "Sum",
    /* 290-299 */ "input_data_format", "output_data_format", "ZtChannelShuffle", "Split", "ZtQuantizedRoiResize", "align_mode", "pad_mode", "roi", "step", "step_decimal_bit",
    /* 300-309 */ "is_interpolate_twice", "calc_mode", "blocksize", "Shape", "ZtSwish", "rounding_method", "symmetry_mode", "ZtGridSample", "GridSample", "GridSamplePlugin",
    /* 310-319 */ "padding_mode", "align_corners", "ZtQuantizedGridSample", "output_round", "coord_shift", "itplt_shift", "Softplus", "ZtMish", "Mish", "ZtSoftmax",
    /* 320-329 */ "ZtQuantizedSoftmax", "table_params", "table_param", "bias", "direction", "ZtQuantizedArgMax", "ZtQuantizedChannelMax", "dense_bound", "dense_line_param", "sparse_bound",
    /* 330-339 */ "sparse_line_param", "left_bound", "right_bound", "bound", "left_line_param", "right_line_param", "ZtSegmentedLut", "ZtLut2Layer", "ZtLutFastLayer", "left_poly_k",
    /* 340-349 */ "left_poly_b", "left_poly_shift", "mapping_k", "mapping_b", "mapping_shift", "mapping_params", "right_poly_k", "right_poly_b", "right_poly_shift", "output_shape",
    /* 350-359 */ "ZtPreQuantConv", "ZtPreQuantConvTranspose", "input_bit", "sumin_bit", "weight_bit", "output_bit", "ZtHardSwish", "HardSwish", "constant", "input_scales",
    /* 360-369 */ "weight_scales", "weight_thresholds", "sumin_scales", "output_scales", "zero_point", "ZtGelu", "Gelu", "approximate", "Erf", "ZtSQuantizedMatmul",
    /* 370-379 */ "ZtLayerNorm", "LayerNormalization", "ZtRsqrt", "is_sqrt_add_reciprocal", "ZtSElementwiseSub", "ZtSQuantizedReduceMean", "ZtQuantizedReduceMax", "ZtSQuantizedReduceSum", "Sin", "ZtCorrelation",
    /* 380-389 */ "max_displacement", "is_multiply", "Elu", "Cos", "ZtSQuantizedCorrelation", "inter_right_shift", "output_right_shift", "ZtSQuantizedConv3d", "Gather", "ZtSElementwiseMul",
    /* 390-399 */ "ZtSElementwiseDiv", "comparison", "ZtQuantizedComparison", "GatherElements", "output_scale", "TopK", "ZtQuantizedTopK", "largest", "sorted", "is_output_indices",
    /* 400-409 */ "output_indices_bit", "BitwiseAnd", "BitwiseOr", "BitwiseXor", "BitShift", "Einsum", "GreaterOrEqual", "LessOrEqual", "ZtQuantizedBitShift", "ZtQuantizedFilter",
    /* 410-419 */ "with_filter", "ZtScatter", "ZtFilter", "idx_range", "ZtDequantizeFilter", "qtype", "switch", "quant_attrs", "input_channels", "ZtSPRelu",
    /* 420-429 */ "positive_scale", "positive_right_shift", "negative_scale", "negative_right_shift", "InstanceNormalization", "ZtFpLut", "transK", "trasnB", "transT", "interK",
    /* 430-436 */ "interB", "compute_dtype", "use_transX", "split_float", "ScatterND", "BevPoolingV2", "DeformConv",
};
// clang-format on
