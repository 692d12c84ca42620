// The command-line host's own behaviour: options, exit status, streams and the
// layouts of a saved table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "dmidecode_compare.h"
#include "files.h"
#include "little_endian.h"
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

// The bytes of one layout taken as another do not give the module back, and
// the host says what the content looks like instead.
struct WrongFormat {
  const char* layout;  // a name from kLayouts
  const char* forced;
  const char* looks_like;
  const char* out;
  const char* more_warnings = "";  // what else the forced layout makes of the bytes
  // Why the bytes, taken as forced, are no table ("" when they walk as one).
  const char* refusal = "";
};

class WrongFormatTest : public testing::TestWithParam<WrongFormat> {};

TEST_P(WrongFormatTest, ForcedFormatIsObeyedWithAWarning) {
  const TempDir dir;
  const auto layout = std::find_if(std::begin(kLayouts), std::end(kLayouts), [](const Layout& l) {
    return std::string(l.name) == GetParam().layout;
  });
  ASSERT_NE(layout, std::end(kLayouts));
  const std::string path = layout->write(dir, one_module_table());
  const CliResult r = run_cli({"--from-dump", path, "--dump-format", GetParam().forced});
  const bool refused = *GetParam().refusal != '\0';
  EXPECT_EQ(r.exit_code, refused ? 1 : 0) << r.err;
  EXPECT_EQ(r.out, GetParam().out);
  const std::string warning = "raminfo: warning: " + path + ": ";
  std::string expected_err = warning + "the file looks like " + GetParam().looks_like + "\n";
  if (*GetParam().more_warnings != '\0') expected_err += warning + GetParam().more_warnings + "\n";
  if (refused)
    expected_err +=
        "raminfo: cannot read " + path + ": not an SMBIOS table (" + GetParam().refusal + ")\n";
  EXPECT_EQ(r.err, expected_err);
}

