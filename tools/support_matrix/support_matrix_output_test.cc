#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>  // mkdtemp
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/support_matrix/output.h"

namespace support_matrix {
namespace {

struct TextCase {
  const char* text;
  const char* expected;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Texts : public ::testing::TestWithParam<TextCase> {};

TEST_P(Texts, XmlTextEscapesEveryMarkupCharacter) {
  EXPECT_EQ(xmlText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Texts,
                         ::testing::Values(TextCase{"Conv", "Conv"}, TextCase{"", ""},
                                           TextCase{"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
                                           TextCase{"&amp;", "&amp;amp;"},
                                           TextCase{"</text><script>",
                                                    "&lt;/text&gt;&lt;script&gt;"}));

class Types : public ::testing::TestWithParam<TextCase> {};

TEST_P(Types, ShortTypeShortensOnlyWhatItCan) {
  EXPECT_EQ(shortType(GetParam().text), GetParam().expected);
}

// Every catalogue type, then names of any length and start.
INSTANTIATE_TEST_SUITE_P(Cases, Types,
                         ::testing::Values(TextCase{"int8", "i8"}, TextCase{"int16", "i16"},
                                           TextCase{"int32", "i32"}, TextCase{"float16", "f16"},
                                           TextCase{"float32", "f32"}, TextCase{"", ""},
                                           TextCase{"i", "i"}, TextCase{"int", "int"},
                                           TextCase{"float", "float"}, TextCase{"bf16", "bf16"},
                                           TextCase{"?", "?"}, TextCase{"x", "x"},
                                           TextCase{"interval", "ierval"}));

// A directory of its own under the system's temporary directory.
class Writing : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "support_matrix_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"a", "b", "a.tmp", "b.tmp"}) std::remove(path(name).c_str());
    std::remove(dir_.c_str());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "(missing)";
  }
  static void put(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string dir_;
};

TEST_F(Writing, ReplacesEveryFileAndSaysSo) {
  put(path("a"), "old a");
  std::ostringstream log, errors;
  EXPECT_TRUE(writeAll({{path("a"), "new a"}, {path("b"), "new b"}}, log, errors));
  EXPECT_EQ(read(path("a")), "new a");
  EXPECT_EQ(read(path("b")), "new b");
  EXPECT_EQ(read(path("a.tmp")), "(missing)");
  EXPECT_EQ(log.str(), "wrote " + path("a") + "\nwrote " + path("b") + "\n");
  EXPECT_EQ(errors.str(), "");
}

// A file that cannot be written, after one that can: nothing is replaced,
// nothing claimed, no temporary file left, and the failure named.
TEST_F(Writing, OneFailureWritesNothing) {
  put(path("a"), "old a");
  const std::string missing = path("no-such-directory/b");
  std::ostringstream log, errors;
  EXPECT_FALSE(writeAll({{path("a"), "new a"}, {missing, "new b"}}, log, errors));
  EXPECT_EQ(read(path("a")), "old a");
  EXPECT_EQ(read(path("a.tmp")), "(missing)");
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(errors.str(), "cannot write " + missing + ": No such file or directory\n");
}

}  // namespace
}  // namespace support_matrix
