// The dmidecode dump layout --save-dump writes, for each kind of entry point,
// read back by --from-dump's own reader. The namespace test compares whole
// files with dmidecode's; these cases reach the entry points and faults a
// mounted table does not.
#include "save/save_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "little_endian.h"
#include "sources/saved_table.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t sum(const Bytes& b, size_t from, size_t count) {
  uint8_t s = 0;
  for (size_t i = from; i < from + count; ++i) s = static_cast<uint8_t>(s + b[i]);
  return s;
}

uint64_t le(const Bytes& b, size_t off, size_t width) {
  uint64_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | b[off + i];
  return v;
}

void fix(Bytes& b, size_t checksum, size_t from, size_t count) {
  b[checksum] = 0;
  b[checksum] = static_cast<uint8_t>(0x100 - sum(b, from, count));
}

const Bytes kTable = {1, 4, 0, 0, 'A', 0, 0, 127, 4, 1, 0, 0, 0};

// Entry points (DMTF DSP0134 5.2.1 and 5.2.2) for kTable at 0x000F0000.
Bytes smbios3(uint32_t max_size) {
  Bytes ep(0x18, 0);
  std::copy_n("_SM3_", 5, ep.begin());
  ep[0x06] = 0x18;
  ep[0x07] = 3, ep[0x08] = 4, ep[0x0A] = 1;
  put_le(ep, 0x0C, max_size, 4);
  put_le(ep, 0x10, 0x000F0000, 8);
  fix(ep, 0x05, 0, 0x18);
  return ep;
}

Bytes smbios2(uint8_t length, uint16_t table_length) {
  Bytes ep(0x1F, 0);
  std::copy_n("_SM_", 4, ep.begin());
  ep[0x05] = length;
  ep[0x06] = 2, ep[0x07] = 8;
  std::copy_n("_DMI_", 5, ep.begin() + 0x10);
  put_le(ep, 0x16, table_length, 2);
  put_le(ep, 0x18, 0x000F0000, 4);
  put_le(ep, 0x1C, 2, 2);
  ep[0x1E] = 0x28;
  fix(ep, 0x15, 0x10, 0x0F);
  fix(ep, 0x04, 0, length);
  ep.resize(length);
  return ep;
}

Bytes legacy() {
  Bytes ep(0x0F, 0);
  std::copy_n("_DMI_", 5, ep.begin());
  put_le(ep, 0x06, static_cast<uint16_t>(kTable.size()), 2);
  put_le(ep, 0x08, 0x000F0000, 4);
  put_le(ep, 0x0C, 2, 2);
  ep[0x0E] = 0x26;
  fix(ep, 0x05, 0, 0x0F);
  return ep;
}

struct LayoutCase {
  const char* name;
  Bytes entry_point;
  size_t ep_length;   // bytes of entry point written
  size_t address_at;  // where the table address lies
  size_t address_width;
  // Checksummed ranges (from, count) that must still sum to the same byte.
  std::vector<std::pair<size_t, size_t>> sums;
  size_t table_kept;
  uint8_t major, minor;  // as --from-dump reads them back
  size_t spoil;          // a byte that makes a checksum wrong when changed
};

const LayoutCase kLayouts[] = {
    {"smbios3", smbios3(0x100), 0x18, 0x10, 8, {{0, 0x18}}, kTable.size(), 3, 4, 0x0B},
    {"smbios3_table_cut_to_its_maximum", smbios3(7), 0x18, 0x10, 8, {{0, 0x18}}, 7, 3, 4, 0x0B},
    {"smbios2", smbios2(0x1F, 13), 0x1F, 0x18, 4, {{0, 0x1F}, {0x10, 0x0F}}, 13, 2, 8, 0x0B},
    {"smbios2_intermediate",
     smbios2(0x1F, 13),
     0x1F,
     0x18,
     4,
     {{0, 0x1F}, {0x10, 0x0F}},
     13,
     2,
     8,
     0x1C},
    {"smbios2_length_0x1e",
     smbios2(0x1E, 13),
     0x1E,
     0x18,
     4,
     {{0, 0x1E}, {0x10, 0x0E}},
     13,
     2,
     8,
     0x1C},
    {"smbios2_table_cut",
     smbios2(0x1F, 7),
     0x1F,
     0x18,
     4,
     {{0, 0x1F}, {0x10, 0x0F}},
     7,
     2,
     8,
     0x0B},
    {"legacy_dmi", legacy(), 0x0F, 0x08, 4, {{0, 0x0F}}, kTable.size(), 2, 6, 0x0D},
};

class DmidecodeLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(DmidecodeLayout, MovesTheTableTo32) {
  const LayoutCase& c = GetParam();
  for (bool checksum_right : {true, false}) {
    SCOPED_TRACE(checksum_right ? "checksums right" : "checksums wrong");
    Bytes ep = c.entry_point;
    if (!checksum_right) ep[c.spoil] ^= 0x55;
    Bytes out;
    std::string error;
    ASSERT_TRUE(dmidecode_dump(ep, kTable, &out, &error)) << error;
    ASSERT_EQ(out.size(), kDumpTableOffset + c.table_kept);
    EXPECT_EQ(le(out, c.address_at, c.address_width), kDumpTableOffset);
    // Every other entry point byte as it was, zeros up to the table.
    for (size_t i = 0; i < kDumpTableOffset; ++i) {
      const bool address = i >= c.address_at && i < c.address_at + c.address_width;
      const bool checksum = i == 0x04 || i == 0x05 || i == 0x15;
      if (address || checksum) continue;
      EXPECT_EQ(out[i], i < c.ep_length ? ep[i] : 0) << "byte " << i;
    }
    // A right checksum stays right, a wrong one as wrong.
    for (const auto& [from, count] : c.sums)
      EXPECT_EQ(sum(out, from, count), sum(ep, from, count)) << "sum from " << from;
    EXPECT_EQ(Bytes(out.begin() + kDumpTableOffset, out.end()),
              Bytes(kTable.begin(), kTable.begin() + static_cast<std::ptrdiff_t>(c.table_kept)));

    // --from-dump reads it as this table of this version.
    Bytes block = out;
    std::vector<std::string> warnings;
    ASSERT_TRUE(dump_to_raw_block(&block, dump_format::automatic, &warnings, &error)) << error;
    EXPECT_EQ(block[1], c.major);
    EXPECT_EQ(block[2], c.minor);
    EXPECT_EQ(Bytes(block.begin() + 8, block.end()),
              Bytes(out.begin() + kDumpTableOffset, out.end()));
  }
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, DmidecodeLayout, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DmidecodeLayout, RefusesWhatDmidecodeCannotRead) {
  Bytes too_long = smbios3(0x100);
  too_long[0x06] = 0x21;
  Bytes shorter_than_it_says = smbios3(0x100);
  shorter_than_it_says.resize(0x17);
  Bytes smbios2_too_short = smbios2(0x1F, 13);
  smbios2_too_short[0x05] = 0x1D;
  Bytes legacy_cut = legacy();
  legacy_cut.resize(0x0E);
  const Bytes none = {'_', 'S', 'M', '4', '_', 0, 0, 0};
  for (const Bytes& ep :
       {too_long, shorter_than_it_says, smbios2_too_short, legacy_cut, none, Bytes()}) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(dmidecode_dump(ep, kTable, &out, &error));
    EXPECT_NE(error.find("entry point"), std::string::npos);
  }
}

}  // namespace
