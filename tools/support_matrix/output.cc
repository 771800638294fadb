#include "tools/support_matrix/output.h"

#include <cerrno>
#include <cstdio>   // std::rename, std::remove
#include <cstring>  // std::strerror
#include <fstream>

namespace support_matrix {

std::string xmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

std::string shortType(const std::string& type) {
  for (const std::string_view prefix : {std::string_view("int"), std::string_view("float")}) {
    if (type.size() > prefix.size() && type.compare(0, prefix.size(), prefix) == 0) {
      return std::string(1, prefix.front()) + type.substr(prefix.size());
    }
  }
  return type;
}

namespace {

std::string temporaryOf(const std::string& path) { return path + ".tmp"; }

void removeTemporaries(const std::vector<File>& files, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) std::remove(temporaryOf(files[i].first).c_str());
}

}  // namespace

bool writeAll(const std::vector<File>& files, std::ostream& log, std::ostream& errors) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [path, text] = files[i];
    errno = 0;
    std::ofstream out(temporaryOf(path), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (out.fail()) {
      const int reason = errno;
      errors << "cannot write " << path << ": "
             << (reason != 0 ? std::strerror(reason) : "write failed") << "\n";
      removeTemporaries(files, 0, i + 1);
      return false;
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i].first;
    if (std::rename(temporaryOf(path).c_str(), path.c_str()) != 0) {
      errors << "cannot replace " << path << ": " << std::strerror(errno) << "\n";
      removeTemporaries(files, i, files.size());
      return false;
    }
    log << "wrote " << path << "\n";
  }
  return true;
}

}  // namespace support_matrix
