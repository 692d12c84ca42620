// raminfo with --sysfs-root over EDAC trees built in a temporary directory
// and real tables: which device each module's counts land on, in the detail
// document, the Prometheus counters and the table, and what stays
// unavailable (never 0).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "edac_tree.h"
#include "files.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;

const std::string kX9drw =
    (kRealTablesDir / "server-supermicro-x9drw-2s-16dimm-ddr3.rsmb").string();
const std::string kX570 =
    (kRealTablesDir / "server-asrockrack-x570d4u-ddr4-32g-extended-size.rsmb").string();

// The X9DRW's sixteen devices (dmidecode -t 17): bank "P0_Node0_Channel0_Dimm0",
// device "P1-DIMMA1", and so on, two slots per channel, four channels per socket.
std::string x9_bank(size_t i) {
  const size_t cpu = i / 8;
  return "P" + std::to_string(cpu) + "_Node" + std::to_string(cpu) + "_Channel" +
         std::to_string((i / 2) % 4) + "_Dimm" + std::to_string(i % 2);
}
std::string x9_device(size_t i) {
  return "P" + std::to_string(i / 8 + 1) + "-DIMM" + std::string(1, "ABCDEFGH"[i / 2]) +
         std::to_string(i % 2 + 1);
}

// The label file naming the X9DRW's slots by sb_edac's positions: one
// controller per socket, then channel and slot.
std::string x9_label_file() {
  std::string s = "# Supermicro X9DRW, silk-screen names\nVendor: Supermicro\n  Model: X9DRW\n";
  for (size_t i = 0; i < 16; ++i)
    s += "    " + x9_device(i) + ": " + std::to_string(i / 8) + "." + std::to_string((i / 2) % 4) +
         "." + std::to_string(i % 2) + ";" + (i % 2 ? "\n" : " ");
  return s;
}

struct Case {
  const char* name;
  const std::string* table;
  void (*build)(const edac_tree& t);
  std::string label_file;  // empty: none given
  // Per device of the detail document, "CE/UE/matched_by/edac,edac" with
  // "null" for an unknown count, or "-" for errors null.
  std::vector<std::string> devices;
  // "edac/label/CE/UE" per unmatched module.
  std::vector<std::string> unmatched;
  // What stderr must name, and must not hold.
  std::string note;
  // A reason when the counts are unavailable.
  std::string reason;
};

std::vector<std::string> dashes(size_t n) { return std::vector<std::string>(n, "-"); }

std::vector<std::string> x9_firmware_first_expected() {
  std::vector<std::string> d;
  for (size_t i = 0; i < 16; ++i)
    d.push_back(std::to_string(i * 7) + "/" + std::to_string(i % 3) + "/label/mc0/dimm" +
                std::to_string(i));
  return d;
}

std::vector<std::string> x9_driver_expected() {
  std::vector<std::string> d;
  for (size_t i = 0; i < 16; ++i)
    d.push_back(std::to_string(100 + i) + "/0/label_file/mc" + std::to_string(i / 8) + "/dimm" +
                std::to_string(i % 8));
  return d;
}

// sb_edac's modules on the X9DRW: mcS/dimmN for socket S, channel N/2, slot N%2.
void x9_driver_tree(const edac_tree& t) {
  for (unsigned mc = 0; mc < 2; ++mc) {
    t.controller(mc, 0, 0);
    for (unsigned n = 0; n < 8; ++n)
      t.module_dir(mc, "dimm" + std::to_string(n),
                   module("CPU_SrcID#" + std::to_string(mc) + "_Ha#0_Chan#" +
                              std::to_string(n / 2) + "_DIMM#" + std::to_string(n % 2),
                          "channel " + std::to_string(n / 2) + " slot " + std::to_string(n % 2),
                          100 + mc * 8 + n, 0));
  }
}

// sb_edac on the X9DRW under a kernel from 3.5 to 4.9: module directories
// dimm(3C+S) for channel C, slot S, with their labels and places but no
// counts, and the counts in csrowS/chC (the row advances first), as device
// 8 * socket + 2C + S counts 100 + that.
void x9_old_kernel_tree(const edac_tree& t) {
  for (unsigned mc = 0; mc < 2; ++mc) {
    t.controller(mc, 0, 0);
    std::vector<edac_tree::row_channel> rows[2];
    for (unsigned c = 0; c < 4; ++c)
      for (unsigned s = 0; s < 2; ++s) {
        const std::string label = "CPU_SrcID#" + std::to_string(mc) + "_Ha#0_Chan#" +
                                  std::to_string(c) + "_DIMM#" + std::to_string(s);
        module_files f =
            module(label, "channel " + std::to_string(c) + " slot " + std::to_string(s), 0, 0);
        f.ce.reset();
        f.ue.reset();
        t.module_dir(mc, "dimm" + std::to_string(3 * c + s), f);
        rows[s].push_back({c, label, 100 + mc * 8 + c * 2 + s, std::nullopt});
      }
    for (unsigned s = 0; s < 2; ++s) t.csrow(mc, s, rows[s]);
  }
}