// Taken as a raw block, a table's first bytes make a header and what follows
// is no table; taken as a table, a header's bytes end the walk at once, and
// the file is refused as no table at all. A dmidecode entry point happens to
// read as one structure, whose strings end in the padding after it.
const WrongFormat kWrongFormats[] = {
    {"bare_table", "rsmb", "a bare table, not rsmb", "", "", "the table in it is empty"},
    {"rsmb", "table", "an rsmb block, not a bare table", "", "",
     "the first structure's length byte is 3, below 4"},
    {"dmidecode_sm3", "table", "a dmidecode dump, not a bare table",
     "{\"total_mb\":-1,\"slots\":[]}\n"},
    {"dmidecode_sm3", "rsmb", "a dmidecode dump, not rsmb", "",
     "table cut: 113 of 51959903 bytes present", "the first structure's length byte is 0, below 4"},
    {"dmidecode_legacy_sm", "table", "a dmidecode dump, not a bare table",
     "{\"total_mb\":-1,\"slots\":[]}\n"},
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
    {"version", {"--version"}, 0, RAMINFO_EXPECTED_VERSION "\n", false, "", false},
    {"unknown_option", {"--bogus"}, 2, "", false, "unknown option '--bogus'", true},
    {"from_dump_without_file", {"--from-dump"}, 2, "", false, "--from-dump", true},
    {"missing_file",
     {"--from-dump", "/nonexistent/raminfo/table"},
     1,
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
    {"dump_format_without_from_dump",
     {"--dump-format", "rsmb"},
     2,
     "",
     false,
     "--dump-format goes with --from-dump FILE, which is not given",
     true},
    {"not_a_dmidecode_dump",
     {"--from-dump", "{table}", "--dump-format", "dmidecode"},
     1,
     "",
     false,
     "{table}: not a dmidecode dump",
     false},
    {"total_mb_reported",
     {"--from-dump", "{table}", "--total-mb", "16384"},
     0,
     "{\"total_mb\":16384,\"slots\":[{\"slot\":\"DIMM_A1\",\"size_mb\":8192,",
     true,
     "",
     false},
    {"count", {"--count", "--from-dump", "{table}"}, 0, "1\n", false, "", false},
    // --help wins wherever it stands, whatever else is wrong.
    {"help_after_bad_option", {"--bogus", "--help"}, 0, "Usage: raminfo", true, "", false},
    {"help_as_last_of_many",
     {"--count", "--table", "--from-dump", "-h"},
     0,
     "Usage: raminfo",
     true,
     "",
     false},
    {"repeated_view",
     {"--count", "--count"},
     2,
     "",
     false,
     "--count is given more than once",
     true},
    {"repeated_from_dump",
     {"--from-dump", "{table}", "--from-dump", "{table}"},
     2,
     "",
     false,
     "--from-dump is given more than once",
     true},
    {"views_exclude_each_other",
     {"--table", "--prometheus"},
     2,
     "",
     false,
     "--table and --prometheus exclude each other",
     true},
    // -1 means an unknown total, but given without a table it is still given.
    {"total_mb_minus_one_without_from_dump",
     {"--total-mb", "-1"},
     2,
     "",
     false,
     "--total-mb goes with --from-dump FILE, which is not given",
     true},
    {"both_without_from_dump",
     {"--dump-format", "table", "--total-mb", "8"},
     2,
     "",
     false,
     "--dump-format and --total-mb go with --from-dump FILE, which is not given",
     true},
    {"total_mb_minus_one",
     {"--from-dump", "{table}", "--total-mb", "-1"},
     0,
     kOneModuleReport,
     false,
     "",
     false},
    {"total_mb_below_minus_one",
     {"--from-dump", "{table}", "--total-mb", "-2"},
     2,
     "",
     false,
     "--total-mb",
     true},
    {"output_without_file", {"--output"}, 2, "", false, "--output needs a file", true},
    // An empty value is bad usage for every option that takes one.
    {"from_dump_empty", {"--from-dump", ""}, 2, "", false, "--from-dump needs a file", true},
    {"compare_empty",
     {"--compare", "", "--from-dump", "{table}"},
     2,
     "",
     false,
     "--compare needs a baseline file",
     true},
    {"output_empty", {"--output", ""}, 2, "", false, "--output needs a file", true},
    {"save_dump_empty", {"--save-dump", ""}, 2, "", false, "--save-dump needs a file", true},
    {"dump_format_empty",
     {"--from-dump", "{table}", "--dump-format", ""},
     2,
     "",
     false,
     "--dump-format takes",
     true},
    {"total_mb_empty",
     {"--from-dump", "{table}", "--total-mb", ""},
     2,
     "",
     false,
     "--total-mb",
     true},
    {"source_empty", {"--source", ""}, 2, "", false, "--source takes firmware or udev", true},
    // "-" is stdout for --output, and stdin for one input at most.
    {"output_dash_is_stdout",
     {"--count", "--from-dump", "{table}", "--output", "-"},
     0,
     "1\n",
     false,
     "",
     false},
    {"stdin_for_two_inputs",
     {"--from-dump", "-", "--compare", "-"},
     2,
     "",
     false,
     "cannot both read stdin",
     true},
    // --source and --save-dump (the udev and save-dump namespace tests run them).
    {"source_unknown", {"--source", "bios"}, 2, "", false, "--source takes firmware or udev", true},
    {"source_with_from_dump",
     {"--source", "udev", "--from-dump", "{table}"},
     2,
     "",
     false,
     "--source chooses this machine's table",
     true},
    {"save_dump_without_file", {"--save-dump"}, 2, "", false, "--save-dump needs a file", true},
    {"save_dump_with_a_view",
     {"--save-dump", "{dir}/saved.bin", "--count"},
     2,
     "",
     false,
     "--save-dump FILE goes alone",
     true},
    // A saved table that cannot be read is exit 1, with the file and reason.
    {"directory", {"--from-dump", "{dir}"}, 1, "", false, "{dir}: Is a directory", true},
    {"rsmb_as_dmidecode",
     {"--from-dump", "{rsmb}", "--dump-format", "dmidecode"},
     1,
     "",
     false,
     "{rsmb}: not a dmidecode dump",
     false},
    {"endless_input",
     {"--from-dump", "/dev/zero"},
     1,
     "",
     false,
     "/dev/zero: larger than the limit of 16 MiB",
     true},
    // Problems that leave an answer are warnings: exit 0, the answer printed.
    {"rsmb_cut_short",
     {"--count", "--from-dump", "{rsmb_cut}"},
     0,
     "1\n",
     false,
     "{rsmb_cut}: table cut: 79 of 89 bytes present",
     true},
    {"rsmb_without_version", {"--from-dump", "{rsmb_v0}"}, 0, kOneModuleReport, false, "", false},
    {"dmidecode_bad_checksum",
     {"--from-dump", "{dmi_badsum}"},
     0,
     kOneModuleReport,
     false,
     "{dmi_badsum}: entry point checksum is wrong",
     true},
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
    // --populated shapes the table views only.
    {"populated_with_json_report",
     {"--populated", "--from-dump", "{table}"},
     2,
     "",
     false,
     "--populated goes with --table or --detail --table only, not the JSON report",
     true},
    {"populated_with_count",
     {"--count", "--populated"},
     2,
     "",
     false,
     "--populated goes with --table or --detail --table only, not --count",
     true},
    {"populated_with_detail_json",
     {"--detail", "--populated"},
     2,
     "",
     false,
     "--populated goes with --table or --detail --table only, not --detail alone",
     true},
    // The table views have no answer to print: one line says why.
    {"table_view_of_short_block",
     {"--table", "--from-dump", "{short}"},
     1,
     "",
     false,
     "{short}: smbios too short",
     true},
    {"detail_table_view_of_short_block",
     {"--detail", "--table", "--from-dump", "{short}"},
     1,
     "",
     false,
     "{short}: smbios too short",
     true},
    // Hyper-V's table breaks after its type 11 structure: no slot is no answer.
    {"table_broken_before_any_device",
     {"--table", "--from-dump", "{hyperv}"},
     0,
     "SLOT",
     true,
     "{hyperv}: table broken: its walk stops at byte 478 of 17307, after a type 11 structure, "
     "before any memory device",
     true},
};

class InvocationTest : public testing::TestWithParam<Invocation> {};

TEST_P(InvocationTest, ExitStatusAndStreams) {
  const Invocation& c = GetParam();
  const TempDir dir;
  std::vector<std::string> args = c.args;
  const Bytes t = one_module_table();
  Bytes cut = raw_block_claiming(t, static_cast<uint32_t>(t.size()));
  cut.resize(cut.size() - 10);
  Bytes version0 = raw_block(t, 0, 0);
  Bytes badsum = legacy_dmidecode_dump(t, 2);
  badsum[0x04] ^= 0x01;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"{table}", dir.write("DMI", t)},
      // A raw block header that announces an empty table: nothing after byte 8.
      {"{short}", dir.write("short.rsmb", {0, 3, 2, 0, 0, 0, 0, 0})},
      {"{rsmb}", dir.write("t.rsmb", raw_block(t))},
      {"{rsmb_cut}", dir.write("cut.rsmb", cut)},
      {"{rsmb_v0}", dir.write("v0.rsmb", version0)},
      {"{dmi_badsum}", dir.write("badsum.dmi", badsum)},
      {"{dir}", dir.path()},
      {"{hyperv}",
       std::string(RAMINFO_DUMPS_DIR) + "/vm-hyperv-gen1-broken-table-after-type11.rsmb"},
  };
  auto expand = [&files](std::string text) {
    for (const auto& [mark, path] : files)
      for (size_t at; (at = text.find(mark)) != std::string::npos;)
        text.replace(at, mark.size(), path);
    return text;
  };
  for (std::string& a : args) a = expand(a);
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
    EXPECT_NE(r.err.find(expand(c.err_part)), std::string::npos) << r.err;
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

