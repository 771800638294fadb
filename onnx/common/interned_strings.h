#pragma once

#include <array>          // std::array
#include <cstddef>        // std::size_t
#include <cstdint>        // uint32_t
#include <mutex>          // std::mutex
#include <optional>       // std::optional
#include <stdexcept>      // std::runtime_error
#include <string>         // std::string
#include <string_view>    // std::string_view
#include <unordered_map>  // std::unordered_map

/// The builtin names, in id order: entry i of this list has id i. `SYM(Name)`
/// gives the constant `kName` for the text "Name". `NAMED(Ident, "text")` is
/// used where the text would make a reserved identifier: the six names that
/// contain a double underscore ("__and__", "__lshift__", "__or__", "__rshift__",
/// "__xor__" and "__control_inputs") are `kDunderAnd`, `kDunderLshift`,
/// `kDunderOr`, `kDunderRshift`, `kDunderXor` and `kDunderControlInputs`.
///
/// The ids are part of the interface: never insert, remove or reorder entries.
// clang-format off
#define QCAPS_FORALL_BUILTIN_SYMBOLS(SYM, NAMED) \
  /* 0-9 */ \
  SYM(spatial) SYM(select_last_index) SYM(coordinate_transformation_mode) SYM(PythonOp) SYM(CppOp) \
  SYM(Param) SYM(Select) SYM(Return) SYM(Eval) SYM(add) \
  /* 10-19 */ \
  SYM(Add) SYM(Div) SYM(Mul) SYM(Mod) SYM(Neg) \
  SYM(Sub) SYM(Pow) SYM(Sigmoid) SYM(ArgMax) SYM(Concat) \
  /* 20-29 */ \
  SYM(Softmax) SYM(LogSoftmax) SYM(Dropout) SYM(Tanh) SYM(mul) \
  SYM(neg) SYM(sigmoid) SYM(tanh) SYM(Constant) SYM(cat) \
  /* 30-39 */ \
  SYM(Slice) SYM(Squeeze) SYM(Undefined) SYM(FusionGroup) SYM(MatMul) \
  SYM(Gemm) SYM(Tile) SYM(SubConstant) SYM(Scale) SYM(Transpose) \
  /* 40-49 */ \
  SYM(Pad) SYM(Reshape) SYM(split) SYM(chunk) SYM(Offset) \
  SYM(value) SYM(Subgraph) SYM(BatchNormalization) SYM(Conv) SYM(ConvTranspose) \
  /* 50-59 */ \
  SYM(is_test) SYM(epsilon) SYM(expand) SYM(Expand) SYM(order) \
  SYM(momentum) SYM(consumed_inputs) SYM(kernels) SYM(kernel_shape) SYM(kernel) \
  /* 60-69 */ \
  SYM(scale) SYM(strides) SYM(stride) SYM(pads) SYM(pad) \
  SYM(beta) SYM(alpha) SYM(dilations) SYM(dilation) SYM(broadcast) \
  /* 70-79 */ \
  SYM(axis) SYM(ratio) SYM(size) SYM(dim) SYM(keepdims) \
  SYM(perm) SYM(shape) SYM(axes) SYM(group) SYM(inplace) \
  /* 80-89 */ \
  SYM(transA) SYM(transB) SYM(other) NAMED(DunderAnd, "__and__") NAMED(DunderLshift, "__lshift__") \
  NAMED(DunderOr, "__or__") NAMED(DunderRshift, "__rshift__") NAMED(DunderXor, "__xor__") SYM(abs) SYM(acos) \
  /* 90-99 */ \
  SYM(asin) SYM(atan) SYM(atan2) SYM(ceil) SYM(clamp) \
  SYM(cos) SYM(cosh) SYM(div) SYM(eq) SYM(equal) \
  /* 100-109 */ \
  SYM(Exp) SYM(ends) SYM(expm1) SYM(floor) SYM(fmod) \
  SYM(frac) SYM(ge) SYM(gt) SYM(le) SYM(lerp) \
  /* 110-119 */ \
  SYM(lgamma) SYM(Log) SYM(log1p) SYM(lt) SYM(max) \
  SYM(min) SYM(ne) SYM(ones) SYM(pow) SYM(reciprocal) \
  /* 120-129 */ \
  SYM(remainder) SYM(round) SYM(rsqrt) SYM(sin) SYM(sinh) \
  SYM(Sqrt) SYM(sub) SYM(starts) SYM(tan) SYM(trunc) \
  /* 130-139 */ \
  SYM(zeros) SYM(exponent) SYM(device) SYM(mode) SYM(Identity) \
  SYM(Loop) SYM(If) SYM(body) SYM(then_branch) SYM(else_branch) \
  /* 140-149 */ \
  SYM(Captured) NAMED(DunderControlInputs, "__control_inputs") SYM(count_include_pad) SYM(storage_order) SYM(Unsqueeze) \
  SYM(ReduceL1) SYM(ReduceL2) SYM(ReduceLogSum) SYM(ReduceLogSumExp) SYM(ReduceMax) \
  /* 150-159 */ \
  SYM(ReduceMean) SYM(ReduceMin) SYM(ReduceProd) SYM(ReduceSum) SYM(ReduceSumSquare) \
  SYM(Cast) SYM(to) SYM(PRelu) SYM(Greater) SYM(Less) \
  /* 160-169 */ \
  SYM(scales) SYM(dequantize_scale) SYM(Upsample) SYM(RNN) SYM(layout) \
  SYM(k) SYM(Flatten) SYM(ScatterElements) SYM(num_outputs) SYM(HardSigmoid) \
  /* 170-179 */ \
  SYM(ZtPointPillarsPreprocess) SYM(Celu) SYM(Round) SYM(Sign) SYM(Softsign) \
  SYM(Acos) SYM(Acosh) SYM(Asin) SYM(Asinh) SYM(Atanh) \
  /* 180-189 */ \
  SYM(Cosh) SYM(Selu) SYM(Sinh) SYM(Tan) SYM(ArgMin) \
  SYM(LSTM) SYM(GRU) SYM(hidden_size) SYM(linear_before_reset) SYM(activations) \
  /* 190-199 */ \
  SYM(shift) SYM(Abs) SYM(Atan) SYM(Ceil) SYM(Equal) \
  SYM(Where) SYM(Not) SYM(Floor) SYM(gamma) SYM(Max) \
  /* 200-209 */ \
  SYM(Min) SYM(Reciprocal) SYM(sizes) SYM(Relu) SYM(AveragePool) \
  SYM(MaxPool) SYM(GlobalAveragePool) SYM(GlobalMaxPool) SYM(activation) SYM(data_format) \
  /* 210-219 */ \
  SYM(x_shift) SYM(y_shift) SYM(e_shift) SYM(right_shift) SYM(left_shift) \
  SYM(out_shift) SYM(use_bias) SYM(use_sumin) SYM(e_scale) SYM(alpha_scale) \
  /* 220-229 */ \
  SYM(alpha_shift) SYM(high_precision_output) SYM(fake_quantization) SYM(bits) SYM(ZtQuantize) \
  SYM(ZtDequantize) SYM(ZtRequantize) SYM(add_rounding_bias) SYM(ZtQuantizedConv) SYM(ZtSQuantizedConv) \
  /* 230-239 */ \
  SYM(ZtQuantizedAveragePool) SYM(ZtQuantizedMaxPool) SYM(ZtQuantizedGlobalAveragePool) SYM(ZtSQuantizedGlobalAveragePool) SYM(ZtQuantizedGlobalMaxPool) \
  SYM(QuantizeLinear) SYM(DequantizeLinear) SYM(ZtDruKPB) SYM(ZtLeakyRelu) SYM(ZtPRelu) \
  /* 240-249 */ \
  SYM(ZtLut) SYM(ZtPad) SYM(lut_type) SYM(LeakyRelu) SYM(ZtCalibration) \
  SYM(ZtQuantizedResizeUpsample) SYM(ZtSpaceToDepth) SYM(SpaceToDepth) SYM(block_height) SYM(block_width) \
  /* 250-259 */ \
  SYM(ZtDepthToSpace) SYM(DepthToSpace) SYM(ZtElementWiseAdd) SYM(ZtSElementwiseAdd) SYM(x_shift0) \
  SYM(x_shift1) SYM(Resize) SYM(quantize) SYM(learnable) SYM(method) \
  /* 260-269 */ \
  SYM(threshold) SYM(thresholds) SYM(channel_scales) SYM(bins) SYM(ceil_mode) \
  SYM(ZtNormalize) SYM(ZtMeanVarianceNormalization) SYM(ZtPreprocess) SYM(input_type) SYM(precision) \
  /* 270-279 */ \
  SYM(ZtReluX) SYM(ZtQuantizedPreprocess) SYM(ZtSQuantizedPreprocess) SYM(channel_group) SYM(ZtQuantizedConvTranspose) \
  SYM(output_type) SYM(w_shift) SYM(b_shift) SYM(output_padding) SYM(ZtSQuantizedConvTranspose) \
  /* 280-289 */ \
  SYM(b_left_shift) SYM(e_left_shift) SYM(e_quant_scale) SYM(accu_right_shift) SYM(y_quant_scale) \
  SYM(y_right_shift) SYM(ZtResize11) SYM(auto_pad) SYM(Clip) SYM(Sum) \
  /* 290-299 */ \
  SYM(input_data_format) SYM(output_data_format) SYM(ZtChannelShuffle) SYM(Split) SYM(ZtQuantizedRoiResize) \
  SYM(align_mode) SYM(pad_mode) SYM(roi) SYM(step) SYM(step_decimal_bit) \
  /* 300-309 */ \
  SYM(is_interpolate_twice) SYM(calc_mode) SYM(blocksize) SYM(Shape) SYM(ZtSwish) \
  SYM(rounding_method) SYM(symmetry_mode) SYM(ZtGridSample) SYM(GridSample) SYM(GridSamplePlugin) \
  /* 310-319 */ \
  SYM(padding_mode) SYM(align_corners) SYM(ZtQuantizedGridSample) SYM(output_round) SYM(coord_shift) \
  SYM(itplt_shift) SYM(Softplus) SYM(ZtMish) SYM(Mish) SYM(ZtSoftmax) \
  /* 320-329 */ \
  SYM(ZtQuantizedSoftmax) SYM(table_params) SYM(table_param) SYM(bias) SYM(direction) \
  SYM(ZtQuantizedArgMax) SYM(ZtQuantizedChannelMax) SYM(dense_bound) SYM(dense_line_param) SYM(sparse_bound) \
  /* 330-339 */ \
  SYM(sparse_line_param) SYM(left_bound) SYM(right_bound) SYM(bound) SYM(left_line_param) \
  SYM(right_line_param) SYM(ZtSegmentedLut) SYM(ZtLut2Layer) SYM(ZtLutFastLayer) SYM(left_poly_k) \
  /* 340-349 */ \
  SYM(left_poly_b) SYM(left_poly_shift) SYM(mapping_k) SYM(mapping_b) SYM(mapping_shift) \
  SYM(mapping_params) SYM(right_poly_k) SYM(right_poly_b) SYM(right_poly_shift) SYM(output_shape) \
  /* 350-359 */ \
  SYM(ZtPreQuantConv) SYM(ZtPreQuantConvTranspose) SYM(input_bit) SYM(sumin_bit) SYM(weight_bit) \
  SYM(output_bit) SYM(ZtHardSwish) SYM(HardSwish) SYM(constant) SYM(input_scales) \
  /* 360-369 */ \
  SYM(weight_scales) SYM(weight_thresholds) SYM(sumin_scales) SYM(output_scales) SYM(zero_point) \
  SYM(ZtGelu) SYM(Gelu) SYM(approximate) SYM(Erf) SYM(ZtSQuantizedMatmul) \
  /* 370-379 */ \
  SYM(ZtLayerNorm) SYM(LayerNormalization) SYM(ZtRsqrt) SYM(is_sqrt_add_reciprocal) SYM(ZtSElementwiseSub) \
  SYM(ZtSQuantizedReduceMean) SYM(ZtQuantizedReduceMax) SYM(ZtSQuantizedReduceSum) SYM(Sin) SYM(ZtCorrelation) \
  /* 380-389 */ \
  SYM(max_displacement) SYM(is_multiply) SYM(Elu) SYM(Cos) SYM(ZtSQuantizedCorrelation) \
  SYM(inter_right_shift) SYM(output_right_shift) SYM(ZtSQuantizedConv3d) SYM(Gather) SYM(ZtSElementwiseMul) \
  /* 390-399 */ \
  SYM(ZtSElementwiseDiv) SYM(comparison) SYM(ZtQuantizedComparison) SYM(GatherElements) SYM(output_scale) \
  SYM(TopK) SYM(ZtQuantizedTopK) SYM(largest) SYM(sorted) SYM(is_output_indices) \
  /* 400-409 */ \
  SYM(output_indices_bit) SYM(BitwiseAnd) SYM(BitwiseOr) SYM(BitwiseXor) SYM(BitShift) \
  SYM(Einsum) SYM(GreaterOrEqual) SYM(LessOrEqual) SYM(ZtQuantizedBitShift) SYM(ZtQuantizedFilter) \
  /* 410-419 */ \
  SYM(with_filter) SYM(ZtScatter) SYM(ZtFilter) SYM(idx_range) SYM(ZtDequantizeFilter) \
  SYM(qtype) SYM(switch) SYM(quant_attrs) SYM(input_channels) SYM(ZtSPRelu) \
  /* 420-429 */ \
  SYM(positive_scale) SYM(positive_right_shift) SYM(negative_scale) SYM(negative_right_shift) SYM(InstanceNormalization) \
  SYM(ZtFpLut) SYM(transK) SYM(trasnB) SYM(transT) SYM(interK) \
  /* 430-436 */ \
  SYM(interB) SYM(compute_dtype) SYM(use_transX) SYM(split_float) SYM(ScatterND) \
  SYM(BevPoolingV2) SYM(DeformConv)