std::vector<std::string> x9_driver_unmatched() {
  std::vector<std::string> u;
  for (unsigned i = 0; i < 16; ++i)
    u.push_back("mc" + std::to_string(i / 8) + "/dimm" + std::to_string(i % 8) + "/CPU_SrcID#" +
                std::to_string(i / 8) + "_Ha#0_Chan#" + std::to_string((i % 8) / 2) + "_DIMM#" +
                std::to_string(i % 2) + "/" + std::to_string(100 + i) + "/0");
  return u;
}

const Case kCases[] = {
    {"a_firmware_first_labels",
     &kX9drw,
     [](const edac_tree& t) {
       t.controller(0, 2, 0);
       for (size_t i = 0; i < 16; ++i)
         t.module_dir(
             0, "dimm" + std::to_string(i),
             module(x9_bank(i) + " " + x9_device(i), "memory " + std::to_string(i), i * 7, i % 3));
     },
     "",
     x9_firmware_first_expected(),
     {},
     "",
     ""},
    // As the kernel shows them: "P0_Node0_Channel0_Dimm0 P1-DIMMA1" is 33
    // bytes, of which it keeps 31.
    {"a_firmware_first_labels_cut_by_the_kernel",
     &kX9drw,
     [](const edac_tree& t) {
       t.controller(0, 2, 0);
       for (size_t i = 0; i < 16; ++i)
         t.module_dir(0, "dimm" + std::to_string(i),
                      module((x9_bank(i) + " " + x9_device(i)).substr(0, 31),
                             "memory " + std::to_string(i), i * 7, i % 3));
     },
     "",
     x9_firmware_first_expected(),
     {},
     "",
     ""},
    {"b_driver_labels_and_a_label_file",
     &kX9drw,
     x9_driver_tree,
     x9_label_file(),
     x9_driver_expected(),
     {},
     "",
     ""},
    {"b_driver_labels_without_a_label_file_are_listed", &kX9drw, x9_driver_tree, "", dashes(16),
     x9_driver_unmatched(), "", ""},
    {"b_old_kernel_row_files_and_a_label_file",
     &kX9drw,
     x9_old_kernel_tree,
     x9_label_file(),
     [] {
       std::vector<std::string> d;
       for (size_t i = 0; i < 16; ++i)
         d.push_back(std::to_string(100 + i) + "/null/label_file/mc" + std::to_string(i / 8) +
                     "/csrow" + std::to_string(i % 2) + "/ch" + std::to_string((i % 8) / 2));
       return d;
     }(),
     {},
     "per-row files used",
     ""},
    {"c_two_ranks_per_module_summed",
     &kX570,
     [](const edac_tree& t) {
       // amd64_edac: a rank per chip select and channel, the core's labels.
       t.controller(0);
       for (unsigned r = 0; r < 4; ++r)
         t.module_dir(
             0, "rank" + std::to_string(r),
             module("mc#0csrow#" + std::to_string(r / 2) + "channel#" + std::to_string(r % 2),
                    "csrow " + std::to_string(r / 2) + " channel " + std::to_string(r % 2), r + 1,
                    r == 3 ? 1 : 0, 16384));
     },
     "Vendor: ASRockRack\nModel: X570D4U\nP0 CHANNEL A DIMM 1: 0.0.0, 0.1.0;\n"
     "P0 CHANNEL B DIMM 1: 0.0.1; P0 CHANNEL B DIMM 1: 0.1.1;\n",
     {"-", "4/0/label_file/mc0/rank0,mc0/rank2", "-", "6/1/label_file/mc0/rank1,mc0/rank3"},
     {},
     "",
     ""},
    {"d_per_row_layout_without_ue_counts",
     &kX9drw,
     [](const edac_tree& t) {
       t.controller(0);
       t.csrow(0, 0, {{0, "P1-DIMMA1", 3, std::nullopt}, {1, "P1-DIMMB1", 0, std::nullopt}});
       t.csrow(0, 1, {{0, "P1-DIMMA2", 5, std::nullopt}});
     },
     "",
     [] {
       std::vector<std::string> d = dashes(16);
       d[0] = "3/null/label/mc0/csrow0/ch0";
       d[1] = "5/null/label/mc0/csrow1/ch0";
       d[2] = "0/null/label/mc0/csrow0/ch1";
       return d;
     }(),
     {},
     "",
     ""},
    {"e_no_controllers",
     &kX9drw,
     [](const edac_tree& t) { t.dir("devices/system/edac/mc"); },
     "",
     dashes(16),
     {},
     "",
     "no EDAC driver loaded"},
    {"e_no_edac_at_all",
     &kX9drw,
     [](const edac_tree& t) { t.dir("devices/system"); },
     "",
     dashes(16),
     {},
     "",
     "no EDAC in this kernel"},
    {"f_unmatched_and_ambiguous_labels",
     &kX570,
     [](const edac_tree& t) {
       t.controller(0, 0, 4);
       t.module_dir(0, "dimm0", module("P0 CHANNEL A DIMM 1", "channel 0 slot 1", 9, 0));
       // Both channels have a "DIMM 1": the label matches neither.
       t.module_dir(0, "dimm1", module("DIMM 1", "channel 1 slot 1", 2, 0));
       t.module_dir(0, "dimm2", module("P9 CHANNEL Z DIMM 9", "channel 2 slot 0", 0, 3));
     },
     "",
     {"-", "9/0/label/mc0/dimm0", "-", "-"},
     {"mc0/dimm1/DIMM 1/2/0", "mc0/dimm2/P9 CHANNEL Z DIMM 9/0/3"},
     "\"DIMM 1\"",
     ""},
    // The kernel counts on a module the table calls an empty slot (a table
    // not updated, or a module the firmware missed): the slot's counts, in
    // every view that shows counts.
    {"h_counts_on_an_empty_slot",
     &kX570,
     [](const edac_tree& t) {
       t.controller(0);
       t.module_dir(0, "dimm0", module("P0 CHANNEL B DIMM 0", "channel 1 slot 0", 7, 1));
       t.module_dir(0, "dimm1", module("P0 CHANNEL B DIMM 1", "channel 1 slot 1", 2, 0));
     },
     "",
     {"-", "-", "7/1/label/mc0/dimm0", "2/0/label/mc0/dimm1"},
     {},
     "",
     ""},
    {"g_garbage_values",
     &kX9drw,
     [](const edac_tree& t) {
       t.controller(0);
       module_files bad = module(x9_bank(0) + " " + x9_device(0), "memory 0", 0, 0);
       bad.ce = "lots\n";
       bad.ue = "-1\n";
       t.module_dir(0, "dimm0", bad);
       // A label with a terminal escape: no device, and no escape on stderr.
       module_files escape = module("\x1b[2J" + x9_device(1) + "\a", "memory 1", 1, 0);
       t.module_dir(0, "dimm1", escape);
       t.module_dir(0, "dimm2", module(x9_bank(2) + " " + x9_device(2), "memory 2", 4, 0));
       t.remove("devices/system/edac/mc/mc0/dimm2/dimm_ue_count");
       t.dir("devices/system/edac/mc/mc0/dimm2/dimm_ue_count");
       t.module_dir(0, "dimm3", module(x9_bank(3) + " " + x9_device(3), "memory 3", 8, 1));
       t.symlink("devices/system/edac/mc/mc0/dimm3/loop", "..");
       t.file("devices/system/edac/mc/mc0/ce_noinfo_count", "\xff\xfe\n");
     },
     "",
     [] {
       std::vector<std::string> d = dashes(16);
       d[0] = "null/null/label/mc0/dimm0";
       d[2] = "4/null/label/mc0/dimm2";
       d[3] = "8/1/label/mc0/dimm3";
       return d;
     }(),
     {"mc0/dimm1/?[2JP1-DIMMA2?/1/0"},
     "dimm_ce_count",
     ""},
};

