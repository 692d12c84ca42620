// raminfo --compare on pairs of tables: a real table as the baseline, and the
// same table edited byte by byte as the machine found later.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "command_output.h"
#include "files.h"
#include "real_tables.h"
#include "sources/udev.h"
#include "table_builder.h"

namespace {

const std::filesystem::path kX9drw = kRealTablesDir / "server-supermicro-x9drw-2s-16dimm-ddr3.rsmb";

// The structure table of the X9DRW's raw block (16 DDR3 modules, length 0x22).
Bytes x9drw_table() {
  const Bytes block = read_file(kX9drw).value_or(Bytes());
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
     "P1-DIMMA1: missing (was Micron Technology 18KSF51272PZ-1G4K, 4 GiB, serial 346C4A12)\n"
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
     "P1-DIMMA1: now in slot P1-DIMMX1 (Micron Technology 18KSF51272PZ-1G4K, 4 GiB, serial "
     "346C4A12)\n"},
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
     "P1-DIMMA1: now in slot P1-DIMMA2 (Micron Technology 18KSF51272PZ-1G4K, 4 GiB, serial "
     "346C4A12)\n"
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
  // Devices 0 and 2 are both Micron Technology 18KSF51272PZ-1G4K.
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
  EXPECT_EQ(
      r.out,
      "P1-DIMMA1: missing (was Micron Technology 18KSF51272PZ-1G4K, 4 GiB, serial XXXXXXXX)\n"
      "P1-DIMMX1: new module (Micron Technology 18KSF51272PZ-1G4K, 4 GiB, serial XXXXXXXX)\n");
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
  EXPECT_NE(r.out.find("\nraminfo_baseline_readable 1\n"), std::string::npos) << r.out;

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
    // The gauges are still written, saying that the baseline could not be
    // used; the JSON view prints nothing.
    if (*v == '\0') {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find("\nraminfo_baseline_readable 0\n"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("\nraminfo_smbios_readable 1\n"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("raminfo_baseline_modules_"), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.err.rfind("raminfo: cannot use the baseline " + path + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Compare, BadBaselineTest, testing::ValuesIn(kBadBaselines),
                         [](const testing::TestParamInfo<BadBaseline>& info) {
                           return std::string(info.param.name);
                         });

// With --output, a baseline that cannot be used still replaces the gauges,
// so that the counts of an earlier run do not stay behind for an alert.
TEST(CompareGauges, MissingBaselineStillWritesTheGauges) {
  const TempDir dir;
  Dimm dimm = ddr4_dimm();
  const std::string t = dir.write("DMI", table({dimm.with(ddr4_strings()), end_of_table()}));
  const std::string prom = dir.path() + "/raminfo.prom";
  const std::string stale = "raminfo_baseline_modules_missing 0\n";
  dir.write("raminfo.prom", Bytes(stale.begin(), stale.end()));
  const CliResult r = run_cli({"--prometheus", "--from-dump", t, "--compare",
                               dir.path() + "/absent.json", "--output", prom});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
  const std::string written = file_text(prom);
  EXPECT_NE(written.find("\nraminfo_baseline_readable 0\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\nraminfo_modules_populated 1\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("raminfo_baseline_modules_"), std::string::npos) << written;
}

// The structure table and version bytes of a real table, and the dmidecode
// dump that holds the same table, so that an edited copy can be written in
// both layouts.
struct RealTable {
  std::string name;
  Bytes rsmb_header, dmi_header, table;
};

std::vector<RealTable> real_tables() {
  std::vector<RealTable> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(RAMINFO_DUMPS_DIR, ec)) {
    if (e.path().extension() != ".rsmb") continue;
    const Bytes rsmb = read_file(e.path()).value_or(Bytes());
    Bytes dmi =
        read_file(std::filesystem::path(e.path()).replace_extension(".dmi")).value_or(Bytes());
    if (rsmb.size() < 8 || dmi.size() < 32) continue;
    // The .dmi holds the same table after its 32-byte head.
    EXPECT_TRUE(std::equal(rsmb.begin() + 8, rsmb.end(), dmi.begin() + 32, dmi.end())) << e.path();
    out.push_back({e.path().stem().string(), Bytes(rsmb.begin(), rsmb.begin() + 8),
                   Bytes(dmi.begin(), dmi.begin() + 32), Bytes(rsmb.begin() + 8, rsmb.end())});
  }
  std::sort(out.begin(), out.end(),
            [](const RealTable& a, const RealTable& b) { return a.name < b.name; });
  return out;
}

Bytes joined(const Bytes& head, const Bytes& t) {
  Bytes out = head;
  out.insert(out.end(), t.begin(), t.end());
  return out;
}

// systemd's dmi_memory_id, the decoder behind udev's entry; "" without it.
std::string udev_decoder() {
  static const std::string path = [] {
    std::string p = command_output(std::string("'") + RAMINFO_SOURCE_DIR +
                                   "/scripts/udev-decoder' 2>/dev/null");
    while (!p.empty() && p.back() == '\n') p.pop_back();
    return p;
  }();
  return path;
}

// The raw block raminfo rebuilds from the entry udev would store for this
// dmidecode dump; empty when the entry holds no memory device.
Bytes udev_rebuild_of(const std::string& dmi_path) {
  const std::string properties = command_output("'" + udev_decoder() + "' -F '" + dmi_path + "'");
  std::string entry = "I:5123456\n";
  size_t pos = 0;
  while (pos < properties.size()) {
    const size_t end = properties.find('\n', pos);
    entry += "E:" + properties.substr(pos, end - pos) + "\n";
    pos = end == std::string::npos ? properties.size() : end + 1;
  }
  udev_rebuild r;
  return udev_entry_to_block(entry, &r) ? r.block : Bytes();
}

// The memory devices in the reverse of their table order, every other
// structure where it was.
Bytes devices_reversed(const Bytes& t) {
  const std::vector<size_t> d = devices(t);
  Bytes out(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(d.empty() ? t.size() : d[0]));
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t p : d) spans.push_back({p, structure_end(t, p)});
  // Structures between the devices keep their places among them.
  for (size_t i = 0; i < spans.size(); ++i) {
    const auto& take = spans[spans.size() - 1 - i];
    out.insert(out.end(), t.begin() + static_cast<std::ptrdiff_t>(take.first),
               t.begin() + static_cast<std::ptrdiff_t>(take.second));
    const size_t gap_end = i + 1 < spans.size() ? spans[i + 1].first : t.size();
    out.insert(out.end(), t.begin() + static_cast<std::ptrdiff_t>(spans[i].second),
               t.begin() + static_cast<std::ptrdiff_t>(gap_end));
  }
  return out;
}

// Saves a baseline of the table (plain and --detail) and compares the same
// machine read another way with it: nothing may differ.
void expect_no_difference(const TempDir& dir, const Bytes& baseline_block, const Bytes& other_block,
                          const std::string& what) {
  const std::string before = dir.write("before.rsmb", baseline_block);
  const std::string after = dir.write("after.rsmb", other_block);
  for (const char* kind : {"", "--detail"}) {
    SCOPED_TRACE(what + (*kind != '\0' ? " --detail" : " plain"));
    const std::string baseline = dir.path() + "/baseline.json";
    std::vector<std::string> save = {"--from-dump", before, "--output", baseline};
    if (*kind != '\0') save.push_back(kind);
    ASSERT_EQ(run_cli(save).exit_code, 0);
    const CliResult r = run_cli({"--from-dump", after, "--compare", baseline});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // A table named broken warns that it breaks before any memory device.
    if (what.find("broken-table") != std::string::npos)
      EXPECT_NE(r.err.find(": table broken: "), std::string::npos) << r.err;
    else
      EXPECT_EQ(r.err, "");
  }
}

// For every real table: a baseline saved as root from the firmware agrees
// with the same table in another order, and with the devices rebuilt from
// udev's entry (what raminfo reads without root).
TEST(CompareRealTables, SameMachineReadAnotherWayChangesNothing) {
  const std::vector<RealTable> tables = real_tables();
  ASSERT_FALSE(tables.empty()) << "no real tables in " << RAMINFO_DUMPS_DIR;
  ASSERT_NE(udev_decoder(), "") << "systemd's dmi_memory_id is absent (scripts/udev-decoder)";
  for (const RealTable& real : tables) {
    const TempDir dir;
    const Bytes block = joined(real.rsmb_header, real.table);
    expect_no_difference(dir, block, joined(real.rsmb_header, devices_reversed(real.table)),
                         real.name + " in reverse device order");
    const Bytes rebuilt = udev_rebuild_of(dir.write("t.dmi", joined(real.dmi_header, real.table)));
    if (rebuilt.empty()) {
      // The Hyper-V table breaks before its devices: udev's entry has none,
      // and there is nothing to compare.
      EXPECT_TRUE(devices(real.table).empty() || real.name.find("hyperv") != std::string::npos)
          << real.name << ": udev's decoder found no device";
      continue;
    }
    expect_no_difference(dir, block, rebuilt, real.name + " rebuilt from udev's entry");
  }
}

// A --detail baseline saved before the positions, mapped addresses,
// configuration and findings existed compares as one saved now; and those
// keys are no part of the comparison, so a baseline whose findings differ
// (a module added later, say, on the same slots) still matches.
TEST(CompareRealTables, TheSetupKeysNeitherBreakNorChangeAComparison) {
  const std::vector<RealTable> tables = real_tables();
  ASSERT_FALSE(tables.empty()) << "no real tables in " << RAMINFO_DUMPS_DIR;
  for (const RealTable& real : tables) {
    SCOPED_TRACE(real.name);
    const TempDir dir;
    const std::string table = dir.write("t.rsmb", joined(real.rsmb_header, real.table));
    const CliResult saved = run_cli({"--detail", "--from-dump", table});
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    const nlohmann::json now = nlohmann::json::parse(saved.out);
    nlohmann::json older = now, other = now;
    for (const char* key : {"configuration", "mapped_addresses", "findings"}) older.erase(key);
    for (auto& d : older["devices"]) d.erase("position");
    other["configuration"]["channels_total"] = 99;
    other["findings"] = nlohmann::json::array({{{"code", "channels_unused"},
                                                {"severity", "warning"},
                                                {"message", "m"},
                                                {"devices", {0}}}});
    for (auto& d : other["devices"]) d["position"] = nullptr;
    for (const auto& [name, doc] : {std::pair{"older", older}, std::pair{"other", other}}) {
      const std::string text = doc.dump();
      const CliResult r = run_cli(
          {"--from-dump", table, "--compare", dir.write(name, Bytes(text.begin(), text.end()))});
      EXPECT_EQ(r.exit_code, 0) << name << ": " << r.err;
      EXPECT_EQ(r.out, "") << name;
    }
  }
}

// What udev's entry loses of a table, each on a real table edited to show
// it: a baseline saved from the firmware still matches the rebuild.
struct UdevLoss {
  const char* name;
  const char* table;  // the real table's name
  void (*apply)(Bytes* t);
};

const UdevLoss kUdevLosses[] = {
    {"leading_spaces_in_part_and_serial", "server-supermicro-x9drw-2s-16dimm-ddr3",
     [](Bytes* t) {
       replace_text(t, devices(*t)[0], "346C4A12", "  346C4A");
       replace_text(t, devices(*t)[0], "18KSF51272PZ-1G4K", " 18KSF51272PZ-1G4");
     }},
    {"locator_not_utf8", "server-supermicro-x9drw-2s-16dimm-ddr3",
     [](Bytes* t) {
       replace_text(t, devices(*t)[0], "P1-DIMMA1",
                    "P1-DIMM\xFC"
                    "1");
     }},
    {"locator_with_del", "server-supermicro-x9drw-2s-16dimm-ddr3",
     [](Bytes* t) {
       replace_text(t, devices(*t)[1], "P1-DIMMA2",
                    "P1-DIMM\x7F"
                    "2");
     }},
    {"serial_with_a_control_byte", "server-supermicro-x9drw-2s-16dimm-ddr3",
     [](Bytes* t) {
       replace_text(t, devices(*t)[2], "346C4A0C",
                    "346C\x01"
                    "A0C");
     }},
    // The memory array becomes video memory (Use 04h, DSP0134 7.17.2): udev's
    // entry keeps its devices and loses the array, so they turn into system
    // memory.
    {"array_of_video_memory", "server-asrockrack-x570d4u-ddr4-32g-extended-size",
     [](Bytes* t) {
       for (size_t p = 0; p + 4 <= t->size() && (*t)[p] != 127; p = structure_end(*t, p))
         if ((*t)[p] == 16) (*t)[p + 0x05] = 0x04;
     }},
    // udev's decoder keeps bit 31 in the size it writes.
    {"extended_size_reserved_bit", "server-asrockrack-x570d4u-ddr4-32g-extended-size",
     [](Bytes* t) {
       for (size_t d : devices(*t))
         if ((*t)[d + 0x0C] == 0xFF && (*t)[d + 0x0D] == 0x7F) (*t)[d + 0x1F] |= 0x80;
     }},
};

class UdevLossTest : public testing::TestWithParam<UdevLoss> {};

TEST_P(UdevLossTest, BaselineFromTheFirmwareMatchesTheRebuild) {
  ASSERT_NE(udev_decoder(), "") << "systemd's dmi_memory_id is absent (scripts/udev-decoder)";
  for (const RealTable& real : real_tables()) {
    if (real.name != GetParam().table) continue;
    Bytes t = real.table;
    GetParam().apply(&t);
    ASSERT_NE(t, real.table);
    const TempDir dir;
    const Bytes rebuilt = udev_rebuild_of(dir.write("t.dmi", joined(real.dmi_header, t)));
    ASSERT_FALSE(rebuilt.empty());
    expect_no_difference(dir, joined(real.rsmb_header, t), rebuilt, GetParam().name);
    return;
  }
  FAIL() << GetParam().table << " is not in " << RAMINFO_DUMPS_DIR;
}

INSTANTIATE_TEST_SUITE_P(RealTables, UdevLossTest, testing::ValuesIn(kUdevLosses),
                         [](const testing::TestParamInfo<UdevLoss>& info) {
                           return std::string(info.param.name);
                         });

// The ASRock Rack X570D4U names a slot "DIMM 1" in channels A and B; the two
// structures in the other order are the same machine.
TEST(CompareRealTables, RepeatedSlotNameInTheOtherOrder) {
  for (const RealTable& real : real_tables()) {
    if (real.name != "server-asrockrack-x570d4u-ddr4-32g-extended-size") continue;
    Bytes t = real.table;
    std::vector<size_t> dimm1;
    for (size_t d : devices(t)) {
      const std::string rest(t.begin() + static_cast<std::ptrdiff_t>(d + t[d + 1]),
                             t.begin() + static_cast<std::ptrdiff_t>(structure_end(t, d)));
      if (rest.find(std::string("DIMM 1\0", 7)) != std::string::npos) dimm1.push_back(d);
    }
    ASSERT_EQ(dimm1.size(), 2u);
    const size_t a = dimm1[0], a_end = structure_end(t, a);
    const size_t b = dimm1[1], b_end = structure_end(t, b);
    Bytes swapped(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(a));
    swapped.insert(swapped.end(), t.begin() + static_cast<std::ptrdiff_t>(b),
                   t.begin() + static_cast<std::ptrdiff_t>(b_end));
    swapped.insert(swapped.end(), t.begin() + static_cast<std::ptrdiff_t>(a_end),
                   t.begin() + static_cast<std::ptrdiff_t>(b));
    swapped.insert(swapped.end(), t.begin() + static_cast<std::ptrdiff_t>(a),
                   t.begin() + static_cast<std::ptrdiff_t>(a_end));
    swapped.insert(swapped.end(), t.begin() + static_cast<std::ptrdiff_t>(b_end), t.end());
    ASSERT_EQ(swapped.size(), t.size());
    const TempDir dir;
    expect_no_difference(dir, joined(real.rsmb_header, t), joined(real.rsmb_header, swapped),
                         "DIMM 1 structures swapped");
    return;
  }
  FAIL() << "the ASRock Rack X570D4U table is not in " << RAMINFO_DUMPS_DIR;
}

std::string big_slot(int i) {
  char slot[40];
  std::snprintf(slot, sizeof slot, "CPU%d_DIMM_%02d", i / 48, i % 48);
  return slot;
}

std::string big_serial(int i) {
  char serial[40];
  std::snprintf(serial, sizeof serial, "4A%06X", 0x1000 + i);
  return serial;
}

// A server with 96 populated modules: the library's report stops at 16 KiB.
Bytes ninety_six_modules(int emptied = -1) {
  std::vector<Bytes> pieces;
  for (int i = 0; i < 96; ++i) {
    Dimm d = ddr4_dimm();
    if (i == emptied) d.size = 0;
    pieces.push_back(d.with({big_slot(i), "Samsung", big_serial(i), "M393A2K43BB1-CTD"}));
  }
  pieces.push_back(end_of_table());
  return raw_block(table(pieces), 3, 2);
}

TEST(CutReport, PlainReportWarnsAndDetailListsAll) {
  const TempDir dir;
  const std::string t = dir.write("big.rsmb", ninety_six_modules());
  const CliResult plain = run_cli({"--from-dump", t});
  EXPECT_EQ(plain.exit_code, 0);
  const size_t listed =
      static_cast<size_t>(std::count(plain.out.begin(), plain.out.end(), '{') - 1);
  ASSERT_LT(listed, 96u);
  EXPECT_GT(listed, 60u);
  EXPECT_EQ(plain.err, "raminfo: warning: the report lists " + std::to_string(listed) +
                           " of 96 devices (16 KiB limit); --detail lists all\n");
  // The warning goes with --output too, where a baseline is saved.
  const std::string saved = dir.path() + "/report.json";
  const CliResult to_file = run_cli({"--from-dump", t, "--output", saved});
  EXPECT_EQ(to_file.exit_code, 0);
  EXPECT_EQ(to_file.err, plain.err);
  EXPECT_EQ(file_text(saved), plain.out);
  const CliResult detail = run_cli({"--from-dump", t, "--detail"});
  EXPECT_EQ(detail.exit_code, 0);
  EXPECT_EQ(detail.err, "");
}

// A cut plain baseline is refused: it cannot tell a module that went missing
// from one it never listed. A --detail baseline lists every module.
TEST(CutReport, CutBaselineRefusedDetailBaselineComparesAll) {
  const TempDir dir;
  const std::string t = dir.write("big.rsmb", ninety_six_modules());
  const std::string plain = dir.path() + "/plain.json", detail = dir.path() + "/detail.json";
  ASSERT_EQ(run_cli({"--from-dump", t, "--output", plain}).exit_code, 0);
  ASSERT_EQ(run_cli({"--from-dump", t, "--output", detail, "--detail"}).exit_code, 0);
  for (int emptied : {-1, 10, 90}) {
    SCOPED_TRACE(emptied);
    const std::string now = dir.write("now.rsmb", ninety_six_modules(emptied));
    for (const char* view : {"", "--prometheus"}) {
      std::vector<std::string> args = {"--from-dump", now, "--compare", plain};
      if (*view != '\0') args.push_back(view);
      const CliResult r = run_cli(args);
      EXPECT_EQ(r.exit_code, 1) << view;
      EXPECT_EQ(r.err.rfind("raminfo: cannot use the baseline " + plain + ": ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find("--detail"), std::string::npos) << r.err;
      if (*view == '\0')
        EXPECT_EQ(r.out, "");
      else
        EXPECT_NE(r.out.find("\nraminfo_baseline_readable 0\n"), std::string::npos);
    }
    const CliResult r = run_cli({"--from-dump", now, "--compare", detail});
    EXPECT_EQ(r.exit_code, emptied < 0 ? 0 : 3) << r.err;
    EXPECT_EQ(r.out, emptied < 0 ? ""
                                 : big_slot(emptied) + ": missing (was Samsung M393A2K43BB1-CTD, " +
                                       "16 GiB, serial " + big_serial(emptied) +
                                       ")\ntotal 1536 GiB → 1520 GiB\n");
  }
}

}  // namespace