// Every view checks its writes: a full device is an error, not a success.
TEST(Output, FullDeviceFailsEveryView) {
  const TempDir dir;
  const std::string path = dir.write("DMI", one_module_table());
  for (const char* v : {"--count", "--table", "--prometheus", "--version", "--help", ""}) {
    SCOPED_TRACE(v);
    std::vector<std::string> args = {"--from-dump", path};
    if (*v != '\0') args.push_back(v);
    const CliResult r = run_cli(args, "/dev/full");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot write to stdout: No space left on device"), std::string::npos)
        << r.err;
  }
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Output, ReplacesTheFileWholeAndLeavesNothingElse) {
  const TempDir dir;
  const std::string table_path = dir.write("DMI", one_module_table());
  const std::string out = dir.write("raminfo.prom", Bytes(100000, 'x'));
  const CliResult stdout_run = run_cli({"--prometheus", "--from-dump", table_path});
  const mode_t old_mask = umask(022);
  const CliResult r = run_cli({"--prometheus", "--output", out, "--from-dump", table_path});
  umask(old_mask);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(file_text(out), stdout_run.out);
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"DMI", "raminfo.prom"}));
  // A collector running as another user must be able to read it.
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// A directory that takes no new file is named, not the file: the file may
// well be writable. Root writes into a directory of mode 0555, so root's run
// takes sysfs, which refuses a new file to everyone.
TEST(Output, UnwritableDirectoryNamesTheDirectoryAndKeepsStdoutEmpty) {
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  std::string read_only = dir.path() + "/read-only";
  ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
  if (geteuid() == 0) read_only = "/sys";
  for (const auto& [parent, reason] :
       {std::pair<std::string, std::string>{dir.path() + "/missing", "No such file or directory"},
        {read_only, "Permission denied"}}) {
    const std::string target = parent + "/raminfo.json";
    const CliResult r = run_cli({"--output", target, "--from-dump", table});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "raminfo: cannot write " + target + ": cannot create a file in " + parent +
                         ": " + reason + "\n");
  }
}