std::string count(const json& v) {
  return v.is_null() ? "null" : std::to_string(v.get<uint64_t>());
}

std::string device_summary(const json& e) {
  if (e.is_null()) return "-";
  std::string edac;
  for (const json& n : e["edac"]) edac += (edac.empty() ? "" : ",") + n.get<std::string>();
  return count(e["corrected"]) + "/" + count(e["uncorrected"]) + "/" +
         e["matched_by"].get<std::string>() + "/" + edac;
}

// Control bytes as the printable rule shows them, for the comparison.
std::string shown(const json& label) {
  std::string s = label.is_null() ? "null" : label.get<std::string>();
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

bool has_promtool() { return std::system("command -v promtool >/dev/null 2>&1") == 0; }

class EdacCli : public testing::TestWithParam<Case> {};

TEST_P(EdacCli, DetailPrometheusAndTable) {
  const Case& c = GetParam();
  edac_tree tree;
  c.build(tree);
  TempDir dir;
  std::vector<std::string> extra = {"--from-dump", *c.table, "--sysfs-root", tree.root()};
  if (!c.label_file.empty())
    extra.insert(
        extra.end(),
        {"--dimm-labels", dir.write("labels.db", Bytes(c.label_file.begin(), c.label_file.end()))});
  const auto with = [&extra](std::vector<std::string> args) {
    args.insert(args.end(), extra.begin(), extra.end());
    return run_cli(args);
  };

  const CliResult detail = with({"--detail"});
  ASSERT_EQ(detail.exit_code, 0) << detail.err;
  if (!c.note.empty()) {
    EXPECT_NE(detail.err.find(c.note), std::string::npos) << detail.err;
  }
  EXPECT_EQ(detail.err.find('\x1b'), std::string::npos) << "stderr is not printable";
  const json doc = json::parse(detail.out);
  const json& m = doc["memory_errors"];
  EXPECT_EQ(m["source"], "edac");
  EXPECT_EQ(m["available"], c.reason.empty()) << m.dump();
  EXPECT_EQ(m["reason"], c.reason.empty() ? json(nullptr) : json(c.reason));
  std::vector<std::string> devices, unmatched;
  for (const json& d : doc["devices"]) devices.push_back(device_summary(d["errors"]));
  for (const json& u : m["unmatched"])
    unmatched.push_back(u["edac"].get<std::string>() + "/" + shown(u["label"]) + "/" +
                        count(u["corrected"]) + "/" + count(u["uncorrected"]));
  EXPECT_EQ(devices, c.devices);
  EXPECT_EQ(unmatched, c.unmatched);

  // The documents are valid under the schema.
  const std::string saved = dir.write("detail.json", Bytes(detail.out.begin(), detail.out.end()));
  const std::string validate = std::string("python3 ") + RAMINFO_SOURCE_DIR +
                               "/test/detail/validate_detail.py " + RAMINFO_SOURCE_DIR +
                               "/docs/raminfo-detail.schema.json cat -- " + saved + " >/dev/null";
  EXPECT_EQ(std::system(validate.c_str()), 0) << detail.out;

  // Prometheus: the counters of the joined modules with their identity (the
  // bank too, since boards repeat slot names), unknown counts left out.
  const CliResult prom = with({"--prometheus"});
  ASSERT_EQ(prom.exit_code, 0) << prom.err;
  EXPECT_NE(prom.out.find(std::string("\nraminfo_memory_errors_available ") +
                          (c.reason.empty() ? "1" : "0") + "\n"),
            std::string::npos)
      << prom.out;
  for (size_t i = 0; i < doc["devices"].size(); ++i) {
    const json& e = doc["devices"][i]["errors"];
    if (e.is_null() || e["corrected"].is_null()) continue;
    const std::string slot = doc["devices"][i]["locator"]["raw"].get<std::string>();
    const json& bank = doc["devices"][i]["bank_locator"]["raw"];
    const std::string line = "raminfo_module_corrected_errors_total{index=\"" + std::to_string(i) +
                             "\",slot=\"" + slot + "\",bank=\"" +
                             (bank.is_null() ? "" : bank.get<std::string>()) + "\",";
    const size_t at = prom.out.find(line);
    ASSERT_NE(at, std::string::npos) << line << "\n" << prom.out;
    const size_t end = prom.out.find('\n', at);
    EXPECT_EQ(prom.out.substr(prom.out.rfind(' ', end) + 1, end - prom.out.rfind(' ', end) - 1),
              count(e["corrected"]));
  }
  if (!c.reason.empty()) {
    EXPECT_EQ(prom.out.find("_errors_total"), std::string::npos) << "unavailable is never 0";
  }
  for (const json& u : m["unmatched"])
    EXPECT_NE(prom.out.find("raminfo_memory_errors_unmatched_total{edac=\"" +
                            u["edac"].get<std::string>() + "\""),
              std::string::npos);
  if (has_promtool()) {
    const std::string p = dir.write("raminfo.prom", Bytes(prom.out.begin(), prom.out.end()));
    EXPECT_EQ(std::system(("promtool check metrics < " + p).c_str()), 0) << prom.out;
  } else {
    ADD_FAILURE() << "promtool is absent (scripts/deps installs it)";
  }

  // The table: CE and UE columns only with counts, "-" where nothing joined,
  // and a closing line for modules no device took.
  const CliResult table = with({"--table"});
  ASSERT_EQ(table.exit_code, 0) << table.err;
  const std::string head = table.out.substr(0, table.out.find('\n'));
  EXPECT_EQ(head.find(" CE ") != std::string::npos, c.reason.empty()) << head;
  std::set<std::string> slots;
  bool repeated = false;
  for (const json& d : doc["devices"])
    repeated = !slots.insert(d["locator"]["raw"].get<std::string>()).second || repeated;
  EXPECT_EQ(head.rfind(repeated ? "SLOT    BANK " : "SLOT ", 0), 0u) << head;
  EXPECT_EQ(table.out.find("joined no device") != std::string::npos, !c.unmatched.empty())
      << table.out;
  const CliResult detail_table = with({"--detail", "--table"});
  ASSERT_EQ(detail_table.exit_code, 0) << detail_table.err;
  EXPECT_EQ(detail_table.out.find(" CE ") != std::string::npos, c.reason.empty())
      << detail_table.out;
}

INSTANTIATE_TEST_SUITE_P(Trees, EdacCli, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

// The HP Z600's table lists its system ROM as a memory device: counts a
// label joins to it are shown by --table and --detail, and so by the
// counters, with its slot named.
TEST(EdacCli, CountsOnADeviceThatIsNotSystemMemory) {
  const std::string name = "workstation-hp-z600-2s-ddr3-plus-flash-rom-device";
  SKIP_IF_REAL_TABLE_ABSENT(name);
  const std::string z600 = (kRealTablesDir / (name + ".rsmb")).string();
  edac_tree tree;
  tree.controller(0);
  tree.module_dir(0, "dimm0", module("SYSTEM ROM", "memory 0", 3, 1));
  tree.module_dir(0, "dimm1", module("CPU0 DIMM3", "memory 1", 4, 0));
  const std::vector<std::string> args = {"--from-dump", z600, "--sysfs-root", tree.root()};
  const auto run = [&args](const char* view) {
    std::vector<std::string> a = {view};
    a.insert(a.end(), args.begin(), args.end());
    return run_cli(a);
  };
  const CliResult prom = run("--prometheus");
  ASSERT_EQ(prom.exit_code, 0) << prom.err;
  for (const char* series :
       {"raminfo_module_corrected_errors_total{index=\"6\",slot=\"SYSTEM ROM\",bank=\"\",",
        "raminfo_module_uncorrected_errors_total{index=\"6\",slot=\"SYSTEM ROM\",bank=\"\",",
        "raminfo_module_corrected_errors_total{index=\"2\",slot=\"CPU0 DIMM3\",bank=\"\",type=\"\","
        "manufacturer=\"\",part_number=\"\",serial=\"\",form_factor=\"\"} 4\n"})
    EXPECT_NE(prom.out.find(series), std::string::npos) << series << "\n" << prom.out;
  EXPECT_EQ(prom.out.find("raminfo_module_size_bytes{index=\"6\""), std::string::npos);
  EXPECT_EQ(prom.out.find("raminfo_memory_errors_unmatched_total{"), std::string::npos);
  EXPECT_NE(prom.out.find("\nraminfo_other_memory_devices 1\n"), std::string::npos);
  const CliResult table = run("--table");
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_NE(table.out.find("SYSTEM ROM"), std::string::npos);
  EXPECT_EQ(table.out.find("joined no device"), std::string::npos) << table.out;
}

// A type 17 structure of 18 bytes is one of --detail's devices but too short
// for --table and --prometheus to list: counts joined to it are shown there
// as joining no listed device, not dropped.
TEST(EdacCli, CountsOnADeviceTheViewsDoNotList) {
  TempDir dir;
  const std::string dump =
      dir.write("short.rsmb",
                raw_block(table({Dimm{.size = 8192, .locator = 1}.with({"DIMM 1"}),
                                 Dimm{.length = 0x12, .size = 8192, .locator = 1}.with({"SHORT 2"}),
                                 end_of_table()})));
  edac_tree tree;
  tree.controller(0);
  tree.module_dir(0, "dimm0", module("DIMM 1", "memory 0", 1, 0));
  tree.module_dir(0, "dimm1", module("SHORT 2", "memory 1", 6, 2));
  const auto run = [&](const std::vector<std::string>& view) {
    std::vector<std::string> a = view;
    a.insert(a.end(), {"--from-dump", dump, "--sysfs-root", tree.root()});
    const CliResult r = run_cli(a);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  };
  const json doc = json::parse(run({"--detail"}));
  ASSERT_EQ(doc["devices"].size(), 2u);
  EXPECT_EQ(doc["devices"][1]["errors"]["corrected"], 6);
  const std::string prom = run({"--prometheus"});
  EXPECT_NE(prom.find("raminfo_memory_errors_unmatched_total{edac=\"mc0/dimm1\",label=\"\","
                      "kind=\"corrected\"} 6\n"),
            std::string::npos)
      << prom;
  EXPECT_NE(prom.find("raminfo_module_corrected_errors_total{index=\"0\",slot=\"DIMM 1\""),
            std::string::npos)
      << prom;
  EXPECT_NE(run({"--table"}).find("1 EDAC module joined no device (CE 6, UE 2)\n"),
            std::string::npos);
}

// A table that cannot be read leaves the EDAC counts readable: the gauges say
// so and carry them as joining no device, so that an alert on errors still
// has them; the exit status still says the table is unreadable.
TEST(EdacCli, UnreadableTableKeepsTheCounts) {
  TempDir dir;
  const std::string unreadable = dir.write("short.rsmb", {0, 3, 2, 0, 0, 0, 0, 0});
  edac_tree tree;
  tree.controller(0, 4, 0);
  tree.module_dir(0, "dimm0", module(x9_bank(0) + " " + x9_device(0), "memory 0", 9, 1));
  const std::string prom = dir.path() + "/raminfo.prom";
  const CliResult r = run_cli(
      {"--prometheus", "--from-dump", unreadable, "--sysfs-root", tree.root(), "--output", prom});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const std::string out = file_text(prom);
  const std::string label = x9_bank(0) + " " + x9_device(0);
  for (const std::string& line : std::vector<std::string>{
           "\nraminfo_smbios_readable 0\n", "\nraminfo_memory_errors_available 1\n",
           "\nraminfo_memory_errors_unmatched_total{edac=\"mc0/dimm0\",label=\"" + label +
               "\",kind=\"corrected\"} 9\n",
           "\nraminfo_memory_errors_unmatched_total{edac=\"mc0/dimm0\",label=\"" + label +
               "\",kind=\"uncorrected\"} 1\n",
           "\nraminfo_memory_errors_unplaced_total{controller=\"mc0\",kind=\"corrected\"} 4\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(out.find("raminfo_module_corrected_errors_total{"), std::string::npos) << out;
  if (has_promtool()) {
    EXPECT_EQ(std::system(("promtool check metrics < " + prom).c_str()), 0) << out;
  } else {
    ADD_FAILURE() << "promtool is absent (scripts/deps installs it)";
  }
  // Without a tree to read, the gauge says the counts are not there.
  const CliResult none = run_cli({"--prometheus", "--from-dump", unreadable});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.out.find("\nraminfo_memory_errors_available 0\n"), std::string::npos) << none.out;
}

// A saved table without --sysfs-root names no tree: no counts, whatever the
// machine running raminfo has, and the views are as they were.
TEST(EdacCli, SavedTableWithoutSysfsRootReadsNoCounts) {
  const CliResult detail = run_cli({"--detail", "--from-dump", kX9drw});
  ASSERT_EQ(detail.exit_code, 0) << detail.err;
  const json doc = json::parse(detail.out);
  EXPECT_EQ(doc["memory_errors"]["available"], false);
  EXPECT_EQ(doc["memory_errors"]["reason"], "the saved table named no tree");
  for (const json& d : doc["devices"]) EXPECT_TRUE(d["errors"].is_null());
  const CliResult table = run_cli({"--table", "--from-dump", kX9drw});
  EXPECT_EQ(table.out.find(" CE "), std::string::npos) << table.out;
  const CliResult prom = run_cli({"--prometheus", "--from-dump", kX9drw});
  EXPECT_NE(prom.out.find("\nraminfo_memory_errors_available 0\n"), std::string::npos);
  EXPECT_EQ(prom.out.find("_errors_total"), std::string::npos);
}

// A baseline saved with yesterday's counts compares as unchanged today: the
// counts are no part of the inventory.
TEST(EdacCli, CompareIgnoresTheCounts) {
  TempDir dir;
  const std::string baseline = dir.path() + "/baseline.json";
  edac_tree before;
  before.controller(0);
  for (size_t i = 0; i < 16; ++i)
    before.module_dir(0, "dimm" + std::to_string(i),
                      module(x9_bank(i) + " " + x9_device(i), "memory " + std::to_string(i), 0, 0));
  const CliResult saved = run_cli(
      {"--detail", "--from-dump", kX9drw, "--sysfs-root", before.root(), "--output", baseline});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  edac_tree after;
  after.controller(0, 5, 1);
  for (size_t i = 0; i < 16; ++i)
    after.module_dir(0, "dimm" + std::to_string(i),
                     module(x9_bank(i) + " " + x9_device(i), "memory " + std::to_string(i), 90, 2));
  const CliResult plain = run_cli({"--compare", baseline, "--from-dump", kX9drw});
  EXPECT_EQ(plain.exit_code, 0) << plain.out << plain.err;
  EXPECT_EQ(plain.out, "");
  const CliResult gauges = run_cli(
      {"--compare", baseline, "--prometheus", "--from-dump", kX9drw, "--sysfs-root", after.root()});
  EXPECT_EQ(gauges.exit_code, 0) << gauges.err;
  EXPECT_NE(gauges.out.find("\nraminfo_baseline_modules_changed 0\n"), std::string::npos)
      << gauges.out;
  EXPECT_NE(gauges.out.find("raminfo_module_corrected_errors_total{index=\"0\""),
            std::string::npos);
}

// A tree handed to --sysfs-root whose attributes are links to a file its
// maker may not read (as root reads it): the file's text reaches no view;
// the attributes are unreadable, with a note, and the rest still counts.
TEST(EdacCli, LinkedAttributesAreNotFollowed) {
  edac_tree tree;
  tree.file("shadow", "root:$6$secret-hash:19000:0:99999:7:::\n");
  tree.file("count", "42\n");
  tree.controller(0);
  const std::string dimm = "devices/system/edac/mc/mc0/dimm";
  for (size_t i = 0; i < 3; ++i)
    tree.module_dir(0, "dimm" + std::to_string(i),
                    module(x9_bank(i) + " " + x9_device(i), "memory " + std::to_string(i), 5, 0));
  tree.remove(dimm + "0/dimm_label");
  tree.symlink(dimm + "0/dimm_label", tree.root() + "/shadow");
  tree.remove(dimm + "1/dimm_ce_count");
  tree.symlink(dimm + "1/dimm_ce_count", "../../../../../../count");
  for (const char* view : {"--detail", "--prometheus", "--table"}) {
    const CliResult r = run_cli({view, "--from-dump", kX9drw, "--sysfs-root", tree.root()});
    ASSERT_EQ(r.exit_code, 0) << view << ": " << r.err;
    EXPECT_EQ(r.out.find("secret-hash"), std::string::npos) << view << ": " << r.out;
    EXPECT_EQ(r.err.find("secret-hash"), std::string::npos) << view << ": " << r.err;
    EXPECT_NE(r.err.find("mc0/dimm0/dimm_label: a symbolic link, so it is not read"),
              std::string::npos)
        << view << ": " << r.err;
    EXPECT_NE(r.err.find("mc0/dimm1/dimm_ce_count: a symbolic link, so it is not read"),
              std::string::npos)
        << view << ": " << r.err;
  }
  const json doc =
      json::parse(run_cli({"--detail", "--from-dump", kX9drw, "--sysfs-root", tree.root()}).out);
  const json& m = doc["memory_errors"];
  ASSERT_EQ(m["unmatched"].size(), 1u) << m.dump();
  EXPECT_EQ(m["unmatched"][0]["edac"], "mc0/dimm0");
  EXPECT_TRUE(m["unmatched"][0]["label"].is_null());
  EXPECT_EQ(m["unmatched"][0]["corrected"], 5);
  EXPECT_TRUE(doc["devices"][1]["errors"]["corrected"].is_null()) << "never the linked 42";
  EXPECT_EQ(doc["devices"][2]["errors"]["corrected"], 5);
}

// Counts near 2^64 on modules that join no device and on two controllers:
// the closing line's sums stop at 2^64 - 1 rather than wrap to small ones.
// A tree with a bad file in every module gives a bounded number of notes.
TEST(EdacCli, SumsSaturateAndNotesAreBounded) {
  const std::string max = "18446744073709551615";
  edac_tree tree;
  tree.controller(0, UINT64_MAX, 1);
  tree.controller(1, 2, UINT64_MAX);
  tree.module_dir(0, "dimm0", module("nowhere 0", "memory 0", UINT64_MAX, 3));
  tree.module_dir(0, "dimm1", module("nowhere 1", "memory 1", 5, UINT64_MAX));
  module_files bad = module("nowhere", "memory 9", 0, 0);
  bad.size = "lots\n";
  for (unsigned n = 0; n < 80; ++n) tree.module_dir(1, "dimm" + std::to_string(n), bad);
  for (const std::vector<std::string>& view :
       {std::vector<std::string>{"--table"}, std::vector<std::string>{"--detail", "--table"}}) {
    std::vector<std::string> args = view;
    args.insert(args.end(), {"--from-dump", kX9drw, "--sysfs-root", tree.root()});
    const CliResult r = run_cli(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(
        r.out.find("82 EDAC modules joined no device (CE " + max + ", UE " + max +
                   "); errors the controllers could not place: CE " + max + ", UE " + max + "\n"),
        std::string::npos)
        << r.out;
    size_t notes = 0;
    for (size_t at = r.err.find("raminfo: note: mc1/dimm"); at != std::string::npos;
         at = r.err.find("raminfo: note: mc1/dimm", at + 1))
      ++notes;
    EXPECT_EQ(notes, 50u) << r.err;
    EXPECT_NE(r.err.find("raminfo: note: ... and 30 more notes about the EDAC tree\n"),
              std::string::npos)
        << r.err;
  }
}

// A --sysfs-root that names no directory is a mistyped option, not a kernel
// without EDAC: exit 1 naming it (printable), and nothing written. A
// directory without EDAC in it is such a kernel's tree.
TEST(EdacCli, SysfsRootThatIsNoDirectory) {
  edac_tree tree;
  tree.file("a-file", "x\n");
  tree.dir("devices/system");
  struct root_case {
    std::string root;
    std::string message;
  };
  const root_case cases[] = {
      {tree.root() + "/absent",
       "--sysfs-root " + tree.root() + "/absent: No such file or directory"},
      {tree.root() + "/a-file", "--sysfs-root " + tree.root() + "/a-file: not a directory"},
      {tree.root() + "/a-file/sys", "--sysfs-root " + tree.root() + "/a-file/sys: Not a directory"},
      {tree.root() + "/\x1b]0;x\a", "--sysfs-root " + tree.root() + "/?]0;x?: No such file"},
  };
  for (const root_case& c : cases) {
    for (const char* view : {"--table", "--prometheus", "--detail"}) {
      TempDir dir;
      const std::string out = dir.path() + "/out";
      const CliResult r =
          run_cli({view, "--from-dump", kX9drw, "--sysfs-root", c.root, "--output", out});
      EXPECT_EQ(r.exit_code, 1) << view << " " << c.root;
      EXPECT_NE(r.err.find("raminfo: " + c.message), std::string::npos) << view << ": " << r.err;
      EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
      EXPECT_FALSE(std::filesystem::exists(out)) << view << " " << c.root;
    }
  }
  const CliResult r = run_cli({"--detail", "--from-dump", kX9drw, "--sysfs-root", tree.root()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["memory_errors"]["reason"], "no EDAC in this kernel");
}

// The options that go with the views showing counts, and a label file that
// cannot be read: a warning, never a failed run.
TEST(EdacCli, Options) {
  EXPECT_EQ(run_cli({"--count", "--sysfs-root", "/sys"}).exit_code, 2);
  EXPECT_EQ(run_cli({"--dimm-labels", "x"}).exit_code, 2);
  EXPECT_EQ(run_cli({"--table", "--sysfs-root", ""}).exit_code, 2);
  edac_tree tree;
  tree.controller(0);
  tree.module_dir(0, "dimm0", module(x9_bank(0) + " " + x9_device(0), "memory 0", 1, 0));
  const CliResult r = run_cli({"--table", "--from-dump", kX9drw, "--sysfs-root", tree.root(),
                               "--dimm-labels", tree.root() + "/absent.db"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("raminfo: warning: --dimm-labels"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(" CE "), std::string::npos) << r.out;
  const std::string help = run_cli({"--help"}).out;
  EXPECT_NE(help.find("--sysfs-root DIR"), std::string::npos);
  EXPECT_NE(help.find("--dimm-labels FILE"), std::string::npos);
}

}  // namespace
