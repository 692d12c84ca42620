// The Linux source of the raw SMBIOS block, run against directories laid out
// like /sys/firmware/dmi/tables.
#include "platform/linux/sysfs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// A fresh directory under /tmp, removed with everything in it.
class TablesDir {
 public:
  TablesDir() {
    char tmpl[] = "/tmp/raminfo-sysfs-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    path_ = tmpl;
  }
  ~TablesDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TablesDir(const TablesDir&) = delete;
  TablesDir& operator=(const TablesDir&) = delete;

  const char* path() const { return path_.c_str(); }

  void write(const std::string& name, const Bytes& bytes, std::ios::openmode mode = {}) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary | std::ios::out | mode);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "writing " << name;
  }

 private:
  std::string path_;
};

// Bytes whose value tells their position, so a shifted copy shows.
Bytes counting(size_t n, uint8_t salt = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + salt);
  return b;
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// An entry point of n bytes starting with anchor; every other byte holds its
// own offset plus 0x40, so reading a neighbour instead of the field shows.
Bytes entry_point(const char* anchor, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0x40 + i);
  std::memcpy(b.data(), anchor, std::min(std::strlen(anchor), n));
  return b;
}

// The whole block for dir: the size query, then a read into a buffer of that
// size, which must return the same count.
Bytes read_block(const TablesDir& dir) {
  const uint32_t need = sysfs_raw_smbios(dir.path(), nullptr, 0);
  if (need == 0) {
    ADD_FAILURE() << "size query failed";
    return {};
  }
  Bytes block(need, 0xCD);
  const uint32_t got = sysfs_raw_smbios(dir.path(), block.data(), need);
  EXPECT_EQ(got, need) << "the read returns what the size query announced";
  block.resize(std::min(got, need));
  return block;
}

// --- Version bytes from smbios_entry_point -----------------------------------

struct VersionCase {
  const char* name;
  std::optional<Bytes> entry_point;  // nullopt: no such file
  uint8_t major, minor, revision;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

// In the 64-bit entry point ("_SM3_", DSP0134 5.2.2) the version is at 07h,
// 08h and the docrev at 09h; in the 32-bit one ("_SM_", 5.2.1) at 06h, 07h,
// with the BCD revision at 1Eh.
const VersionCase kVersions[] = {
    {"sm3_takes_bytes_7_8_9", entry_point("_SM3_", 0x18), 0x47, 0x48, 0x49},
    {"sm3_shortest_that_holds_the_docrev", entry_point("_SM3_", 0x0A), 0x47, 0x48, 0x49},
    {"sm3_cut_before_the_docrev", entry_point("_SM3_", 0x09), 0, 0, 0},
    {"sm_takes_bytes_6_7_and_1e", entry_point("_SM_", 0x1F), 0x46, 0x47, 0x5E},
    {"sm_cut_before_the_revision", entry_point("_SM_", 0x1E), 0, 0, 0},
    {"no_entry_point_file", std::nullopt, 0, 0, 0},
    {"empty_entry_point_file", Bytes{}, 0, 0, 0},
    {"unknown_anchor", entry_point("_XYZ_", 0x1F), 0, 0, 0},
    {"legacy_dmi_anchor_only", entry_point("_DMI_", 0x0F), 0, 0, 0},
};

class EntryPointVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(EntryPointVersion, FillsTheHeaderBeforeTheTable) {
  const VersionCase& c = GetParam();
  TablesDir dir;
  const Bytes dmi = counting(40);
  dir.write("DMI", dmi);
  if (c.entry_point) dir.write("smbios_entry_point", *c.entry_point);

