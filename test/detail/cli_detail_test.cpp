// raminfo --detail as a user runs it: the same document the decoder makes,
// its table view, and the options it does not go with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>

#include "cli_runner.h"
#include "detail_source.h"
#include "real_tables.h"

namespace {

struct SummaryCase {
  const char* dump;
  const char* line;  // the first line of --detail --table
};

void PrintTo(const SummaryCase& c, std::ostream* os) { *os << c.dump; }

const SummaryCase kSummaries[] = {
    {"server-dell-poweredge-24slot-ddr4-smbios32", "1 array, 24 slots, 8 populated, 128 GiB, ECC"},
    // Its Flash ROM device is no system memory: seven devices, six slots.
    {"workstation-hp-z600-2s-ddr3-plus-flash-rom-device",
     "2 arrays, 6 slots, 4 populated, 32 GiB, ECC"},
    {"server-supermicro-x9drw-2s-16dimm-ddr3", "2 arrays, 16 slots, 16 populated, 64 GiB, ECC"},
    {"laptop-lenovo-thinkpad-x280-ddr4-no-partnumber",
     "1 array, 2 slots, 2 populated, 8 GiB, no ECC"},
    {"laptop-microsoft-surface-laptop3-ddr4-native-rsmb",
     "1 array, 2 slots, 2 populated, 16 GiB, no ECC"},
    {"vm-hyperv-gen1-broken-table-after-type11",
     "0 arrays, 0 slots, 0 populated, 0 B, ECC unknown"},
};

class CliDetailSummary : public testing::TestWithParam<SummaryCase> {};

TEST_P(CliDetailSummary, PrintsTheDecodersDocumentAndItsSummary) {
  const SummaryCase& c = GetParam();
  SKIP_IF_REAL_TABLE_ABSENT(c.dump);
  const std::string path = (kRealTablesDir / (std::string(c.dump) + ".rsmb")).string();
  const CliResult json = run_cli({"--detail", "--from-dump", path});
  EXPECT_EQ(json.exit_code, 0) << json.err;
  const auto table = table_of_file(path);
  ASSERT_TRUE(table) << path;
  // The decoder's document, with the counts a saved table gets without
  // --sysfs-root: none.
  raminfo_detail::document doc = detail_of_table(*table);
  doc.errors.reason = "the saved table named no tree";
  EXPECT_EQ(json.out, raminfo_detail::detail_json(doc));
  const CliResult text = run_cli({"--from-dump", path, "--table", "--detail"});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_EQ(text.out.substr(0, text.out.find('\n')), c.line);
}

INSTANTIATE_TEST_SUITE_P(Tables, CliDetailSummary, testing::ValuesIn(kSummaries),
                         [](const testing::TestParamInfo<SummaryCase>& info) {
                           std::string out;
                           for (const char* p = info.param.dump; *p != '\0'; ++p)
                             out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return out;
                         });

TEST(CliDetail, AnUnreadableTableStillGivesADocument) {
  TempDir dir;
  const std::string path = dir.write("short.rsmb", {0, 3, 2, 0, 0, 0, 0, 0});
  const CliResult r = run_cli({"--detail", "--from-dump", path, "--dump-format", "rsmb"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.out.find("\"readable\": false"), std::string::npos) << r.out;
}

TEST(CliDetail, GoesWithTheTableViewOnly) {
  for (const auto& other : {"--count", "--prometheus"}) {
    const CliResult r = run_cli({"--detail", other});
    EXPECT_EQ(r.exit_code, 2) << other;
    EXPECT_NE(r.err.find("--detail"), std::string::npos) << r.err;
  }
  EXPECT_EQ(run_cli({"--detail", "--compare", "baseline.json"}).exit_code, 2);
}

struct CheckCase {
  const char* dump;
  int exit_code;      // 4 when a finding is a warning
  const char* first;  // the first line it prints, up to its colon
  size_t lines;
};

// raminfo --check on real tables, checked by hand against their locators.
TEST(CliCheck, PrintsTheFindingsWarningsFirstAndExitsFourOnAWarning) {
  const CheckCase cases[] = {
      // One module in the two controllers' channels.
      {"minipc-beelink-eq12-ddr5-sodimm-truncated-table", 4, "warning channels_unused", 3},
      {"server-asrockrack-x570d4u-ddr4-32g-extended-size", 0, "info free_slots", 1},
      {"server-dell-poweredge-24slot-ddr4-smbios32", 0, "info mixed_modules", 2},
      {"laptop-microsoft-surface-laptop3-ddr4-native-rsmb", 0, "no findings", 1},
  };
  for (const CheckCase& c : cases) {
    const std::string path = (kRealTablesDir / (std::string(c.dump) + ".rsmb")).string();
    const CliResult r = run_cli({"--check", "--from-dump", path});
    EXPECT_EQ(r.exit_code, c.exit_code) << c.dump << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find_first_of(":\n")), c.first) << c.dump;
    EXPECT_EQ(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), c.lines) << r.out;
  }
  // The findings come with the gauges too, and the channels only where told.
  const std::string beelink =
      (kRealTablesDir / "minipc-beelink-eq12-ddr5-sodimm-truncated-table.rsmb").string();
  const CliResult prom = run_cli({"--prometheus", "--from-dump", beelink});
  for (const char* sample : {"\nraminfo_memory_channels{state=\"total\"} 2\n",
                             "\nraminfo_memory_channels{state=\"populated\"} 1\n",
                             "\nraminfo_memory_findings{code=\"channels_unused\"} 1\n",
                             "\nraminfo_memory_findings{code=\"channels_unbalanced\"} 0\n"})
    EXPECT_NE(prom.out.find(sample), std::string::npos) << sample << prom.out;
  const CliResult dell =
      run_cli({"--prometheus", "--from-dump",
               (kRealTablesDir / "server-dell-poweredge-24slot-ddr4-smbios32.rsmb").string()});
  EXPECT_NE(dell.out.find("# TYPE raminfo_memory_channels gauge\n# HELP"), std::string::npos)
      << dell.out;
}

TEST(CliCheck, GoesAlone) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--check", "--detail"},
                                               {"--check", "--table"},
                                               {"--check", "--populated"},
                                               {"--check", "--compare", "baseline.json"}})
    EXPECT_EQ(run_cli(args).exit_code, 2) << args[1];
}

}  // namespace
