#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "onnx/common/interned_strings.h"

namespace onnx {
inline namespace qcaps {

/// Reaches the private state of a symbol table, for checking its invariants.
struct InternedStringsTestAccess {
  static uint32_t& nextSym(InternedStrings& table) { return table.next_sym_; }
  static const auto& stringToSym(InternedStrings& table) { return table.string_to_sym_; }
  static const std::unordered_map<uint32_t, std::string>& symToString(InternedStrings& table) {
    return table.sym_to_string_;
  }
  static std::mutex& mutex(InternedStrings& table) { return table.mutex_; }

  /// The table's hash of `text` under a fixed key.
  static uint64_t hash(const std::array<uint64_t, 2>& key, std::string_view text) {
    return InternedStrings::KeyedHash(key)(text);
  }

  /// Empties both maps, builtins included, leaving the builtin table alone
  /// to answer for the builtins.
  static void clearMaps(InternedStrings& table) {
    table.string_to_sym_.clear();
    table.sym_to_string_.clear();
  }

  /// True when the lock is free (it is taken and released again).
  static bool unlocked(InternedStrings& table) {
    if (!table.mutex_.try_lock()) {
      return false;
    }
    table.mutex_.unlock();
    return true;
  }

  /// Both maps inverse to each other, with the same number of entries.
  static ::testing::AssertionResult consistent(InternedStrings& table) {
    if (table.string_to_sym_.size() != table.sym_to_string_.size()) {
      return ::testing::AssertionFailure() << "map sizes differ: " << table.string_to_sym_.size()
                                           << " names, " << table.sym_to_string_.size() << " ids";
    }
    for (const auto& [name, id] : table.string_to_sym_) {
      const auto back = table.sym_to_string_.find(id);
      if (back == table.sym_to_string_.end() || back->second != name) {
        return ::testing::AssertionFailure() << "\"" << name << "\" -> " << id << " has no inverse";
      }
    }
    return ::testing::AssertionSuccess();
  }
};

}  // namespace qcaps
}  // namespace onnx