// The link stays when its target does not exist yet; a name as long as a
// file system allows is written although the temporary name must be cut.
TEST(Output, DanglingLinksAndLongNames) {
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  const std::string link = dir.path() + "/link.prom";
  const std::string target = dir.path() + "/not-yet.prom";
  ASSERT_EQ(symlink("not-yet.prom", link.c_str()), 0);
  const CliResult linked = run_cli({"--count", "--from-dump", table, "--output", link});
  EXPECT_EQ(linked.exit_code, 0) << linked.err;
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(file_text(target), "1\n");
  const std::string long_name = dir.path() + "/" + std::string(250, 'r') + ".json";
  const CliResult r = run_cli({"--count", "--from-dump", table, "--output", long_name});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(file_text(long_name), "1\n");
  EXPECT_EQ(names_in(dir.path()).size(), 4u);  // DMI, the link, its target, the long one
}

// A file that a collector reads through its group keeps its owner, group and
// mode when root replaces it.
TEST(Output, OwnerGroupAndModeAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  const std::string out = dir.write("raminfo.prom", Bytes{'o', 'l', 'd'});
  ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  const CliResult r = run_cli({"--prometheus", "--from-dump", table, "--output", out});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_NE(file_text(out).find("raminfo_smbios_readable 1"), std::string::npos);
}

// A run that cannot read the table leaves FILE as it was: a saved baseline
// must not turn into an empty report. Gauges still say the table is unreadable.
TEST(Output, UnreadableTableKeepsTheFileButGaugesSaySo) {
  const TempDir dir;
  const std::string table = dir.write("short.rsmb", {0, 3, 2, 0, 0, 0, 0, 0});
  for (const char* v : {"", "--count", "--table", "--detail"}) {
    SCOPED_TRACE(v);
    const std::string out = dir.write("kept", Bytes{'o', 'l', 'd'});
    std::vector<std::string> args = {"--from-dump", table, "--output", out};
    if (*v != '\0') args.push_back(v);
    const CliResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(file_text(out), "old");
    EXPECT_NE(r.err.find(out + " is left as it was"), std::string::npos) << r.err;
  }
  const std::string prom = dir.path() + "/raminfo.prom";
  EXPECT_EQ(run_cli({"--from-dump", table, "--prometheus", "--output", prom}).exit_code, 1);
  EXPECT_NE(file_text(prom).find("raminfo_smbios_readable 0\n"), std::string::npos);
}

TEST(Output, OverTheFileBeingReadIsRefused) {
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", table, "--output", baseline}).exit_code, 0);
  const std::string saved = file_text(baseline);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--from-dump", table, "--compare", baseline, "--output", baseline},
        std::vector<std::string>{"--from-dump", table, "--output", table}}) {
    const CliResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("is the file being read"), std::string::npos) << r.err;
  }
  EXPECT_EQ(file_text(baseline), saved);
}

// A link is followed and keeps pointing at the new content, an existing file
// keeps its mode, and a device is never renamed over.
TEST(Output, LinksAreFollowedModesKeptDevicesRefused) {
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  const std::string real = dir.write("real.prom", Bytes{'o', 'l', 'd'});
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  const std::string link = dir.path() + "/link.prom";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(run_cli({"--count", "--from-dump", table, "--output", link}).exit_code, 0);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(file_text(real), "1\n");
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const CliResult r = run_cli({"--count", "--from-dump", table, "--output", "/dev/null"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "raminfo: cannot write /dev/null: not a regular file, so it is not replaced\n");
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A reader that went away is a failed write (exit 1), not death by SIGPIPE.
TEST(Output, ClosedPipeIsAWriteError) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const TempDir dir;
  const CliResult r = run_cli({"--table", "--from-dump", dir.write("DMI", one_module_table())},
                              "/proc/self/fd/" + std::to_string(fds[1]));
  close(fds[1]);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot write to stdout: Broken pipe"), std::string::npos) << r.err;
}

// Input past the limit ends at once, in little memory: an endless device is
// read one byte past the limit, a huge sparse file not at all.
TEST(BoundedInput, RefusedQuicklyInLittleMemory) {
  const TempDir dir;
  const std::string sparse = dir.write("sparse.rsmb", {});
  std::filesystem::resize_file(sparse, uint64_t{5} << 30);
  for (const std::string& path : {std::string("/dev/zero"), sparse}) {
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = run_cli({"--count", "--from-dump", path});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exit_code, 1) << path;
    EXPECT_EQ(r.out, "") << path;
    EXPECT_EQ(r.err, "raminfo: cannot read " + path + ": larger than the limit of 16 MiB\n");
    EXPECT_LT(r.max_rss_kib, 64 * 1024) << path;
    // Seconds, not the limit's milliseconds: a loaded or sanitized build is slower.
    EXPECT_LT(took.count(), 5.0) << path;
  }
}

