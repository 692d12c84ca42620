// raminfo --compare on pairs of tables: a real table as the baseline, and the
// same table edited byte by byte as the machine found later.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

const std::filesystem::path kX9drw = kRealTablesDir / "server-supermicro-x9drw-2s-16dimm-ddr3.rsmb";

// The structure table of the X9DRW's raw block (16 DDR3 modules, length 0x22).
Bytes x9drw_table() {
  std::ifstream in(kX9drw, std::ios::binary);
  const Bytes block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return block.size() > 8 ? Bytes(block.begin() + 8, block.end()) : Bytes();
}

// Where the structure at p ends: after its formatted area and string set.
size_t structure_end(const Bytes& t, size_t p) {
  size_t q = p + t[p + 1];
  while (q + 1 < t.size() && !(t[q] == 0 && t[q + 1] == 0)) ++q;
  return q + 2;
}

// Offsets of the memory devices (type 17), in table order.
std::vector<size_t> devices(const Bytes& t) {
  std::vector<size_t> out;
  for (size_t p = 0; p + 4 <= t.size() && t[p] != 127; p = structure_end(t, p))
    if (t[p] == 17) out.push_back(p);
  return out;
}

void replace_text(Bytes* t, size_t from, const std::string& old_text, const std::string& new_text) {
  ASSERT_EQ(old_text.size(), new_text.size());
  const auto at = std::search(t->begin() + static_cast<std::ptrdiff_t>(from), t->end(),
                              old_text.begin(), old_text.end());
  ASSERT_NE(at, t->end()) << old_text;
  std::copy(new_text.begin(), new_text.end(), at);
}

struct Edit {
  const char* name;
  void (*apply)(Bytes* t);
  int exit_code;
  std::string out;
  // What a --detail baseline gives where it sees more; null when the same.
  const char* detail_out = nullptr;
};

const Edit kEdits[] = {
    {"unchanged", [](Bytes*) {}, 0, ""},
    {"module_removed",
     [](Bytes* t) {
       const size_t d = devices(*t)[0];
       (*t)[d + 0x0C] = 0, (*t)[d + 0x0D] = 0;  // size 0: an empty slot
     },
     3,
     "P1-DIMMA1: missing (was Micron 18KSF51272PZ-1G4K, 4 GiB, serial 346C4A12)\n"
     "total 64 GiB → 60 GiB\n"},
    {"serial_changed", [](Bytes* t) { replace_text(t, devices(*t)[0], "346C4A12", "8A1B22C0"); }, 3,
     "P1-DIMMA1: replaced: serial 346C4A12 → 8A1B22C0\n"},
    {"configured_speed_lowered",
     [](Bytes* t) {
       const size_t d = devices(*t)[3];
       (*t)[d + 0x20] = 1066 & 0xFF, (*t)[d + 0x21] = 1066 >> 8;
     },
     3, "P1-DIMMB2: configured speed 1333 → 1066 MT/s\n"},
    {"slot_renamed", [](Bytes* t) { replace_text(t, devices(*t)[0], "P1-DIMMA1", "P1-DIMMX1"); }, 3,
     "P1-DIMMA1: now in slot P1-DIMMX1 (Micron 18KSF51272PZ-1G4K, 4 GiB, serial 346C4A12)\n"},
    {"order_shuffled",
     [](Bytes* t) {
       // The first and last memory devices change places.
       const std::vector<size_t> d = devices(*t);
       const size_t a = d.front(), a_end = structure_end(*t, a);
       const size_t b = d.back(), b_end = structure_end(*t, b);
       Bytes out(t->begin(), t->begin() + static_cast<std::ptrdiff_t>(a));
       out.insert(out.end(), t->begin() + static_cast<std::ptrdiff_t>(b),
                  t->begin() + static_cast<std::ptrdiff_t>(b_end));
       out.insert(out.end(), t->begin() + static_cast<std::ptrdiff_t>(a_end),
                  t->begin() + static_cast<std::ptrdiff_t>(b));
       out.insert(out.end(), t->begin() + static_cast<std::ptrdiff_t>(a),
                  t->begin() + static_cast<std::ptrdiff_t>(a_end));
       out.insert(out.end(), t->begin() + static_cast<std::ptrdiff_t>(b_end), t->end());
       *t = out;
     },
     0, ""},
    // Two modules change places: each moved, neither was replaced.
    {"modules_swapped",
     [](Bytes* t) {
       const std::vector<size_t> d = devices(*t);
       replace_text(t, d[0], "P1-DIMMA1", "P1-DIMMA2");
       replace_text(t, d[1], "P1-DIMMA2", "P1-DIMMA1");
     },
     3,
     "P1-DIMMA1: now in slot P1-DIMMA2 (Micron 18KSF51272PZ-1G4K, 4 GiB, serial 346C4A12)\n"
     "P1-DIMMA2: now in slot P1-DIMMA1 (Kingston HP647647-071-HYE, 4 GiB, serial D2166C8B)\n"},
    // Firmware control bytes never reach the terminal: the report drops them,
    // the detail document keeps them and the line shows '?'.
    {"serial_with_an_escape_sequence",
     [](Bytes* t) { replace_text(t, devices(*t)[0], "346C4A12", "34\x1b[2J12"); }, 3,
     "P1-DIMMA1: replaced: serial 346C4A12 → 34[2J12\n",
     "P1-DIMMA1: replaced: serial 346C4A12 → 34?[2J12\n"},
    // Only the detail document has the rank (attributes, offset 0x1B).
    {"rank_changed", [](Bytes* t) { (*t)[devices(*t)[5] + 0x1B] = 2; }, 0, "",
     "P1-DIMMC2: rank 1 → 2\n"},
};

