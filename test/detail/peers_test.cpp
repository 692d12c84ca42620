// The detail document against two independent decoders, dmidecode and
// systemd's dmi_memory_id, on the real tables (real_tables.h) and on
// generated ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "detail_source.h"
#include "dmidecode_compare.h"
#include "generator.h"
#include "real_tables.h"
#include "udev_compare.h"

namespace {

// Every table here, and those kept outside the repository that are absent,
// whose cases say so.
std::vector<std::string> dump_names() {
  std::vector<std::string> names = absent_real_tables();
  for (const auto& e : std::filesystem::directory_iterator(kRealTablesDir))
    if (e.path().extension() == ".dmi") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string out;
  for (char c : info.param) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

class RealDump : public testing::TestWithParam<std::string> {};

TEST_P(RealDump, DmidecodeAgreesFieldByField) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam());
  if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  const std::string path = (kRealTablesDir / (GetParam() + ".dmi")).string();
  const auto table = table_of_file(path);
  ASSERT_TRUE(table) << path;
  const std::string doc = raminfo_detail::detail_json(detail_of_table(*table));
  for (const std::string& d : compare_detail_with_dmidecode(doc, path)) ADD_FAILURE() << d;
}

TEST_P(RealDump, UdevAgreesOnItsFields) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam());
  const std::string tool = udev_decoder_path();
  if (tool.empty()) GTEST_SKIP() << "systemd's dmi_memory_id is not available";
  const std::string path = (kRealTablesDir / (GetParam() + ".dmi")).string();
  const auto table = table_of_file(path);
  ASSERT_TRUE(table) << path;
  const std::string doc = raminfo_detail::detail_json(detail_of_table(*table));
  for (const std::string& d : compare_detail_with_udev(doc, tool, path)) ADD_FAILURE() << d;
}

// Every module whose firmware names its maker, by code or by name, gets that
// maker's one spelling; so does every module code (SMBIOS 3.2+).
TEST_P(RealDump, EveryMakerResolves) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam());
  const std::string path = (kRealTablesDir / (GetParam() + ".dmi")).string();
  const auto table = table_of_file(path);
  ASSERT_TRUE(table) << path;
  for (const raminfo_detail::memory_device& d : detail_of_table(*table).devices) {
    const std::string slot = d.locator && d.locator->raw ? *d.locator->raw : "?";
    if (d.manufacturer && d.manufacturer->raw && !d.manufacturer->placeholder) {
      EXPECT_TRUE(d.vendor && !d.vendor->name.empty())
          << slot << ": \"" << *d.manufacturer->raw << "\" names no maker";
    }
    if (d.module_manufacturer_id && *d.module_manufacturer_id != 0) {
      EXPECT_TRUE(d.module_manufacturer && !d.module_manufacturer->name.empty())
          << slot << ": module code " << *d.module_manufacturer_id << " names no maker";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Real, RealDump, testing::ValuesIn(dump_names()), test_name);

constexpr uint64_t kTablesPerBatch = 40;

class Generated : public testing::TestWithParam<uint64_t> {};

// Well-formed tables with long type-17 layouts (up to SMBIOS 3.7) and type 16
// arrays, through both peers.
TEST_P(Generated, BothPeersAgree) {
  const bool dmidecode = dmidecode_available();
  const std::string udev = udev_decoder_path();
  if (!dmidecode && udev.empty()) GTEST_SKIP() << "neither dmidecode nor dmi_memory_id";
  const std::string path = testing::TempDir() + "raminfo-detail-peers-" + std::to_string(getpid()) +
                           "-" + std::to_string(GetParam()) + ".dmi";
  raminfo_gen::GeneratorOptions options;
  for (uint64_t i = 0; i < kTablesPerBatch; ++i) {
    const uint64_t seed = 1000000 + GetParam() * kTablesPerBatch + i;
    const raminfo_gen::Bytes t = raminfo_gen::generate_table(seed, options);
    write_dmidecode_dump(t, path, 3, 7);
    const std::string doc = raminfo_detail::detail_json(detail_of_table(t));
    if (dmidecode)
      for (const std::string& d : compare_detail_with_dmidecode(doc, path))
        ADD_FAILURE() << "seed " << seed << ": dmidecode: " << d;
    if (!udev.empty())
      for (const std::string& d : compare_detail_with_udev(doc, udev, path))
        ADD_FAILURE() << "seed " << seed << ": udev: " << d;
  }
  std::remove(path.c_str());
}

// Eight batches: 320 tables, spread over parallel test processes.
INSTANTIATE_TEST_SUITE_P(Seeds, Generated, testing::Range<uint64_t>(0, 8));

}  // namespace
