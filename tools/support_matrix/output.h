// Text and files of the generated documents: escapes for SVG text, short
// type names, and writing a set of files all or nothing.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace support_matrix {

/// `text` with the five characters that XML gives meaning to written as
/// entities, fit for an SVG element's text or a quoted attribute.
std::string xmlText(std::string_view text);

/// "i8" for "int8", "f16" for "float16": "int" and "float" shortened to their
/// first letter when more follows. Any other name is returned unchanged.
std::string shortType(const std::string& type);

/// A file to write: its path and its whole content.
using File = std::pair<std::string, std::string>;

/// Writes every file, or none. Each content goes first to PATH.tmp through a
/// checked stream; only when all of them are written and closed are they
/// renamed over their paths, one by one, so that no file is ever left cut
/// short. Logs "wrote PATH" to `log` for each file once it is in place, and
/// on the first failure the path and the system's reason to `errors`,
/// removes the temporary files still present and returns false.
bool writeAll(const std::vector<File>& files, std::ostream& log, std::ostream& errors);

}  // namespace support_matrix