class CompareTest : public testing::TestWithParam<Edit> {};

// The same edits against a baseline saved by plain raminfo and by --detail.
TEST_P(CompareTest, BaselineGivesExactlyTheseLines) {
  const Bytes original = x9drw_table();
  ASSERT_FALSE(original.empty()) << kX9drw;
  const TempDir dir;
  const std::string before = dir.write("before.rsmb", raw_block(original, 3, 0));
  Bytes edited = original;
  GetParam().apply(&edited);
  ASSERT_NE(edited.size(), 0u);
  const std::string after = dir.write("after.rsmb", raw_block(edited, 3, 0));

  for (const char* kind : {"", "--detail"}) {
    SCOPED_TRACE(*kind != '\0' ? kind : "plain");
    const std::string baseline = dir.path() + "/baseline" + kind + ".json";
    std::vector<std::string> save = {"--from-dump", before, "--output", baseline};
    if (*kind != '\0') save.push_back(kind);
    ASSERT_EQ(run_cli(save).exit_code, 0);

    const CliResult r = run_cli({"--from-dump", after, "--compare", baseline});
    const bool own = *kind != '\0' && GetParam().detail_out != nullptr;
    EXPECT_EQ(r.exit_code, own ? 3 : GetParam().exit_code) << r.err;
    EXPECT_EQ(r.out, own ? GetParam().detail_out : GetParam().out);
    EXPECT_EQ(r.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(X9drw, CompareTest, testing::ValuesIn(kEdits),
                         [](const testing::TestParamInfo<Edit>& info) {
                           return std::string(info.param.name);
                         });

// A serial and part number that two modules share (firmware that writes
// "XXXXXXXX" for every serial) cannot tell where a module went: no "moved".
TEST(CompareIdentity, SharedSerialsNeverMakeAMove) {
  Bytes t = x9drw_table();
  ASSERT_FALSE(t.empty()) << kX9drw;
  // Devices 0 and 2 are both Micron 18KSF51272PZ-1G4K.
  replace_text(&t, devices(t)[0], "346C4A12", "XXXXXXXX");
  replace_text(&t, devices(t)[2], "346C4A0C", "XXXXXXXX");
  const TempDir dir;
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", dir.write("b.rsmb", raw_block(t, 3, 0)), "--output", baseline})
                .exit_code,
            0);
  replace_text(&t, devices(t)[0], "P1-DIMMA1", "P1-DIMMX1");
  const CliResult r =
      run_cli({"--from-dump", dir.write("a.rsmb", raw_block(t, 3, 0)), "--compare", baseline});
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_EQ(r.out,
            "P1-DIMMA1: missing (was Micron 18KSF51272PZ-1G4K, 4 GiB, serial XXXXXXXX)\n"
            "P1-DIMMX1: new module (Micron 18KSF51272PZ-1G4K, 4 GiB, serial XXXXXXXX)\n");
}

TEST(CompareGauges, CountWhatChangedForAlerts) {
  Bytes t = x9drw_table();
  ASSERT_FALSE(t.empty()) << kX9drw;
  const TempDir dir;
  const std::string baseline = dir.path() + "/baseline.json";
  ASSERT_EQ(run_cli({"--from-dump", dir.write("b.rsmb", raw_block(t, 3, 0)), "--output", baseline})
                .exit_code,
            0);
  const std::vector<size_t> d = devices(t);
  t[d[0] + 0x0C] = 0, t[d[0] + 0x0D] = 0;            // missing
  replace_text(&t, d[1], "D2166C8B", "D2166C8C");    // replaced
  replace_text(&t, d[2], "P1-DIMMB1", "P1-DIMMZ1");  // moved
  const CliResult r = run_cli({"--prometheus", "--from-dump",
                               dir.write("a.rsmb", raw_block(t, 3, 0)), "--compare", baseline});
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_NE(r.out.find("\nraminfo_baseline_modules_missing 1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nraminfo_baseline_modules_changed 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nraminfo_baseline_modules_new 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("raminfo_smbios_readable 1\n"), std::string::npos) << r.out;

  if (std::system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no promtool";
  const std::string prom = dir.write("raminfo.prom", Bytes(r.out.begin(), r.out.end()));
  EXPECT_EQ(std::system(("promtool check metrics < " + prom).c_str()), 0);
}

// A baseline that cannot be used is an error, never "nothing changed".
struct BadBaseline {
  const char* name;
  std::string content;  // "{missing}" for no file, "{dir}" for a directory
  std::string reason;
};

const BadBaseline kBadBaselines[] = {
    {"missing", "{missing}", "No such file or directory"},
    {"directory", "{dir}", "Is a directory"},
    {"not_json", "total 64 GiB\n", "not JSON: "},
    {"cut_json", "{\"total_mb\":-1,\"slots\":[{\"slot\":\"A\",", "not JSON: "},
    {"json_but_no_report", "[1,2,3]", "not a raminfo report"},
    {"report_without_slots", "{\"total_mb\":-1}", "not a raminfo report"},
    {"other_schema", "{\"schema\":\"raminfo-detail/999\",\"arrays\":[]}",
     "schema \"raminfo-detail/999\""},
    {"member_twice", "{\"total_mb\":-1,\"slots\":[],\"slots\":[]}", "a member given twice"},
    {"detail_of_an_unreadable_table",
     "{\"schema\":\"raminfo-detail/1\",\"readable\":false,\"arrays\":[],\"devices\":[]}",
     "\"readable\": false"},
    {"detail_without_devices", "{\"schema\":\"raminfo-detail/1\",\"arrays\":[]}",
     "no \"devices\" list"},
    {"empty", "", "not JSON: "},
};

class BadBaselineTest : public testing::TestWithParam<BadBaseline> {};

TEST_P(BadBaselineTest, ExitsOneAndSaysWhy) {
  const TempDir dir;
  std::string path = dir.path() + "/baseline.json";
  if (GetParam().content == "{dir}")
    path = dir.path();
  else if (GetParam().content != "{missing}")
    path = dir.write("baseline.json", Bytes(GetParam().content.begin(), GetParam().content.end()));
  Dimm dimm = ddr4_dimm();
  const std::string t = dir.write("DMI", table({dimm.with(ddr4_strings()), end_of_table()}));
  for (const char* v : {"", "--prometheus"}) {
    std::vector<std::string> args = {"--from-dump", t, "--compare", path};
    if (*v != '\0') args.push_back(v);
    const CliResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 1) << v;
    EXPECT_EQ(r.out, "") << v;
    EXPECT_EQ(r.err.rfind("raminfo: cannot use the baseline " + path + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Compare, BadBaselineTest, testing::ValuesIn(kBadBaselines),
                         [](const testing::TestParamInfo<BadBaseline>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
