// The command-line host's own behaviour: options, exit status, streams and the
// layouts of a saved table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "dmidecode_compare.h"
#include "table_builder.h"

namespace {

// One populated DDR4 module, and the report the host prints for it.
Bytes one_module_table() {
  Dimm dimm = ddr4_dimm();
  dimm.size = 8192;
  return table({dimm.with(ddr4_strings()), end_of_table()});
}

const std::string kOneModuleReport =
    R"({"total_mb":-1,"slots":[{"slot":"DIMM_A1","size_mb":8192,"type":"DDR4","speed_mts":3200,)"
    R"("configured_speed_mts":2933,"manufacturer":"Samsung","part_number":"M393A2K43BB1-CTD",)"
    R"("serial":"0123ABCD","voltage_mv":1200,"form_factor":"DIMM"}]})"
    "\n";
const std::string kEmptyReport = "{\"total_mb\":-1,\"slots\":[]}\n";

void put_le(Bytes& b, size_t off, uint32_t v, size_t width) {
  for (size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint8_t checksum_byte(const Bytes& b, size_t from, size_t count) {
  uint8_t sum = 0;
  for (size_t i = from; i < from + count; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  return static_cast<uint8_t>(0x100 - sum);
}

// What `dmidecode --dump-bin` writes for an SMBIOS 2.x machine: the 31-byte
// "_SM_" entry point (DMTF DSP0134 section 5.2.1) with the table moved to 32.
Bytes legacy_dmidecode_dump(const Bytes& t, uint16_t structures) {
  Bytes f(32 + t.size(), 0);
  std::copy(t.begin(), t.end(), f.begin() + 32);
  std::copy_n("_SM_", 4, f.begin());
  f[0x05] = 0x1F;  // entry point length
  f[0x06] = 2;     // SMBIOS 2.8
  f[0x07] = 8;
  std::copy_n("_DMI_", 5, f.begin() + 0x10);
  put_le(f, 0x16, static_cast<uint32_t>(t.size()), 2);
  put_le(f, 0x18, 32, 4);
  put_le(f, 0x1C, structures, 2);
  f[0x1E] = 0x28;
  f[0x15] = checksum_byte(f, 0x10, 0x0F);  // intermediate checksum over 0x10..0x1E
  f[0x04] = checksum_byte(f, 0x00, 0x1F);  // over the whole entry point
  return f;
}

// The same table in each layout the host reads.
struct Layout {
  const char* name;
  const char* format;  // its --dump-format name
  std::string (*write)(const TempDir& dir, const Bytes& t);
};

const Layout kLayouts[] = {
    {"rsmb", "rsmb",
     [](const TempDir& dir, const Bytes& t) { return dir.write("t.rsmb", raw_block(t)); }},
    {"dmidecode_sm3", "dmidecode",
     [](const TempDir& dir, const Bytes& t) {
       const std::string path = dir.path() + "/t.dmi";
       write_dmidecode_dump(t, path);
       return path;
     }},
    {"dmidecode_legacy_sm", "dmidecode",
     [](const TempDir& dir, const Bytes& t) {
       return dir.write("legacy.dmi", legacy_dmidecode_dump(t, 2));
     }},
    {"bare_table", "table", [](const TempDir& dir, const Bytes& t) { return dir.write("DMI", t); }},
};

class LayoutTest : public testing::TestWithParam<Layout> {};

TEST_P(LayoutTest, ToldFromContentAndWhenForced) {
  const TempDir dir;
  const std::string path = GetParam().write(dir, one_module_table());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--from-dump", path},
        std::vector<std::string>{"--from-dump", path, "--dump-format", GetParam().format}}) {
    const CliResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 0) << args.size() << " args\n" << r.err;
    EXPECT_EQ(r.out, kOneModuleReport) << args.size() << " args";
    EXPECT_EQ(r.err, "");
  }
}

// Our hand-built dmidecode files are ones dmidecode itself reads.
TEST(DmidecodeLayoutTest, DmidecodeReadsTheSameModule) {
  if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  for (const Layout& layout : kLayouts) {
    if (std::string(layout.format) != "dmidecode") continue;
    SCOPED_TRACE(layout.name);
    const TempDir dir;
    const std::string path = layout.write(dir, one_module_table());
    const std::vector<std::string> diffs = compare_with_dmidecode(kOneModuleReport, path);
    EXPECT_TRUE(diffs.empty()) << (diffs.empty() ? "" : diffs[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTest, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) {
                           return std::string(info.param.name);
                         });

// The bytes of one layout taken as another do not give the module back.
struct WrongFormat {
  const char* layout;  // a name from kLayouts
  const char* forced;
};

class WrongFormatTest : public testing::TestWithParam<WrongFormat> {};

TEST_P(WrongFormatTest, ForcedFormatIsObeyed) {
  const TempDir dir;
  const auto layout = std::find_if(std::begin(kLayouts), std::end(kLayouts), [](const Layout& l) {
    return std::string(l.name) == GetParam().layout;
  });
  ASSERT_NE(layout, std::end(kLayouts));
  const std::string path = layout->write(dir, one_module_table());
  const CliResult r = run_cli({"--from-dump", path, "--dump-format", GetParam().forced});
  EXPECT_NE(r.out, kOneModuleReport) << "exit " << r.exit_code;
  EXPECT_TRUE(r.exit_code >= 0 && r.exit_code <= 2) << "the host must exit, not crash";
}

const WrongFormat kWrongFormats[] = {
    {"bare_table", "rsmb"},
    {"bare_table", "dmidecode"},
    {"rsmb", "table"},
    {"rsmb", "dmidecode"},
    {"dmidecode_sm3", "table"},
    {"dmidecode_sm3", "rsmb"},
    {"dmidecode_legacy_sm", "table"},
};

INSTANTIATE_TEST_SUITE_P(Layouts, WrongFormatTest, testing::ValuesIn(kWrongFormats),
                         [](const testing::TestParamInfo<WrongFormat>& info) {
                           return std::string(info.param.layout) + "_as_" + info.param.forced;
                         });

// Options, exit status and streams. "{table}" stands for a saved one-module
// table, "{short}" for a raw block with nothing after its header.
struct Invocation {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string out;       // the whole of stdout, unless out_prefix
  bool out_prefix;       // out need only start stdout
  std::string err_part;  // must appear on stderr ("" means stderr is empty)
  bool one_err_line;     // stderr is exactly one line
};

const Invocation kInvocations[] = {
    {"help", {"--help"}, 0, "Usage: raminfo", true, "", false},
    {"version", {"--version"}, 0, "1.0.0\n", false, "", false},
    {"unknown_option", {"--bogus"}, 2, "", false, "unknown option '--bogus'", true},
    {"from_dump_without_file", {"--from-dump"}, 2, "", false, "--from-dump", true},
    {"missing_file",
     {"--from-dump", "/nonexistent/raminfo/table"},
     2,
     "",
     false,
     "/nonexistent/raminfo/table",
     true},
    {"bogus_dump_format",
     {"--from-dump", "{table}", "--dump-format", "bogus"},
     2,
     "",
     false,
     "--dump-format",
     true},
    {"total_mb_not_a_number",
     {"--from-dump", "{table}", "--total-mb", "lots"},
     2,
     "",
     false,
     "--total-mb",
     true},
    {"total_mb_with_trailing_text",
     {"--from-dump", "{table}", "--total-mb", "16384MB"},
     2,
     "",
     false,
     "--total-mb",
     true},
    {"total_mb_without_from_dump", {"--total-mb", "16384"}, 2, "", false, "--from-dump", true},
    {"dump_format_without_from_dump", {"--dump-format", "rsmb"}, 2, "", false, "--from-dump", true},
    {"not_a_dmidecode_dump",
     {"--from-dump", "{table}", "--dump-format", "dmidecode"},
     2,
     "",
     false,
     "entry point",
     true},
    {"total_mb_reported",
     {"--from-dump", "{table}", "--total-mb", "16384"},
     0,
     "{\"total_mb\":16384,\"slots\":[{\"slot\":\"DIMM_A1\",\"size_mb\":8192,",
     true,
     "",
     false},
    {"count", {"--count", "--from-dump", "{table}"}, 0, "1\n", false, "", false},
    {"short_block_still_reports",
     {"--from-dump", "{short}"},
     1,
     kEmptyReport,
     false,
     "smbios too short",
     false},
    {"short_block_count",
     {"--count", "--from-dump", "{short}"},
     1,
     "-1\n",
     false,
     "smbios too short",
     false},
};

class InvocationTest : public testing::TestWithParam<Invocation> {};

TEST_P(InvocationTest, ExitStatusAndStreams) {
  const Invocation& c = GetParam();
  const TempDir dir;
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "{table}") a = dir.write("DMI", one_module_table());
    // A raw block header that announces an empty table: nothing after byte 8.
    if (a == "{short}") a = dir.write("short.rsmb", {0, 3, 2, 0, 0, 0, 0, 0});
  }
  const CliResult r = run_cli(args);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  if (c.out_prefix) {
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << r.out;
  } else {
    EXPECT_EQ(r.out, c.out);
  }
  if (c.err_part.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
    EXPECT_EQ(r.err.empty() ? ' ' : r.err.back(), '\n') << r.err;
  }
  if (c.one_err_line) {
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, InvocationTest, testing::ValuesIn(kInvocations),
                         [](const testing::TestParamInfo<Invocation>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