// The views enumerate devices in one walk; fetching each by index walked from
// the table start every time, so four times the devices took sixteen times as
// long (6.5 s for 40,000). The ratio, not a wall-clock limit, keeps the test
// fair to slow and sanitized builds.
TEST(Views, ManyDevicesTakeOneWalk) {
  const TempDir dir;
  auto table_of = [&dir](int devices) {
    std::vector<Bytes> pieces;
    for (int i = 0; i < devices; ++i)
      pieces.push_back(Dimm{.size = 1024, .locator = 1}.with({"D"}));
    return dir.write("t" + std::to_string(devices) + ".rsmb", raw_block(table(pieces)));
  };
  const std::string small = table_of(10000), big = table_of(40000);
  for (const char* v : {"--table", "--prometheus"}) {
    // The best of three runs: a busy machine only ever adds time, so the
    // minimum is the least disturbed measure of each size.
    auto seconds = [v](const std::string& path) {
      double best = 1e9;
      for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const CliResult r = run_cli({v, "--from-dump", path});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
      return best;
    };
    const double t_small = seconds(small), t_big = seconds(big);
    EXPECT_LT(t_big, 8 * t_small + 0.2) << v << ": " << t_small << " s, then " << t_big << " s";
  }
}

}  // namespace

namespace {

// Firmware text that would steer a terminal or reorder a line, and how every
// view for people shows it: one rule for all of them.
struct HostileText {
  const char* name;
  std::string raw;
  std::string shown;
  // The library's report drops C0 controls (its JSON contract), so the views
  // built on it never see them; "" when they show the same as the others.
  std::string shown_from_report = "";
};

const HostileText kHostileTexts[] = {
    {"escape_sequence", "\x1B[2J", "?[2J", "[2J"},
    {"c1_csi",
     "\xC2\x9B"
     "2J",
     "?2J"},
    {"del", "\x7F", "?"},
    {"right_to_left_override",
     "\xE2\x80\xAE"
     "1A",
     "?1A"},
    {"left_to_right_isolate",
     "\xE2\x81\xA6"
     "1A\xE2\x81\xA9",
     "?1A?"},
    {"latin1_byte",
     "M\xFC"
     "ller",
     "M?ller"},
};

class PrintableRule : public testing::TestWithParam<HostileText> {};

TEST_P(PrintableRule, SameInTableDetailTableAndComparison) {
  const TempDir dir;
  Dimm dimm = ddr4_dimm();
  dimm.size = 8192;
  std::vector<std::string> strings = ddr4_strings();
  strings[0] = "X" + GetParam().raw + "Y";  // the locator
  const std::string hostile = dir.write("DMI", table({dimm.with(strings), end_of_table()}));
  const std::string plain = dir.write("plain", one_module_table());
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", plain, "--output", baseline}).exit_code, 0);
  const std::string shown = "X" + GetParam().shown + "Y";
  const std::string from_report =
      GetParam().shown_from_report.empty() ? shown : "X" + GetParam().shown_from_report + "Y";
  const std::vector<std::vector<std::string>> runs = {
      {"--table", "--from-dump", hostile},
      {"--detail", "--table", "--from-dump", hostile},
      {"--compare", baseline, "--from-dump", hostile}};
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0]);
    const CliResult r = run_cli(args);
    const std::string& expected = args[0] == "--detail" ? shown : from_report;
    EXPECT_EQ(r.exit_code, args[0] == "--compare" ? 3 : 0) << r.err;
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(GetParam().raw), std::string::npos) << r.out;
  }
  // JSON keeps the firmware's bytes (escaped, or as they are).
  EXPECT_EQ(run_cli({"--from-dump", hostile}).out.find(shown), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Texts, PrintableRule, testing::ValuesIn(kHostileTexts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Files that are no SMBIOS table are refused, whatever layout they are taken
// for, instead of giving an empty inventory that looks true.
struct NotATable {
  const char* name;
  Bytes bytes;      // empty: the file is the built raminfo itself, an executable
  const char* why;  // the reason in the parentheses
};

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes noise(size_t n) {
  Bytes b(n);
  uint32_t x = 2463534242u;  // xorshift32: the same bytes on every run
  for (uint8_t& v : b) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    v = static_cast<uint8_t>(x);
  }
  return b;
}

const NotATable kNotTables[] = {
    {"markdown", bytes_of("# raminfo\n\nPrints the memory modules.\n"),
     "the first structure's strings never end in two NUL bytes"},
    {"saved_inventory", bytes_of(kOneModuleReport),
     "the first structure's strings never end in two NUL bytes"},
    {"executable", {}, "the first structure has the end-of-table type but 69 bytes, not 4"},
    {"four_bytes", bytes_of("abcd"), "the first structure's 98 bytes run past the end"},
    {"three_bytes", bytes_of("abc"), "3 bytes, fewer than a structure header"},
    {"empty", {}, "the file is empty"},
    {"noise", noise(4096), "the first structure's strings never end in two NUL bytes"},
    {"length_below_header", {17, 3, 0, 0, 0, 0}, "the first structure's length byte is 3, below 4"},
    // A raw block header that announces a table of bytes that are none.
    {"rsmb_of_text",
     [] {
       Bytes b = {0, 3, 2, 0, 12, 0, 0, 0};
       const Bytes text = bytes_of("not a table!");
       b.insert(b.end(), text.begin(), text.end());
       return b;
     }(),
     "the first structure's 111 bytes run past the end"},
};

class NotATableTest : public testing::TestWithParam<NotATable> {};

TEST_P(NotATableTest, RefusedWithTheReasonInEveryView) {
  const TempDir dir;
  const NotATable& c = GetParam();
  // An executable's first bytes: the whole of a debug build may pass the
  // 16 MiB limit, which is refused for its size before its content is read.
  const auto head_of_executable = [] {
    std::ifstream in(RAMINFO_CLI, std::ios::binary);
    Bytes b(64 * 1024);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
  };
  const std::string path =
      dir.write("input", std::string(c.name) == "executable" ? head_of_executable() : c.bytes);
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", dir.write("DMI", one_module_table()), "--output", baseline})
                .exit_code,
            0);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--from-dump", path},
                                               {"--count", "--from-dump", path},
                                               {"--table", "--from-dump", path},
                                               {"--prometheus", "--from-dump", path},
                                               {"--detail", "--from-dump", path},
                                               {"--compare", baseline, "--from-dump", path}}) {
    SCOPED_TRACE(args[0]);
    const CliResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "raminfo: cannot read " + path + ": not an SMBIOS table (" + c.why + ")\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, NotATableTest, testing::ValuesIn(kNotTables),
                         [](const auto& info) { return std::string(info.param.name); });

