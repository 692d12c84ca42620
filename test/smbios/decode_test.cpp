// Decoding one Memory Device structure into a record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/dimm.h"
#include "smbios/smbios.h"
#include "table_builder.h"

namespace {

// Decodes the first structure of t, which must be a memory device.
dimm_info decode(const Bytes& t) {
  const smbios_view v{t.data(), t.size()};
  smbios_walk w = smbios_walk_start(v);
  smbios_struct st{};
  EXPECT_TRUE(smbios_next(v, &w, &st));
  EXPECT_TRUE(is_memory_device(st));
  dimm_info d;
  std::memset(&d, 0x5A, sizeof d);  // decoding must clear whatever was there
  decode_dimm(v, st, &d);
  return d;
}

Dimm full(uint8_t length) {
  Dimm d = ddr4_dimm();
  d.length = length;
  return d;
}

struct LengthCase {
  uint8_t length;
  int speed, configured_speed, voltage;
  bool strings;
};

// What each length byte supplies, at the boundaries where it changes.
const LengthCase kLengths[] = {
    {21, 0, 0, 0, false},           {22, 0, 0, 0, false},      {23, 3200, 0, 0, false},
    {26, 3200, 0, 0, false},        {27, 3200, 0, 0, true},    {33, 3200, 0, 0, true},
    {34, 3200, 2933, 0, true},      {39, 3200, 2933, 0, true}, {40, 3200, 2933, 1200, true},
    {0x5C, 3200, 2933, 1200, true},
};

class DecodeLength : public testing::TestWithParam<LengthCase> {};

TEST_P(DecodeLength, FillsWhatTheLengthByteCovers) {
  const LengthCase& c = GetParam();
  const dimm_info d = decode(full(c.length).with(ddr4_strings()));
  EXPECT_EQ(d.size_mb, 16384);
  EXPECT_STREQ(d.slot, "DIMM_A1");
  EXPECT_STREQ(d.type, "DDR4");
  EXPECT_STREQ(d.form_factor, "DIMM");
  EXPECT_EQ(d.speed_mts, c.speed);
  EXPECT_EQ(d.configured_speed_mts, c.configured_speed);
  EXPECT_EQ(d.voltage_mv, c.voltage);
  EXPECT_STREQ(d.manufacturer, c.strings ? "Samsung" : "");
  EXPECT_STREQ(d.serial, c.strings ? "0123ABCD" : "");
  EXPECT_STREQ(d.part_number, c.strings ? "M393A2K43BB1-CTD" : "");
}

INSTANTIATE_TEST_SUITE_P(Lengths, DecodeLength, testing::ValuesIn(kLengths),
                         [](const auto& info) { return "L" + std::to_string(info.param.length); });

struct SizeCase {
  const char* name;
  uint16_t word;
  uint8_t length;
  uint32_t extended;
  int32_t size_mb;
};

const SizeCase kSizes[] = {
    {"plain_512", 512, 21, 0, 512},
    {"zero_is_empty", 0, 40, 0, 0},
    {"unknown_0xFFFF", 0xFFFF, 40, 0, 0},
    {"largest_plain_0x7FFE", 0x7FFE, 40, 0, 0x7FFE},
    {"extended_size", 0x7FFF, 40, 32768, 32768},
    {"extended_size_bit_31_cleared", 0x7FFF, 40, 0x80010000u, 0x10000},
    {"extended_size_at_length_32", 0x7FFF, 32, 65536, 65536},
    {"extended_size_of_0_is_empty", 0x7FFF, 40, 0, 0},
    {"0x7FFF_below_length_32_is_32767", 0x7FFF, 31, 99999, 32767},
    {"kib_1024_is_1_mib", 0x8000 | 1024, 40, 0, 1},
    {"kib_2048_is_2_mib", 0x8000 | 2048, 40, 0, 2},
    {"kib_1535_rounds_down", 0x8000 | 1535, 40, 0, 1},
    {"kib_512_is_empty", 0x8000 | 512, 40, 0, 0},
    {"kib_bit_alone", 0x8000, 40, 0, 0},
    {"kib_0x7FFF", 0xFFFE, 40, 0, 31},
};

class SizeRule : public testing::TestWithParam<SizeCase> {};

TEST_P(SizeRule, GivesMiB) {
  const SizeCase& c = GetParam();
  const Bytes t = Dimm{.length = c.length, .size = c.word, .extended_size = c.extended}.with({});
  EXPECT_EQ(decode(t).size_mb, c.size_mb);
  const smbios_view v{t.data(), t.size()};
  smbios_walk w = smbios_walk_start(v);
  smbios_struct st{};
  ASSERT_TRUE(smbios_next(v, &w, &st));
  EXPECT_EQ(dimm_size_mb(v, st), c.size_mb);
}

INSTANTIATE_TEST_SUITE_P(Words, SizeRule, testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Names, MemoryTypes) {
  const std::pair<uint8_t, const char*> known[] = {
      {0x0F, "SDRAM"},   {0x12, "DDR"},     {0x13, "DDR2"},   {0x18, "DDR3"},    {0x1A, "DDR4"},
      {0x1E, "LPDDR4"},  {0x22, "DDR5"},    {0x23, "LPDDR5"}, {0x1B, "Unknown"}, {0x1D, "Unknown"},
      {0x00, "Unknown"}, {0x02, "Unknown"}, {0xFF, "Unknown"}};
  for (const auto& [code, name] : known) EXPECT_STREQ(mem_type_name(code), name) << int(code);
}

TEST(Names, FormFactors) {
  const std::pair<uint8_t, const char*> known[] = {
      {0x03, "SIMM"},    {0x09, "DIMM"},  {0x0C, "RIMM"},  {0x0D, "SODIMM"}, {0x0E, "SRIMM"},
      {0x0F, "FB-DIMM"}, {0x10, "Other"}, {0x0B, "Other"}, {0x00, "Other"},  {0xFF, "Other"}};
  for (const auto& [code, name] : known) EXPECT_STREQ(form_factor_name(code), name) << int(code);
}

TEST(Decode, NamesComeFromTheStructure) {
  const dimm_info d =
      decode(Dimm{.length = 0x15, .size = 8, .form_factor = 0x0D, .type = 0x22}.with({}));
  EXPECT_STREQ(d.type, "DDR5");
  EXPECT_STREQ(d.form_factor, "SODIMM");
}

TEST(Decode, SpeedOf0xFFFFIsReportedAsIs) {
  EXPECT_EQ(decode(Dimm{.length = 0x28, .size = 8, .speed = 0xFFFF}.with({})).speed_mts, 65535);
}

TEST(Decode, StringNumbersPastTheLastStringGiveEmptyFields) {
  const dimm_info d = decode(
      Dimm{.length = 0x28, .size = 8, .locator = 1, .manufacturer = 2, .serial = 9, .part = 200}
          .with({"A0", "Micron"}));
  EXPECT_STREQ(d.slot, "A0");
  EXPECT_STREQ(d.manufacturer, "Micron");
  EXPECT_STREQ(d.serial, "");
  EXPECT_STREQ(d.part_number, "");
}

TEST(Decode, StringsAreEscaped) {
  const dimm_info d =
      decode(Dimm{.length = 0x28, .size = 8, .locator = 1}.with({"Bank \"A\"\\1   "}));
  EXPECT_STREQ(d.slot, "Bank \\\"A\\\"\\\\1");
}

// A final structure whose formatted area the table cuts short: the fields it
// still holds are read, the missing ones read as absent, nothing past the end.
TEST(Decode, CutFormattedAreaReadsMissingFieldsAsAbsent) {
  Bytes t = full(0x28).formatted();
  t.resize(0x17);  // ends just after Speed
  const dimm_info d = decode(t);
  EXPECT_EQ(d.size_mb, 16384);
  EXPECT_EQ(d.speed_mts, 3200);
  EXPECT_STREQ(d.type, "DDR4");
  EXPECT_EQ(d.configured_speed_mts, 0);
  EXPECT_EQ(d.voltage_mv, 0);
  EXPECT_STREQ(d.slot, "");
  EXPECT_STREQ(d.manufacturer, "");
}

TEST(Decode, ExtendedSizeCutByTheTableEndIsAbsent) {
  Bytes t = Dimm{.length = 0x28, .size = 0x7FFF, .extended_size = 65536}.formatted();
  t.resize(0x1E);  // half of the Extended Size field
  EXPECT_EQ(decode(t).size_mb, 0);
}

TEST(Decode, OnlyLengthsOf21AndMoreAreDevices) {
  EXPECT_FALSE(is_memory_device(smbios_struct{0, 17, 20, 20}));
  EXPECT_TRUE(is_memory_device(smbios_struct{0, 17, 21, 21}));
  EXPECT_FALSE(is_memory_device(smbios_struct{0, 16, 0x28, 0x28}));
}

}  // namespace
