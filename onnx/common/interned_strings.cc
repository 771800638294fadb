#include "onnx/common/interned_strings.h"

#include <array>        // std::array
#include <cstdarg>      // va_list
#include <cstdio>       // vsnprintf
#include <string_view>  // std::string_view

namespace onnx {
namespace {

// Path of this file as reported in check failures: relative to the project
// root, so that messages do not depend on where the tree was built.
constexpr const char* kSourcePath = "onnx/common/interned_strings.cc";

#define ONNX_BUILTIN_SYMBOL_TEXT(ident) #ident,
#define ONNX_NAMED_SYMBOL_TEXT(ident, text) text,

// Names of the builtins, indexed by id: string literals of static lifetime.
constexpr const char* kBuiltinNames[] = {
    ONNX_FORALL_BUILTIN_SYMBOLS(ONNX_BUILTIN_SYMBOL_TEXT, ONNX_NAMED_SYMBOL_TEXT)};

#undef ONNX_BUILTIN_SYMBOL_TEXT
#undef ONNX_NAMED_SYMBOL_TEXT

static_assert(sizeof(kBuiltinNames) / sizeof(kBuiltinNames[0]) == kBuiltinSymbolCount,
              "one name per builtin constant");

// Raises the check failure in the form "file:line: function: Assertion `cond` failed."
[[noreturn]] void failCheck(unsigned line, const char* function, const char* condition,
                            const char* detail = "") {
  std::string msg =
      barf("%s:%u: %s: Assertion `%s` failed.%s", kSourcePath, line, function, condition, detail);
  throw_assert_error(msg);
}

// The builtins by name, for lookups that take no lock: the names never
// change, so the table is built once and then only read. Open addressing
// over a power-of-two table at most half full; an empty slot holds
// kBuiltinSymbolCount.
class BuiltinIds {
 public:
  BuiltinIds() {
    slots_.fill(kEmpty);
    for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
      std::size_t slot = hash(kBuiltinNames[id]);
      while (slots_[slot] != kEmpty) slot = (slot + 1) & kMask;
      slots_[slot] = static_cast<uint16_t>(id);
    }
  }

  // The id of `name` when it is a builtin's, else kBuiltinSymbolCount.
  uint32_t find(std::string_view name) const {
    for (std::size_t slot = hash(name);; slot = (slot + 1) & kMask) {
      const uint32_t id = slots_[slot];
      if (id == kBuiltinSymbolCount || name == kBuiltinNames[id]) return id;
    }
  }

 private:
  static constexpr auto kEmpty = static_cast<uint16_t>(kBuiltinSymbolCount);
  static constexpr std::size_t kSlots = 1024;
  static constexpr std::size_t kMask = kSlots - 1;
  static_assert(kSlots >= std::size_t{2} * kBuiltinSymbolCount, "at most half full");

  // FNV-1a.
  static std::size_t hash(std::string_view text) {
    uint32_t h = 2166136261U;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619U;
    return h & kMask;
  }

  std::array<uint16_t, kSlots> slots_{};
};

uint32_t builtinId(std::string_view name) {
  static const BuiltinIds ids;
  return ids.find(name);
}

}  // namespace

Symbol::Symbol(const std::string& name) : value_(globalStrings().intern(name)) {}

const char* Symbol::toString() const { return globalStrings().string(*this); }

std::string barf(const char* fmt, ...) {
  constexpr std::size_t kBufferSize = 2048;
  char buffer[kBufferSize];
  va_list args;
  va_start(args, fmt);
  const int written = std::vsnprintf(buffer, kBufferSize, fmt, args);
  va_end(args);
  // A format error leaves the buffer unspecified: report it as empty text.
  if (written < 0) {
    return std::string();
  }
  return std::string(buffer);
}

void throw_assert_error(std::string& msg) { throw assert_error(msg); }

void throw_tensor_error(std::string& msg) { throw tensor_error(msg); }

InternedStrings::InternedStrings() : next_sym_(kBuiltinSymbolCount) {
  string_to_sym_.reserve(kBuiltinSymbolCount);
  sym_to_string_.reserve(kBuiltinSymbolCount);
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
    string_to_sym_.emplace(kBuiltinNames[id], id);
    sym_to_string_.emplace(id, kBuiltinNames[id]);
  }
}

uint32_t InternedStrings::intern(const std::string& name) {
  // Builtin names are fixed from start-up on: no lock needed to find them.
  const uint32_t builtin = builtinId(name);
  if (builtin != kBuiltinSymbolCount) return builtin;
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = string_to_sym_.find(name);
  if (found != string_to_sym_.end()) {
    return found->second;
  }
  // After id 2^32 - 1 has been handed out the counter wraps to 0; handing out
  // ids again from there would give builtin ids a second name.
  if (next_sym_ < kBuiltinSymbolCount) {
    failCheck(__LINE__, "intern", "next_sym_ >= kBuiltinSymbolCount",
              " No symbol ids are left to intern a new name.");
  }
  const uint32_t id = next_sym_;
  // Enter the name in both maps before advancing the counter, and take the
  // first entry back if the second cannot be made: a failed allocation then
  // leaves the table exactly as it was, with no id skipped.
  const auto inserted = string_to_sym_.emplace(name, id).first;
  try {
    sym_to_string_.emplace(id, name);
  } catch (...) {
    string_to_sym_.erase(inserted);
    throw;
  }
  next_sym_ = id + 1;
  return id;
}

const char* InternedStrings::string(Symbol sym) {
  if (sym < kBuiltinSymbolCount) {
    return kBuiltinNames[sym];
  }
  return customString(sym);
}

const char* InternedStrings::customString(Symbol sym) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = sym_to_string_.find(sym);
  if (!(it != sym_to_string_.end())) {
    failCheck(__LINE__, "customString", "it != sym_to_string_.end()");
  }
  return it->second.c_str();
}

InternedStrings& globalStrings() {
  static InternedStrings table;
  return table;
}

}  // namespace onnx
