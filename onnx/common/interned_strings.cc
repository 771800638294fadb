#include "onnx/common/interned_strings.h"

#include <unistd.h>  // getpid

#include <array>        // std::array
#include <chrono>       // std::chrono::steady_clock
#include <cstdarg>      // va_list
#include <cstdio>       // vsnprintf
#include <cstring>      // std::memcpy
#include <memory>       // std::make_unique
#include <random>       // std::random_device
#include <string_view>  // std::string_view
#include <type_traits>  // std::is_nothrow_invocable_v

namespace onnx {
inline namespace qcaps {
namespace {

// Path of this file as reported in check failures: relative to the project
// root, so that messages do not depend on where the tree was built.
constexpr const char* kSourcePath = "onnx/common/interned_strings.cc";

#define QCAPS_BUILTIN_SYMBOL_TEXT(ident) #ident,
#define QCAPS_NAMED_SYMBOL_TEXT(ident, text) text,

// Names of the builtins, indexed by id: string literals of static lifetime.
constexpr const char* kBuiltinNames[] = {
    QCAPS_FORALL_BUILTIN_SYMBOLS(QCAPS_BUILTIN_SYMBOL_TEXT, QCAPS_NAMED_SYMBOL_TEXT)};

#undef QCAPS_BUILTIN_SYMBOL_TEXT
#undef QCAPS_NAMED_SYMBOL_TEXT

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

// SipHash-1-3: one compression round per word, three finalisation rounds.
class SipHash {
 public:
  SipHash(uint64_t k0, uint64_t k1)
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  uint64_t hash(std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    for (; left >= 8; data += 8, left -= 8) {
      uint64_t word = 0;
      std::memcpy(&word, data, 8);
      compress(word);
    }
    // The last word: the remaining bytes and, in the top byte, the length.
    uint64_t last = static_cast<uint64_t>(text.size()) << 56;
    for (std::size_t i = 0; i < left; ++i) {
      last |= static_cast<uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    }
    compress(last);
    v2_ ^= 0xff;
    round();
    round();
    round();
    return v0_ ^ v1_ ^ v2_ ^ v3_;
  }

 private:
  static uint64_t rotl(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

  void compress(uint64_t word) {
    v3_ ^= word;
    round();
    v0_ ^= word;
  }

  void round() {
    v0_ += v1_;
    v1_ = rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotl(v2_, 32);
  }

  uint64_t v0_;
  uint64_t v1_;
  uint64_t v2_;
  uint64_t v3_;
};

// Where the system has no random source: the clock, the process id, and
// addresses of the stack, the heap and this code, which the loader and the
// allocator place at random. Weaker, but still unknown outside the process.
std::array<uint64_t, 2> fallbackKey() {
  const auto address = [](const void* p) {
    return static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(p));
  };
  const auto heap = std::make_unique<char>();
  const char stack = 0;
  const std::array<uint64_t, 5> seed{
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
      static_cast<uint64_t>(::getpid()), address(&stack), address(heap.get()),
      static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(&fallbackKey))};
  const std::string_view text(reinterpret_cast<const char*>(seed.data()), sizeof seed);
  return {SipHash(seed[0] ^ seed[2], seed[1] ^ seed[3]).hash(text),
          SipHash(seed[3] ^ seed[4], seed[0] ^ seed[1]).hash(text)};
}

// A 128-bit key from the system's random source, or the fallback above.
std::array<uint64_t, 2> randomKey() {
  try {
    std::random_device device;
    const auto word = [&device] { return (static_cast<uint64_t>(device()) << 32) ^ device(); };
    return {word(), word()};  // a braced list is evaluated in order
  } catch (...) {
    return fallbackKey();
  }
}

}  // namespace

InternedStrings::KeyedHash::KeyedHash() : key_(randomKey()) {
  // libstdc++ keeps hash codes in the map nodes only for a hasher that may
  // throw; see the class's comment.
  static_assert(!std::is_nothrow_invocable_v<const KeyedHash&, std::string_view>,
                "a noexcept hasher makes every bucket walk and rehash run SipHash again");
}

std::size_t InternedStrings::KeyedHash::operator()(std::string_view text) const {
  return static_cast<std::size_t>(SipHash(key_[0], key_[1]).hash(text));
}

Symbol::Symbol(const std::string& name) : value_(globalStrings().intern(name)) {}

std::optional<Symbol> Symbol::find(std::string_view name) {
  const std::optional<uint32_t> id = globalStrings().find(name);
  if (!id) return std::nullopt;
  return Symbol(static_cast<BuiltinSymbol>(*id));
}

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

std::optional<uint32_t> InternedStrings::find(std::string_view name) {
  const uint32_t builtin = builtinId(name);
  if (builtin != kBuiltinSymbolCount) return builtin;
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = string_to_sym_.find(name);
  if (found == string_to_sym_.end()) return std::nullopt;
  return found->second;
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
  // Store the name, then enter the view of it, before advancing the counter;
  // the first entry is taken back if the second cannot be made, so a failed
  // allocation leaves the table exactly as it was, with no id skipped.
  const auto stored = sym_to_string_.emplace(id, name).first;
  try {
    string_to_sym_.emplace(stored->second, id);
  } catch (...) {
    sym_to_string_.erase(stored);
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

}  // namespace qcaps
}  // namespace onnx