  const Bytes block = read_block(dir);
  ASSERT_EQ(block.size(), 8 + dmi.size());
  EXPECT_EQ(block[0], 0) << "calling method";
  EXPECT_EQ(block[1], c.major) << "major";
  EXPECT_EQ(block[2], c.minor) << "minor";
  EXPECT_EQ(block[3], c.revision) << "revision";
  EXPECT_EQ(le32(&block[4]), dmi.size()) << "table length";
  EXPECT_EQ(Bytes(block.begin() + 8, block.end()), dmi);
}

INSTANTIATE_TEST_SUITE_P(Files, EntryPointVersion, testing::ValuesIn(kVersions),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The table and its length ------------------------------------------------

// The shortest table (one structure header), sizes around the 4 KiB read
// chunk, and one that needs the third byte of the little-endian length field.
const size_t kTableSizes[] = {4, 4095, 4096, 4097, 0x12345};

class TableLength : public testing::TestWithParam<size_t> {};

TEST_P(TableLength, SizeQueryAndLengthFieldFollowTheFile) {
  TablesDir dir;
  const Bytes dmi = counting(GetParam(), 3);
  dir.write("DMI", dmi);
  dir.write("smbios_entry_point", entry_point("_SM3_", 0x18));

  EXPECT_EQ(sysfs_raw_smbios(dir.path(), nullptr, 0), 8 + dmi.size());
  const Bytes block = read_block(dir);
  ASSERT_EQ(block.size(), 8 + dmi.size());
  EXPECT_EQ(le32(&block[4]), dmi.size());
  EXPECT_TRUE(Bytes(block.begin() + 8, block.end()) == dmi) << "the table is copied unchanged";
}

INSTANTIATE_TEST_SUITE_P(Bytes, TableLength, testing::ValuesIn(kTableSizes));

// --- Buffers of the wrong size -------------------------------------------------

// A sentinel past the offered size shows any write beyond it.
struct OfferCase {
  const char* name;
  int64_t offer_minus_need;  // the buffer offered, relative to the block's size
};

void PrintTo(const OfferCase& c, std::ostream* os) { *os << c.name; }

const OfferCase kOffers[] = {
    {"one_byte_short", -1}, {"header_only", -40}, {"nothing", -48}, {"exact", 0}, {"larger", 100},
};

class BufferOffer : public testing::TestWithParam<OfferCase> {};

TEST_P(BufferOffer, ReturnsTheNeedAndWritesOnlyWhatWasOffered) {
  TablesDir dir;
  const Bytes dmi = counting(40);
  dir.write("DMI", dmi);
  const uint32_t need = 8 + 40;

  const auto offer = static_cast<uint32_t>(need + GetParam().offer_minus_need);
  Bytes buf(offer + 64, 0xCD);
  const uint32_t got = sysfs_raw_smbios(dir.path(), buf.data(), offer);
  EXPECT_EQ(got, need) << "too small: the size needed; large enough: the bytes written";
  for (size_t i = std::min(offer, need); i < buf.size(); ++i)
    ASSERT_EQ(buf[i], 0xCD) << "byte " << i << " written beyond the block or the offer";
  if (offer >= need) {
    EXPECT_EQ(Bytes(buf.begin() + 8, buf.begin() + need), dmi);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferOffer, testing::ValuesIn(kOffers),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Missing, empty and changing tables --------------------------------------

// A table that cannot give a block fails both calls, and says why in Linux
// terms, naming the file. (Readable by root only needs another user: the
// namespace tests of the library and the bindings cover it.)
struct UnusableTable {
  const char* name;
  std::optional<Bytes> dmi;  // nullopt: no such file
  const char* reason;        // follows "<dir>/DMI"
};

void PrintTo(const UnusableTable& c, std::ostream* os) { *os << c.name; }

const UnusableTable kUnusable[] = {
    {"missing", std::nullopt, " does not exist: this machine exposes no SMBIOS table"},
    {"empty", Bytes{}, " is empty: the firmware gave an SMBIOS table without structures"},
    {"shorter_than_a_structure_header", counting(3),
     " is too short: 3 bytes, fewer than one SMBIOS structure header"},
};

class UnusableTableFails : public testing::TestWithParam<UnusableTable> {};

TEST_P(UnusableTableFails, BothCallsNamingTheFileAndTheReason) {
  const UnusableTable& c = GetParam();
  TablesDir dir;
  dir.write("smbios_entry_point", entry_point("_SM3_", 0x18));
  if (c.dmi) dir.write("DMI", *c.dmi);
  const std::string expected = std::string(dir.path()) + "/DMI" + c.reason;
  uint8_t buf[64];
  EXPECT_EQ(sysfs_raw_smbios(dir.path(), nullptr, 0), 0u);
  EXPECT_EQ(sysfs_failure(), expected);
  EXPECT_EQ(sysfs_raw_smbios(dir.path(), buf, sizeof buf), 0u);
  EXPECT_EQ(sysfs_failure(), expected);
}

INSTANTIATE_TEST_SUITE_P(All, UnusableTableFails, testing::ValuesIn(kUnusable),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SysfsRawSmbios, MissingDirectoryIsNoTable) {
  EXPECT_EQ(sysfs_raw_smbios("/nonexistent/raminfo/tables", nullptr, 0), 0u);
  EXPECT_STREQ(sysfs_failure(),
               "/nonexistent/raminfo/tables/DMI does not exist: this machine exposes no SMBIOS "
               "table");
}

TEST(SysfsRawSmbios, DirectoryInPlaceOfTheTableGivesTheSystemReason) {
  TablesDir dir;
  ASSERT_TRUE(fs::create_directory(std::string(dir.path()) + "/DMI"));
  EXPECT_EQ(sysfs_raw_smbios(dir.path(), nullptr, 0), 0u);
  EXPECT_EQ(sysfs_failure(), std::string(dir.path()) + "/DMI: " + std::strerror(EISDIR));
}

TEST(SysfsRawSmbios, DirectoryPathTooLongFails) {
  const std::string long_dir = "/tmp/" + std::string(5000, 'x');
  EXPECT_EQ(sysfs_raw_smbios(long_dir.c_str(), nullptr, 0), 0u);
  EXPECT_STREQ(sysfs_failure(), "the SMBIOS table's path is too long");
}

// The shortest table that holds a structure header is a table; a success
// leaves no reason behind from an earlier failure.
TEST(SysfsRawSmbios, FourByteTableIsReadAndClearsTheReason) {
  TablesDir dir;
  EXPECT_EQ(sysfs_raw_smbios(dir.path(), nullptr, 0), 0u);
  ASSERT_STRNE(sysfs_failure(), "");
  dir.write("DMI", counting(4));
  const Bytes block = read_block(dir);
  ASSERT_EQ(block.size(), 12u);
  EXPECT_EQ(le32(&block[4]), 4u);
  EXPECT_STREQ(sysfs_failure(), "");
}

// The loader compares the read count with the size answer to notice a table
// that changed in between.
TEST(SysfsRawSmbios, TableThatGrewAfterTheSizeQueryChangesTheCount) {
  TablesDir dir;
  dir.write("DMI", counting(40));
  const uint32_t need = sysfs_raw_smbios(dir.path(), nullptr, 0);
  ASSERT_EQ(need, 48u);

  dir.write("DMI", counting(10), std::ios::app);
  Bytes buf(need + 64, 0xCD);
  const uint32_t got = sysfs_raw_smbios(dir.path(), buf.data(), need);
  EXPECT_NE(got, need);
  EXPECT_EQ(got, 58u) << "the new size needed";
  EXPECT_EQ(sysfs_failure(), std::string(dir.path()) + "/DMI changed while it was read");
  for (size_t i = need; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xCD) << "byte " << i;
}

TEST(SysfsRawSmbios, TableThatShrankAfterTheSizeQueryChangesTheCount) {
  TablesDir dir;
  dir.write("DMI", counting(40));
  const uint32_t need = sysfs_raw_smbios(dir.path(), nullptr, 0);
  ASSERT_EQ(need, 48u);

  dir.write("DMI", counting(30));
  Bytes buf(need, 0xCD);
  const uint32_t got = sysfs_raw_smbios(dir.path(), buf.data(), need);
  EXPECT_EQ(got, 38u);
  EXPECT_EQ(le32(&buf[4]), 30u) << "the length field tells the bytes actually read";
  EXPECT_EQ(sysfs_failure(), std::string(dir.path()) + "/DMI changed while it was read");
}

}  // namespace