// The rule keeps every real table, the Hyper-V one whose walk breaks after a
// few structures included, and the smallest tables that are one.
TEST(NotATable, RealAndMinimalTablesAreKept) {
  const TempDir dir;
  std::vector<std::string> paths = {
      dir.write("end_only", {127, 4, 0, 0, 0, 0}), dir.write("one_structure", {1, 4, 0, 0, 0, 0}),
      dir.write("header_only.rsmb", {0, 3, 2, 0, 0, 0, 0, 0}),  // the loader's "too short"
  };
  const std::filesystem::path real = RAMINFO_DUMPS_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(real)) << "the real tables are absent: " << real;
  for (const auto& e : std::filesystem::directory_iterator(real))
    if (e.path().extension() == ".rsmb" || e.path().extension() == ".dmi")
      paths.push_back(e.path().string());
  // The repository's eight tables in both layouts at least; ../shared's four
  // join them when present.
  ASSERT_GE(paths.size(), 3u + 16u) << "fewer real tables than expected in " << real;
  for (const std::string& path : paths) {
    const CliResult r = run_cli({"--count", "--from-dump", path});
    EXPECT_EQ(r.err.find("not an SMBIOS table"), std::string::npos) << path << "\n" << r.err;
    EXPECT_EQ(r.exit_code, path.find("header_only") == std::string::npos ? 0 : 1) << path;
  }
}

}  // namespace