// clang-format on

/// Everything this header declares lives in `onnx::qcaps`, an inline
/// namespace: callers name it `onnx::Symbol`, `onnx::InternedStrings`,
/// `onnx::assert_error`, `onnx::barf` and so on, while its link names carry
/// `qcaps`. So a program may also link another library's `onnx::Symbol`
/// (ONNX's own C++ library has one) and each side keeps its own table, ids
/// and error types: neither definition silently replaces the other.
///
/// A file that includes both this header and another library's
/// `onnx/common/interned_strings.h` defines `QCAPS_BESIDE_ONNX` before its
/// first include, and reaches this project's headers as
/// "qcaps/onnx/common/interned_strings.h" and "qcaps/catalogue/operator_type.h"
/// (the installed package puts both spellings on the include path). There
/// `onnx::Symbol` is the other library's and this project's names are
/// `onnx::qcaps::Symbol` and so on; `orvel::Symbol` is always this project's.
/// Without the macro such a file does not compile, and the compiler's
/// message quotes the declaration at the end of this header, which says to
/// define it.
namespace onnx {
#if defined(QCAPS_BESIDE_ONNX)
namespace qcaps {
#else
inline namespace qcaps {
#endif

#define QCAPS_BUILTIN_SYMBOL_ENUMERATOR(ident) k##ident,
#define QCAPS_NAMED_SYMBOL_ENUMERATOR(ident, text) k##ident,

/// Compile-time ids of the builtin names. `kBuiltinSymbolCount` (437) is both
/// the number of builtins and the first id handed out at run time.
enum BuiltinSymbol : uint32_t {
  QCAPS_FORALL_BUILTIN_SYMBOLS(QCAPS_BUILTIN_SYMBOL_ENUMERATOR, QCAPS_NAMED_SYMBOL_ENUMERATOR)
      kBuiltinSymbolCount
};

#undef QCAPS_BUILTIN_SYMBOL_ENUMERATOR
#undef QCAPS_NAMED_SYMBOL_ENUMERATOR

/// A name, held as a 32-bit id. Ids below `kBuiltinSymbolCount` are the
/// builtins; larger ones are handed out by the process-wide table on first
/// use of a name.
///
/// A `Symbol` converts implicitly to its id, so equality and ordering are
/// those of the ids (`std::map<Symbol, T>` iterates in id order). There are
/// deliberately no comparison operators of its own: with the implicit
/// conversion they would make `symbol == kConv` ambiguous.
class Symbol {
 public:
  /// A builtin constant, or `kBuiltinSymbolCount` for the first dynamic id.
  /// Touches no table.
  // Implicit by design: the tables are written with the constants directly.
  // NOLINTNEXTLINE(google-explicit-constructor)
  constexpr Symbol(BuiltinSymbol id) noexcept : value_(id) {}

  /// Interns `name` in the process-wide table: the same text always gives the
  /// same id within one process. May throw `std::bad_alloc`,
  /// `std::system_error` (the table's lock), or `assert_error` when every id
  /// is taken.
  explicit Symbol(const std::string& name);

  /// The symbol of `name` when the process-wide table already holds it, and
  /// std::nullopt otherwise. Never adds a name, so asking costs nothing that
  /// outlives the call: the way to name an operator read from untrusted input
  /// (a model file) when only its existing entries matter. Builtins are found
  /// without the lock. May throw `std::bad_alloc` (creating the table on
  /// first use) and `std::system_error` (its lock).
  static std::optional<Symbol> find(std::string_view name);

  // Implicit by design: a symbol is used wherever its id is.
  // NOLINTNEXTLINE(google-explicit-constructor)
  constexpr operator uint32_t() const noexcept { return value_; }

  /// The name of this symbol. Builtins resolve without a lock; a dynamic id
  /// that was never handed out throws `assert_error`. The pointer stays valid
  /// until the process exits.
  const char* toString() const;

 private:
  uint32_t value_;
};

/// Failure of an internal check. The message is the whole text of `what()`.
class assert_error : public std::runtime_error {
 public:
  explicit assert_error(const std::string& msg) : std::runtime_error(msg) {}
};

class tensor_error : public assert_error {
 public:
  explicit tensor_error(const std::string& msg) : assert_error(msg) {}
};

/// printf-style formatting into a 2048-byte buffer: output longer than 2047
/// characters is cut there.
std::string barf(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

[[noreturn]] void throw_assert_error(std::string& msg);
[[noreturn]] void throw_tensor_error(std::string& msg);

struct InternedStringsTestAccess;

/// Two-way table between names and ids. Both maps hold every builtin from
/// construction on, and entries are never changed or removed, so pointers to
/// stored names stay valid for the life of the table.
class InternedStrings {
 public:
  /// Registers the 437 builtins; `next_sym_` starts at 437.
  InternedStrings();

  /// The id of `name`, handing out the next free id if the name is new.
  /// A builtin name is found without the lock; any other name is looked up
  /// and inserted under the lock, held for the whole of both. On any exception the
  /// table is unchanged. When all 2^32 ids are taken, a new name raises
  /// `assert_error`.
  uint32_t intern(const std::string& name);

  /// The id of `name` if the table holds it; the table is not changed.
  std::optional<uint32_t> find(std::string_view name);

  /// The name of `sym`: for a builtin, a string literal (no lock, no map);
  /// otherwise the stored name, or `assert_error` for an id never handed out.
  const char* string(Symbol sym);

 private:
  friend struct InternedStringsTestAccess;

  const char* customString(Symbol sym);

  /// SipHash-1-3 under a key drawn at random when the table is made, so that
  /// nobody outside the process can choose names that share a bucket: names
  /// read from files intern in expected constant time, however they were
  /// crafted. (The standard library's string hash is unkeyed, and colliding
  /// names for it are easy to compute.)
  ///
  /// The call is deliberately not `noexcept`: libstdc++ then keeps each
  /// name's hash code in its map node, so walking a bucket compares codes
  /// before names and a rehash hashes nothing again.
  class KeyedHash {
   public:
    KeyedHash();
    /// A fixed key, for checking the hash against known values.
    explicit KeyedHash(const std::array<uint64_t, 2>& key) : key_(key) {}
    std::size_t operator()(std::string_view text) const;

   private:
    std::array<uint64_t, 2> key_;
  };

  /// Name to id. Each key views the name that `sym_to_string_` owns, so a
  /// name is stored once; the nodes of `sym_to_string_` never move, and
  /// entries are never removed, so the views stay valid.
  std::unordered_map<std::string_view, uint32_t, KeyedHash> string_to_sym_;
  std::unordered_map<uint32_t, std::string> sym_to_string_;
  uint32_t next_sym_;
  std::mutex mutex_;
};

/// The process-wide table, created on first call (thread-safe) and destroyed
/// at exit. If its construction throws, the next call tries again.
InternedStrings& globalStrings();

}  // namespace qcaps

#if !defined(QCAPS_BESIDE_ONNX)
// clang-format off
using Symbol = qcaps::Symbol;  // Another onnx::Symbol in this file? #define QCAPS_BESIDE_ONNX first.
// clang-format on
#endif
}  // namespace onnx
