// The command-line host on twelve tables captured from real machines, checked
// against dmidecode and against what is known about each machine. Four of
// them come from ../shared/smbios-dumps and may be absent (real_tables.h).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "dmidecode_compare.h"
#include "real_tables.h"

namespace {

struct RealDump {
  const char* name;
  int devices;    // type-17 structures of 21 bytes or more that the walk reaches
  int populated;  // of those, the ones with a size of 1 MiB or more
};

// From test/data/real-tables/README.md.
const RealDump kDumps[] = {
    {"server-dell-poweredge8450-smbios21-32slot-sdram", 32, 2},
    {"workstation-hp-z600-2s-ddr3-plus-flash-rom-device", 7, 5},
    {"server-supermicro-x9drw-2s-16dimm-ddr3", 16, 16},
    {"server-asrockrack-x570d4u-ddr4-32g-extended-size", 4, 2},
    {"minipc-beelink-eq12-ddr5-sodimm-truncated-table", 2, 1},
    {"laptop-lenovo-thinkpad-x280-ddr4-no-partnumber", 2, 2},
    {"laptop-microsoft-surface-laptop3-ddr4-native-rsmb", 2, 2},
    {"vm-vmware-esxi-128slot", 128, 1},
    {"vm-hyperv-gen1-broken-table-after-type11", 0, 0},
    {"vm-qemu-kvm-smbios24-single-dimm", 1, 1},
    {"desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown", 4, 2},
    {"server-dell-poweredge-24slot-ddr4-smbios32", 24, 8},
};

// One field of one device that the documents or the machine's own label tell.
struct KnownFact {
  const char* dump;
  size_t device;
  const char* key;
  nlohmann::json value;
};

std::string dump_file(const std::string& name, const char* ext) {
  return (kRealTablesDir / (name + ext)).string();
}

std::string test_name(const std::string& name) {
  std::string out;
  for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

// The report for a saved file, which must decode without complaint but the
// warning that a table named broken breaks before any memory device.
nlohmann::json report_for(const std::string& path, std::string* text) {
  const CliResult r = run_cli({"--from-dump", path});
  EXPECT_EQ(r.exit_code, 0) << path << "\n" << r.err;
  if (path.find("broken-table") != std::string::npos)
    EXPECT_NE(r.err.find(": table broken: its walk stops at byte "), std::string::npos) << r.err;
  else
    EXPECT_EQ(r.err, "") << path;
  *text = r.out;
  return nlohmann::json::parse(r.out, nullptr, false);
}

class RealDumpTest : public testing::TestWithParam<RealDump> {};

TEST_P(RealDumpTest, BothLayoutsGiveTheReportDmidecodeAgreesWith) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam().name);
  if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  const std::string name = GetParam().name;
  std::string from_rsmb, from_dmi;
  report_for(dump_file(name, ".rsmb"), &from_rsmb);
  const nlohmann::json report = report_for(dump_file(name, ".dmi"), &from_dmi);
  EXPECT_EQ(from_rsmb, from_dmi) << "the two layouts hold the same table";
  ASSERT_FALSE(report.is_discarded()) << from_dmi;

  const std::vector<std::string> diffs = compare_with_dmidecode(from_dmi, dump_file(name, ".dmi"));
  std::string all;
  for (const std::string& d : diffs) all += d + "\n";
  EXPECT_TRUE(diffs.empty()) << all;
}

TEST_P(RealDumpTest, CountsAgreeWithTheListAndTheMachine) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam().name);
  const RealDump& dump = GetParam();
  std::string text;
  const nlohmann::json report = report_for(dump_file(dump.name, ".rsmb"), &text);
  ASSERT_FALSE(report.is_discarded()) << text;
  const nlohmann::json& slots = report.at("slots");
  int populated = 0;
  for (const auto& slot : slots) populated += slot.at("size_mb").get<int>() > 0 ? 1 : 0;
  EXPECT_EQ(static_cast<int>(slots.size()), dump.devices);
  EXPECT_EQ(populated, dump.populated);
  EXPECT_EQ(report.at("total_mb"), -1) << "a saved table has no total of its own";

  const CliResult count = run_cli({"--count", "--from-dump", dump_file(dump.name, ".rsmb")});
  EXPECT_EQ(count.exit_code, 0) << count.err;
  EXPECT_EQ(count.out, std::to_string(populated) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Tables, RealDumpTest, testing::ValuesIn(kDumps),
                         [](const testing::TestParamInfo<RealDump>& info) {
                           return test_name(info.param.name);
                         });

class KnownFactTest : public testing::TestWithParam<KnownFact> {};

TEST_P(KnownFactTest, ReportShowsIt) {
  SKIP_IF_REAL_TABLE_ABSENT(GetParam().dump);
  const KnownFact& fact = GetParam();
  std::string text;
  const nlohmann::json report = report_for(dump_file(fact.dump, ".dmi"), &text);
  ASSERT_FALSE(report.is_discarded()) << text;
  ASSERT_LT(fact.device, report.at("slots").size()) << text;
  EXPECT_EQ(report["slots"][fact.device].value(fact.key, nlohmann::json()), fact.value) << text;
}

const KnownFact kFacts[] = {
    // Size word 0x7FFF sends the size to the 32-bit Extended Size.
    {"server-asrockrack-x570d4u-ddr4-32g-extended-size", 1, "size_mb", 32768},
    {"vm-vmware-esxi-128slot", 0, "size_mb", 1024},
    {"vm-qemu-kvm-smbios24-single-dimm", 0, "size_mb", 384},
    // A 21-byte device has no speed field.
    {"vm-qemu-kvm-smbios24-single-dimm", 0, "speed_mts", 0},
    {"minipc-beelink-eq12-ddr5-sodimm-truncated-table", 0, "type", "DDR5"},
    {"minipc-beelink-eq12-ddr5-sodimm-truncated-table", 0, "form_factor", "SODIMM"},
    // A part number of spaces only trims to nothing.
    {"laptop-lenovo-thinkpad-x280-ddr4-no-partnumber", 0, "part_number", ""},
    {"laptop-lenovo-thinkpad-x280-ddr4-no-partnumber", 0, "manufacturer", "0000"},
    {"desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown", 2, "type", "Unknown"},
    // Strings of a single space trim to nothing, as the X280's spaces do.
    {"desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown", 2, "manufacturer", ""},
    {"desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown", 2, "part_number", ""},
    // A 27-byte device ends before the configured speed (offset 0x20).
    {"desktop-gigabyte-ga-ma74gmt-s2-memtype-unknown", 2, "configured_speed_mts", 0},
    {"server-dell-poweredge-24slot-ddr4-smbios32", 0, "manufacturer", "00AD00B300AD"},
    {"server-dell-poweredge8450-smbios21-32slot-sdram", 0, "type", "SDRAM"},
};

INSTANTIATE_TEST_SUITE_P(Tables, KnownFactTest, testing::ValuesIn(kFacts),
                         [](const testing::TestParamInfo<KnownFact>& info) {
                           return test_name(std::string(info.param.dump) + "_" +
                                            std::to_string(info.param.device) + "_" +
                                            info.param.key);
                         });

}  // namespace