namespace {

// "-" reads a saved table or a baseline from stdin, and writes a report to
// stdout; no file named "-" is made or read.
TEST(Dash, StdinAndStdoutInsteadOfAFileNamedDash) {
  const TempDir dir;
  const std::string table = dir.write("DMI", one_module_table());
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", table, "--output", baseline}).exit_code, 0);
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  const CliResult from_stdin = run_cli({"--count", "--from-dump", "-"}, "", table);
  const CliResult compare_stdin = run_cli({"--compare", "-", "--from-dump", table}, "", baseline);
  const CliResult to_stdout = run_cli({"--from-dump", table, "--output", "-"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(from_stdin.exit_code, 0) << from_stdin.err;
  EXPECT_EQ(from_stdin.out, "1\n");
  EXPECT_EQ(compare_stdin.exit_code, 0) << compare_stdin.err;
  EXPECT_EQ(compare_stdin.out, "");
  EXPECT_EQ(to_stdout.out, kOneModuleReport);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/-"));
}

}  // namespace

namespace {

// The HP Z600 lists its 2 MiB system ROM as a memory device. --table and
// --prometheus count the four DIMMs, as --detail does; the library's report
// and --count, its contract, still list five.
TEST(OtherMemory, HpZ600SystemRomIsMarkedNotCounted) {
  const std::string path =
      std::string(RAMINFO_DUMPS_DIR) + "/workstation-hp-z600-2s-ddr3-plus-flash-rom-device.rsmb";
  if (!std::filesystem::exists(path))
    GTEST_SKIP() << "the HP Z600 table is absent: " << path
                 << " (views_tests' OtherMemory cases build one like it)";
  const CliResult table = run_cli({"--table", "--from-dump", path});
  EXPECT_NE(table.out.find("4 of 6 slots populated, 32 GiB installed, not counting 1 device that "
                           "is not system memory\n"),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("Other        not system memory\n"), std::string::npos) << table.out;
  const CliResult prom = run_cli({"--prometheus", "--from-dump", path});
  EXPECT_NE(prom.out.find("\nraminfo_modules_populated 4\n"), std::string::npos) << prom.out;
  EXPECT_NE(prom.out.find("\nraminfo_installed_bytes 34359738368\n"), std::string::npos);
  EXPECT_NE(prom.out.find("\nraminfo_other_memory_devices 1\n"), std::string::npos);
  const CliResult detail = run_cli({"--detail", "--table", "--from-dump", path});
  EXPECT_EQ(detail.out.rfind("2 arrays, 6 slots, 4 populated, 32 GiB, ECC\n", 0), 0u);
  EXPECT_EQ(run_cli({"--count", "--from-dump", path}).out, "5\n");
  EXPECT_NE(run_cli({"--from-dump", path}).out.find("\"slot\":\"SYSTEM ROM\",\"size_mb\":2,"),
            std::string::npos);
}

}  // namespace

namespace {

// A file name in a message follows the same rule: a name is the user's to
// choose, and one made of escape sequences (a title change, a bell) or a line
// break and a second "raminfo:" line must reach the terminal as text.
struct HostileName {
  const char* name;
  std::string raw;
  std::string shown;
};

const HostileName kHostileNames[] = {
    {"escape_sequence", "\x1B]0;pwned\x07", "?]0;pwned?"},
    {"bell", "\x07\x07", "??"},
    {"line_break", "\nraminfo: all is well", "?raminfo: all is well"},
    {"right_to_left_override",
     "\xE2\x80\xAE"
     "txt.exe",
     "?txt.exe"},
};

class PrintableName : public testing::TestWithParam<HostileName> {};

TEST_P(PrintableName, InEveryMessageThatNamesAFile) {
  const TempDir dir;
  const std::string raw = dir.path() + "/x" + GetParam().raw + "y";
  const std::string shown = dir.path() + "/x" + GetParam().shown + "y";
  const std::string table = dir.write("DMI", one_module_table());
  Bytes cut = raw_block(one_module_table());
  cut.resize(cut.size() - 4);
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"missing table", {"--from-dump", raw + ".missing"}},
      {"no table", {"--from-dump", dir.write("x" + GetParam().raw + "y", bytes_of("text\n"))}},
      {"cut table", {"--count", "--from-dump", dir.write("x" + GetParam().raw + "y.cut", cut)}},
      {"missing baseline", {"--compare", raw + ".json", "--from-dump", table}},
      {"output in a missing directory", {"--from-dump", table, "--output", raw + "/out.json"}},
      {"output over the table", {"--from-dump", raw, "--output", raw}},
  };
  for (const auto& [what, args] : runs) {
    SCOPED_TRACE(what);
    const CliResult r = run_cli(args);
    EXPECT_NE(r.err.find(shown), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(raw), std::string::npos) << r.err;
    for (const char* control : {"\x1B", "\x07", "\xE2\x80\xAE"})
      EXPECT_EQ(r.err.find(control), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, PrintableName, testing::ValuesIn(kHostileNames),
                         [](const auto& info) { return std::string(info.param.name); });

// Text from a baseline that reaches stderr follows the same rule.
TEST(PrintableRule, BaselineTextOnStderr) {
  const TempDir dir;
  const std::string baseline =
      dir.write("baseline.json", bytes_of("{\"schema\":\"x\\u202Ey\\u009B2J\"}"));
  const CliResult r =
      run_cli({"--compare", baseline, "--from-dump", dir.write("DMI", one_module_table())});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("schema \"x?y?2J\""), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\xE2\x80\xAE"), std::string::npos) << r.err;
}

}  // namespace

// The cells of an aligned table's rows (the lines between the heading and the
// summary), cut at the heading's column starts; rows[0] is the heading. The
// summary line is left out: it is the first line without the heading's gaps.
struct AlignedTable {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows;
  std::string column(size_t row, const std::string& name) const {
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? "?" : rows[row][static_cast<size_t>(at - names.begin())];
  }
};

AlignedTable parse_aligned(const std::string& text, const std::string& first_column) {
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  AlignedTable t;
  size_t head = 0;
  while (head < lines.size() && lines[head].rfind(first_column, 0) != 0) ++head;
  if (head == lines.size()) return t;
  std::vector<size_t> starts;
  const std::string& h = lines[head];
  for (size_t i = 0; i < h.size(); ++i)
    if (h[i] != ' ' && (i == 0 || (i >= 2 && h[i - 1] == ' ' && h[i - 2] == ' ')))
      starts.push_back(i);
  auto cells = [&starts](const std::string& line) {
    std::vector<std::string> out;
    for (size_t k = 0; k < starts.size(); ++k) {
      const size_t end = k + 1 < starts.size() ? starts[k + 1] : line.size();
      std::string cell = starts[k] < line.size() ? line.substr(starts[k], end - starts[k]) : "";
      while (!cell.empty() && cell.back() == ' ') cell.pop_back();
      out.push_back(cell);
    }
    return out;
  };
  t.names = cells(h);
  for (size_t i = head + 1; i < lines.size(); ++i) {
    // The findings follow the rows, and the summary too in the plain table.
    if (lines[i].find(" slots populated, ") != std::string::npos ||
        lines[i].rfind("info ", 0) == 0 || lines[i].rfind("warning ", 0) == 0)
      break;
    t.rows.push_back(cells(lines[i]));
  }
  return t;
}

std::vector<std::string> real_rsmb_tables() {
  std::vector<std::string> paths;
  for (const auto& e : std::filesystem::directory_iterator(RAMINFO_DUMPS_DIR))
    if (e.path().extension() == ".rsmb") paths.push_back(e.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// --table and --detail --table show one device alike: the same type name and
// "-" for the same placeholders; an empty slot has no ECC to show; and
// --populated leaves out exactly the empty rows of each.
TEST(TableViewsTest, AgreeOnEveryRealTable) {
  const std::vector<std::string> tables = real_rsmb_tables();
  ASSERT_FALSE(tables.empty()) << RAMINFO_DUMPS_DIR;
  for (const std::string& path : tables) {
    SCOPED_TRACE(path);
    const CliResult plain = run_cli({"--table", "--from-dump", path});
    const CliResult detail = run_cli({"--detail", "--table", "--from-dump", path});
    const AlignedTable p = parse_aligned(plain.out, "SLOT");
    const AlignedTable d = parse_aligned(detail.out, "SLOT");
    ASSERT_EQ(p.rows.size(), d.rows.size()) << plain.out << detail.out;
    for (size_t r = 0; r < p.rows.size(); ++r) {
      SCOPED_TRACE(p.column(r, "SLOT"));
      for (const char* name : {"SIZE", "TYPE", "PART NUMBER", "SERIAL"}) {
        if (std::string(name) == "SIZE" && d.column(r, name) != "empty") continue;
        EXPECT_EQ(p.column(r, name), d.column(r, name)) << name;
      }
      if (d.column(r, "SIZE") == "empty") {
        EXPECT_EQ(d.column(r, "ECC"), "-");
      }
    }
    for (const auto& [args, full] :
         {std::pair{std::vector<std::string>{"--table"}, p},
          std::pair{std::vector<std::string>{"--detail", "--table"}, d}}) {
      std::vector<std::string> with = args;
      for (const char* a : {"--populated", "--from-dump"}) with.push_back(a);
      with.push_back(path);
      const AlignedTable only = parse_aligned(run_cli(with).out, "SLOT");
      std::vector<std::vector<std::string>> expected;
      for (size_t r = 0; r < full.rows.size(); ++r)
        if (full.column(r, "SIZE") != "empty") expected.push_back(full.rows[r]);
      EXPECT_EQ(only.rows, expected) << args.size();
    }
  }
}
