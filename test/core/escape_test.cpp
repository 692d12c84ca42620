// Escaping firmware text into the 64-byte JSON fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/json.h"

namespace {

struct EscapeCase {
  const char* name;
  std::string source;
  std::string field;
};

const std::string k70 = std::string(26, 'a') + std::string(26, 'b') + std::string(18, 'c');

const EscapeCase kCases[] = {
    {"empty", "", ""},
    {"spaces_only", "    ", ""},
    {"trailing_spaces_trimmed", "DIMM_A1    ", "DIMM_A1"},
    {"leading_spaces_kept", "  A1", "  A1"},
    {"double_quote_escaped", "Bank \"0\"", "Bank \\\"0\\\""},
    {"backslash_doubled", "A\\B", "A\\\\B"},
    {"70_letters_give_62", k70, k70.substr(0, 62)},
    {"61_letters_and_a_quote_give_63", std::string(61, 'x') + "\"", std::string(61, 'x') + "\\\""},
    {"62_letters_and_a_quote_drop_the_quote", std::string(62, 'x') + "\"", std::string(62, 'x')},
    {"tab_and_newline_dropped", "A\tB\nC\x01\x1F", "ABC"},
    {"cut_text_loses_trailing_spaces", std::string(59, 'x') + "   " + std::string(8, 'y'),
     std::string(59, 'x')},
    {"bytes_above_0x7F_and_DEL_unchanged", "\xC3\xA9\x7F\xFF", "\xC3\xA9\x7F\xFF"},
    {"stops_at_NUL", std::string("AB\0CD", 5), "AB"},
};

class Escape : public testing::TestWithParam<EscapeCase> {};

TEST_P(Escape, FillsTheField) {
  char dst[JSON_FIELD_CAP];
  std::memset(dst, '#', sizeof dst);
  const std::string& src = GetParam().source;
  jesc(reinterpret_cast<const uint8_t*>(src.data()), src.size(), dst);
  EXPECT_EQ(std::string(dst), GetParam().field);
  EXPECT_LT(std::strlen(dst), JSON_FIELD_CAP);
}

INSTANTIATE_TEST_SUITE_P(Texts, Escape, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Escape, ReadsNoFurtherThanItsBound) {
  // The source sits at the very end of its allocation with no NUL after it:
  // a read past the bound shows up under AddressSanitizer.
  auto* src = new uint8_t[3]{'A', 'B', 'C'};
  char dst[JSON_FIELD_CAP];
  jesc(src, 3, dst);
  EXPECT_STREQ(dst, "ABC");
  jesc(src, 2, dst);
  EXPECT_STREQ(dst, "AB");
  delete[] src;
}

TEST(Escape, ZeroBoundWithNoSourceGivesEmptyField) {
  char dst[JSON_FIELD_CAP] = "old";
  jesc(nullptr, 0, dst);
  EXPECT_STREQ(dst, "");
}

}  // namespace
