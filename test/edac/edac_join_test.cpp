// The join of EDAC modules to SMBIOS devices, over trees built as the
// drivers lay them out and the locators of real tables.
#include "edac/edac_join.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "edac/edac.h"
#include "edac/edac_labels.h"
#include "edac/notes.h"
#include "edac_tree.h"

namespace {

// Bank and Device Locators of the sixteen type-17 devices of
// server-supermicro-x9drw-2s-16dimm-ddr3 (dmidecode -t 17), in table order.
std::vector<join_device> x9drw_devices() {
  std::vector<join_device> d;
  const char* banks = "ABCDEFGH";
  for (size_t i = 0; i < 16; ++i) {
    const size_t cpu = i / 8, channel = (i / 2) % 4, slot = i % 2;
    d.push_back(
        {i,
         "P" + std::to_string(cpu) + "_Node" + std::to_string(cpu) + "_Channel" +
             std::to_string(channel) + "_Dimm" + std::to_string(slot),
         "P" + std::to_string(cpu + 1) + "-DIMM" + banks[i / 2] + std::to_string(slot + 1)});
  }
  return d;
}

// The two slots of each channel of server-asrockrack-x570d4u (dmidecode
// -t 17): "DIMM 0" and "DIMM 1" in both channels.
std::vector<join_device> x570d4u_devices() {
  return {{0, "P0 CHANNEL A", "DIMM 0"},
          {1, "P0 CHANNEL A", "DIMM 1"},
          {2, "P0 CHANNEL B", "DIMM 0"},
          {3, "P0 CHANNEL B", "DIMM 1"}};
}

std::string notes_text(const std::vector<std::string>& notes) {
  std::string s;
  for (const std::string& n : notes) s += n + "\n";
  return s;
}

std::vector<dimm_label_entry> labels_for(const std::string& text, const machine_identity& m) {
  dimm_label_db db;
  parse_dimm_labels(text, "labels", &db);
  EXPECT_TRUE(db.notes.empty()) << notes_text(db.notes);
  return select_dimm_labels(db, m, nullptr);
}

// One module labelled label on one controller, joined to devices.
edac_join_result join_one_label(const std::string& label, const std::vector<join_device>& devices) {
  edac_tree t;
  t.controller(0);
  t.module_dir(0, "dimm0", module(label, "memory 0", 9, 1));
  return join_edac(read_edac(t.root()), devices, {});
}

// The device a module joined; -1 for none.
long joined_device(const edac_join_result& r) {
  long joined = -1;
  for (size_t i = 0; i < r.devices.size(); ++i)
    if (r.devices[i]) joined = static_cast<long>(i);
  return joined;
}

// (a) Firmware-first: ghes_edac labels every module "<bank> <device>" in
// table order, on one controller. Every module joins, with its own counts.
TEST(EdacJoin, FirmwareFirstLabelsJoinEveryModule) {
  const std::vector<join_device> devices = x9drw_devices();
  edac_tree t;
  t.controller(0, 2, 0);
  for (size_t i = 0; i < devices.size(); ++i) {
    t.module_dir(0, "dimm" + std::to_string(i),
                 module(devices[i].bank_locator + " " + devices[i].device_locator,
                        "memory " + std::to_string(i), 100 + i, i % 3));
  }
  const edac_report report = read_edac(t.root());
  ASSERT_TRUE(report.available) << report.reason;
  const edac_join_result r = join_edac(report, devices, {});
  EXPECT_TRUE(r.notes.empty()) << notes_text(r.notes);
  EXPECT_TRUE(r.unmatched.empty());
  ASSERT_EQ(r.devices.size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    ASSERT_TRUE(r.devices[i].has_value()) << i;
    const device_errors& e = *r.devices[i];
    EXPECT_EQ(e.index, i);
    EXPECT_EQ(e.corrected, 100 + i);
    EXPECT_EQ(e.uncorrected, i % 3);
    EXPECT_EQ(e.edac, std::vector<std::string>{"mc0/dimm" + std::to_string(i)});
    EXPECT_EQ(e.matched_by, "label");
  }
  ASSERT_EQ(r.unplaced.size(), 1u);
  EXPECT_EQ(r.unplaced[0].controller, "mc0");
  EXPECT_EQ(r.unplaced[0].corrected, 2u);
  EXPECT_EQ(r.unplaced[0].uncorrected, 0u);
}

// The other ways kernels and administrators write a label that names a
// device, and ways that name none.
TEST(EdacJoin, LabelForms) {
  std::vector<join_device> devices = x9drw_devices();
  devices.push_back({16, "", "CPU3-DIMM1"});           // no bank
  devices.push_back({17, "NODE 3 BANK", ""});          // no device
  devices.push_back({18, "  ", " Spare "});            // spaces only in the bank
  devices.push_back({19, "P0 CHANNEL C ", "DIMM 0"});  // a bank that ends in a space
  struct form_case {
    const char* label;
    long device;  // -1: none
  };
  const form_case cases[] = {
      {"P0_Node0_Channel1_Dimm0 P1-DIMMB1", 2},
      {"  p0_node0_channel1_dimm0 p1-dimmb1 \t", 2},  // case and spaces at the ends
      {"P1-DIMMB1", 2},                               // the device alone, one has it
      {"p2-dimmh2", 15},
      {"CPU3-DIMM1", 16},
      {"N/A CPU3-DIMM1", 16},  // a kernel that wrote the missing bank as N/A
      {"NA CPU3-DIMM1", 16},
      {"NODE 3 BANK", 17},
      {"NODE 3 BANK N/A", 17},
      {"Spare", 18},
      {"P0_Node0_Channel1_Dimm0  P1-DIMMB1", 2},  // runs of white space are one space
      {"P0_Node0_Channel1_Dimm0\tP1-DIMMB1", 2},
      {"P0 CHANNEL C  DIMM 0", 19},  // ghes_edac's "<bank> <device>" of that bank
      {"P0 CHANNEL C DIMM 0", 19},
      {"P0  CHANNEL\t C DIMM   0", 19},
      {"P0 CHANNELC DIMM 0", -1},                 // white space is folded, never dropped
      {"P0_Node0_Channel1_Dimm0", -1},            // the bank alone names a channel's slots, not one
      {"P1-DIMMB1 P0_Node0_Channel1_Dimm0", -1},  // the wrong way round
      {"CPU_SrcID#0_Ha#0_Chan#1_DIMM#0", -1},
      {"mc#0memory#2", -1},
      {"", -1},
  };
  for (const form_case& c : cases) {
    const edac_join_result r = join_one_label(c.label, devices);
    EXPECT_EQ(joined_device(r), c.device) << "label \"" << c.label << "\"";
    EXPECT_EQ(r.unmatched.size(), c.device < 0 ? 1u : 0u) << c.label;
    EXPECT_TRUE(r.notes.empty()) << c.label << ": " << notes_text(r.notes);
  }
}

// The kernel keeps 31 bytes of a label: ghes_edac's "<bank> <device>" of 33
// bytes reads as its first 31. Such a label names the one device whose name
// it begins; two such devices, neither.
TEST(EdacJoin, LabelsTheKernelCut) {
  const std::vector<join_device> devices = {
      {0, "BANK 0", "Controller0-ChannelA-DIMM0"},  // 33 bytes: "BANK 0 Controller0-ChannelA-DIM"
      {1, "BANK 0", "Controller0-ChannelA-DIMM1"},  // the same 31 bytes
      {2, "BANK 1", "Controller0-ChannelB-DIMM0"},  // 31 bytes of its own
      {3, "", "Processor 1 Channel A DIMM Slot 0"},
      {4, "NODE 1", "CHANNEL 2 SLOT 3 DIMM 01"},  // exactly 31 bytes whole
      {5, "NODE 1", "CHANNEL 2 SLOT 3 DIMM 1"},
  };
  struct cut_case {
    const char* label;
    long device;  // -1: none
    const char* note;
  };
  const cut_case cases[] = {
      {"BANK 1 Controller0-ChannelB-DIM", 2, nullptr},
      {"bank 1  controller0-channelb-di", 2, nullptr},  // case and white space as ever
      {"Processor 1 Channel A DIMM Slot", 3, nullptr},
      {"NODE 1 CHANNEL 2 SLOT 3 DIMM 01", 4, nullptr},
      {"BANK 0 Controller0-ChannelA-DIM", -1,
       "label \"BANK 0 Controller0-ChannelA-DIM\" (31 bytes, perhaps cut by the kernel) matches 2 "
       "devices (\"BANK 0 Controller0-ChannelA-DIMM0\", \"BANK 0 Controller0-ChannelA-DIMM1\")"},
      // Shorter or longer than the kernel keeps: never cut, so whole or nothing.
      {"BANK 1 Controller0-ChannelB-DI", -1, nullptr},
      {"BANK 1 Controller0-ChannelB-DIMM", -1, nullptr},
      {"NODE 1 CHANNEL 2 SLOT 3 DIMM 1", 5, nullptr},
  };
  for (const cut_case& c : cases) {
    const edac_join_result r = join_one_label(c.label, devices);
    EXPECT_EQ(joined_device(r), c.device) << "label \"" << c.label << "\"";
    if (c.note == nullptr) {
      EXPECT_TRUE(r.notes.empty()) << c.label << ": " << notes_text(r.notes);
    } else {
      ASSERT_EQ(r.notes.size(), 1u) << c.label << ": " << notes_text(r.notes);
      EXPECT_NE(r.notes[0].find(c.note), std::string::npos) << r.notes[0];
    }
  }

  // A label database's labels are whole: 31 bytes of one is no prefix.
  const std::vector<dimm_label_entry> labels = labels_for(
      "Vendor: V\nModel: M\nBANK 1 Controller0-ChannelB-DIM: 0.0.0;\n", {"V", "M", "", ""});
  edac_tree u;
  u.controller(0);
  u.module_dir(0, "dimm0", module("mc#0channel#0slot#0", "channel 0 slot 0", 4, 0));
  const edac_join_result f = join_edac(read_edac(u.root()), devices, labels);
  EXPECT_EQ(f.unmatched.size(), 1u);
}

// (b) sb_edac's own labels say nothing of the board; a label database for
// vendor Supermicro, model X9DRW places them by controller, channel, slot.
TEST(EdacJoin, DriverLabelsThroughALabelFile) {
  const std::vector<join_device> devices = x9drw_devices();
  edac_tree t;
  std::string file = "Vendor: Supermicro\n  Model: X9DRW\n";
  for (unsigned mc = 0; mc < 2; ++mc) {
    t.controller(mc, mc, 0);
    for (unsigned channel = 0; channel < 4; ++channel) {
      file += "   ";
      for (unsigned slot = 0; slot < 2; ++slot) {
        const unsigned n = channel * 2 + slot;
        // One module the file does not place: channel 3 slot 1 of mc1.
        if (mc == 1 && n == 7) continue;
        t.module_dir(mc, "dimm" + std::to_string(n),
                     module("CPU_SrcID#" + std::to_string(mc) + "_Ha#0_Chan#" +
                                std::to_string(channel) + "_DIMM#" + std::to_string(slot),
                            "channel " + std::to_string(channel) + " slot " + std::to_string(slot),
                            mc * 100 + n, 0));
        if (!(mc == 1 && channel == 3)) {
          file += " " + devices[mc * 8 + n].device_locator + ": " + std::to_string(mc) + "." +
                  std::to_string(channel) + "." + std::to_string(slot) + ";";
        }
      }
      file += "\n";
    }
  }
  t.module_dir(1, "dimm7", module("CPU_SrcID#1_Ha#0_Chan#3_DIMM#1", "channel 3 slot 1", 777, 1));
  const edac_report report = read_edac(t.root());
  ASSERT_EQ(report.modules.size(), 16u);
  const std::vector<dimm_label_entry> labels =
      labels_for(file, {"Supermicro", "X9DRW", "Supermicro", "SYS-1027R-WRF"});
  ASSERT_EQ(labels.size(), 14u);

  const edac_join_result r = join_edac(report, devices, labels);
  EXPECT_TRUE(r.notes.empty()) << notes_text(r.notes);
  for (size_t i = 0; i < 14; ++i) {
    ASSERT_TRUE(r.devices[i].has_value()) << i;
    EXPECT_EQ(r.devices[i]->corrected, (i / 8) * 100 + i % 8) << i;
    EXPECT_EQ(r.devices[i]->matched_by, "label_file") << i;
    EXPECT_EQ(r.devices[i]->edac.size(), 1u);
  }
  EXPECT_FALSE(r.devices[14].has_value()) << "never guessed from the order";
  EXPECT_FALSE(r.devices[15].has_value());
  ASSERT_EQ(r.unmatched.size(), 2u);
  EXPECT_EQ(r.unmatched[0].edac, "mc1/dimm6");
  EXPECT_EQ(r.unmatched[1].edac, "mc1/dimm7");
  EXPECT_EQ(r.unmatched[1].label, "CPU_SrcID#1_Ha#0_Chan#3_DIMM#1");
  EXPECT_EQ(r.unmatched[1].location, "channel 3 slot 1");
  EXPECT_EQ(r.unmatched[1].corrected, 777u);
  EXPECT_EQ(r.unmatched[1].uncorrected, 1u);
  ASSERT_EQ(r.unplaced.size(), 2u);
  EXPECT_EQ(r.unplaced[1].controller, "mc1");
  EXPECT_EQ(r.unplaced[1].corrected, 1u);

  // Another board's database places nothing.
  const edac_join_result other =
      join_edac(report, devices, labels_for(file, {"Supermicro", "X10DRi", "", ""}));
  EXPECT_EQ(other.unmatched.size(), 16u);
}

// (c) amd64_edac shows each rank; a label file names "<bank> <device>" at
// both ranks of each module, and the ranks add up to the module.
TEST(EdacJoin, RanksOfAModuleAreSummed) {
  const std::vector<join_device> devices = x570d4u_devices();
  edac_tree t;
  t.controller(0);
  const uint64_t ce[4] = {3, 4, 50, 60};
  for (unsigned rank = 0; rank < 4; ++rank) {
    const unsigned row = rank % 2, channel = rank / 2;
    module_files f =
        module("mc#0csrow#" + std::to_string(row) + "channel#" + std::to_string(channel),
               "csrow " + std::to_string(row) + " channel " + std::to_string(channel), ce[rank],
               rank == 1 ? 2 : 0, 16384);
    if (rank == 3) f.ue = "n/a\n";  // one rank's uncorrected count unknown
    t.module_dir(0, "rank" + std::to_string(rank), f);
  }
  const edac_report report = read_edac(t.root());
  const std::vector<dimm_label_entry> labels = labels_for(
      "Vendor: ASRockRack\nModel: X570D4U\n"
      "  P0 CHANNEL A DIMM 1: 0.0.0, 0.1.0;  P0 CHANNEL B DIMM 1: 0.0.1, 0.1.1;\n",
      {"ASRockRack", "X570D4U", "To Be Filled By O.E.M.", "To Be Filled By O.E.M."});
  const edac_join_result r = join_edac(report, devices, labels);
  EXPECT_TRUE(r.notes.empty()) << notes_text(r.notes);
  EXPECT_TRUE(r.unmatched.empty());
  EXPECT_FALSE(r.devices[0].has_value());
  EXPECT_FALSE(r.devices[2].has_value());
  ASSERT_TRUE(r.devices[1].has_value());
  EXPECT_EQ(r.devices[1]->corrected, 7u);
  EXPECT_EQ(r.devices[1]->uncorrected, 2u);
  EXPECT_EQ(r.devices[1]->edac, (std::vector<std::string>{"mc0/rank0", "mc0/rank1"}));
  ASSERT_TRUE(r.devices[3].has_value());
  EXPECT_EQ(r.devices[3]->corrected, 110u);
  EXPECT_FALSE(r.devices[3]->uncorrected.has_value()) << "a sum with an unknown part is unknown";
  EXPECT_EQ(r.devices[3]->matched_by, "label_file");
}

// (d) The per-row layout without chJ_ue_count: corrected counts join, the
// uncorrected stay unknown.
TEST(EdacJoin, PerRowLayoutWithoutUncorrectedCounts) {
  const std::vector<join_device> devices = x570d4u_devices();
  edac_tree t;
  t.controller(0);
  t.csrow(
      0, 0,
      {{0, "P0 CHANNEL A DIMM 1", 4, std::nullopt}, {1, "P0 CHANNEL B DIMM 1", 0, std::nullopt}});
  t.csrow(
      0, 1,
      {{0, "P0 CHANNEL A DIMM 1", 5, std::nullopt}, {1, "P0 CHANNEL B DIMM 1", 1, std::nullopt}});
  const edac_join_result r = join_edac(read_edac(t.root()), devices, {});
  EXPECT_TRUE(r.notes.empty()) << notes_text(r.notes);
  ASSERT_TRUE(r.devices[1] && r.devices[3]);
  EXPECT_EQ(r.devices[1]->corrected, 9u);
  EXPECT_FALSE(r.devices[1]->uncorrected.has_value());
  EXPECT_EQ(r.devices[1]->edac, (std::vector<std::string>{"mc0/csrow0/ch0", "mc0/csrow1/ch0"}));
  EXPECT_EQ(r.devices[3]->corrected, 1u);
}

// amd64_edac on a 3.6 kernel: a rank directory per chip select and channel
// without counts, and row files whose row advances first, so csrow0/ch1 is
// chip select 1 channel 0. A label file places each row channel by its
// rank's location; a row channel whose label ties it to no rank is placed
// by nothing, not by its row and channel.
TEST(EdacJoin, OldKernelRowsJoinAtTheirModulesPlace) {
  const std::vector<join_device> devices = x570d4u_devices();
  const std::vector<dimm_label_entry> labels = labels_for(
      "Vendor: ASRockRack\nModel: X570D4U\n"
      "  P0 CHANNEL A DIMM 1: 0.0.0, 0.1.0;  P0 CHANNEL B DIMM 1: 0.0.1, 0.1.1;\n"
      "  P0 CHANNEL A DIMM 0: 0.2.0;\n",
      {"ASRockRack", "X570D4U", "", ""});
  const auto rank = [](unsigned cs, unsigned ch) {
    module_files f = module("mc#0csrow#" + std::to_string(cs) + "channel#" + std::to_string(ch),
                            "csrow " + std::to_string(cs) + " channel " + std::to_string(ch), 0, 0);
    f.ce.reset();
    f.ue.reset();
    return f;
  };
  edac_tree t;
  t.controller(0);
  for (unsigned n = 0; n < 4; ++n) t.module_dir(0, "rank" + std::to_string(n), rank(n / 2, n % 2));
  t.csrow(0, 0, {{0, "mc#0csrow#0channel#0", 1, std::nullopt}, {1, "mc#0csrow#1channel#0", 2, 0}});
  t.csrow(0, 1,
          {{0, "mc#0csrow#0channel#1", 30, std::nullopt}, {1, "mc#0csrow#1channel#1", 40, 0}});
  // A row channel with a label no rank has: the label file's 0.2.0 is not it.
  t.csrow(0, 2, {{0, "DIMM_X", 500, std::nullopt}});
  const edac_join_result r = join_edac(read_edac(t.root()), devices, labels);
  ASSERT_TRUE(r.devices[1] && r.devices[3]);
  EXPECT_EQ(r.devices[1]->edac, (std::vector<std::string>{"mc0/csrow0/ch0", "mc0/csrow0/ch1"}));
  EXPECT_EQ(r.devices[1]->corrected, 3u);
  EXPECT_EQ(r.devices[1]->matched_by, "label_file");
  EXPECT_EQ(r.devices[3]->edac, (std::vector<std::string>{"mc0/csrow1/ch0", "mc0/csrow1/ch1"}));
  EXPECT_EQ(r.devices[3]->corrected, 70u);
  EXPECT_FALSE(r.devices[0].has_value()) << "a row channel placed by its row and channel";
  ASSERT_EQ(r.unmatched.size(), 1u);
  EXPECT_EQ(r.unmatched[0].edac, "mc0/csrow2/ch0");
  EXPECT_EQ(r.unmatched[0].corrected, 500u);
  EXPECT_FALSE(r.unmatched[0].location.has_value());
  ASSERT_EQ(r.notes.size(), 1u) << notes_text(r.notes);
  EXPECT_EQ(r.notes[0],
            "mc0/csrow2/ch0: its label \"DIMM_X\" is on no module directory, so the module it "
            "counts is not known");

  // ras-mc-ctl wrote one module's name on both its ranks: no row channel
  // ties to one rank, but the label names the device.
  edac_tree named;
  named.controller(0);
  for (unsigned n = 0; n < 4; ++n) {
    module_files f = rank(n / 2, n % 2);
    f.label = std::string(n % 2 ? "P0 CHANNEL B DIMM 1" : "P0 CHANNEL A DIMM 1") + "\n";
    named.module_dir(0, "rank" + std::to_string(n), f);
  }
  named.csrow(0, 0,
              {{0, "P0 CHANNEL A DIMM 1", 1, std::nullopt}, {1, "P0 CHANNEL A DIMM 1", 2, 0}});
  named.csrow(0, 1,
              {{0, "P0 CHANNEL B DIMM 1", 30, std::nullopt}, {1, "P0 CHANNEL B DIMM 1", 40, 0}});
  const edac_join_result n = join_edac(read_edac(named.root()), devices, labels);
  EXPECT_TRUE(n.notes.empty()) << notes_text(n.notes);
  EXPECT_TRUE(n.unmatched.empty());
  ASSERT_TRUE(n.devices[1] && n.devices[3]);
  EXPECT_EQ(n.devices[1]->corrected, 3u);
  EXPECT_EQ(n.devices[1]->matched_by, "label");
  EXPECT_EQ(n.devices[3]->corrected, 70u);
}

// (e) No controllers: nothing joins, nothing is unmatched or unplaced.
TEST(EdacJoin, NoControllers) {
  edac_tree t;
  t.dir("devices/system/edac/mc");
  const edac_report report = read_edac(t.root());
  EXPECT_FALSE(report.available);
  const edac_join_result r = join_edac(report, x9drw_devices(), {});
  ASSERT_EQ(r.devices.size(), 16u);
  for (const auto& d : r.devices) EXPECT_FALSE(d.has_value());
  EXPECT_TRUE(r.unmatched.empty() && r.unplaced.empty() && r.notes.empty());
}

// (f) A label nothing has stays unmatched; a label two devices answer to
// joins neither, says so, and is listed.
TEST(EdacJoin, UnmatchedAndAmbiguousLabels) {
  std::vector<join_device> devices = x570d4u_devices();
  devices.push_back({4, "A", "B C"});
  devices.push_back({5, "", "A B C"});
  edac_tree t;
  t.controller(0);
  t.module_dir(0, "dimm0", module("P0 CHANNEL A DIMM 1", "channel 0 slot 1", 1, 0));
  t.module_dir(0, "dimm1", module("DIMM_Z9", "channel 5 slot 0", 2, 0));
  t.module_dir(0, "dimm2", module("DIMM 1", "channel 1 slot 1", 3, 0));  // both channels' slot
  t.module_dir(0, "dimm3", module("a b c", "channel 2 slot 0", 4, 0));   // two devices' names
  const edac_join_result r = join_edac(read_edac(t.root()), devices, {});
  ASSERT_TRUE(r.devices[1].has_value());
  EXPECT_EQ(r.devices[1]->corrected, 1u);
  for (size_t i : {0, 2, 3, 4, 5}) EXPECT_FALSE(r.devices[i].has_value()) << i;
  ASSERT_EQ(r.unmatched.size(), 3u);
  EXPECT_EQ(r.unmatched[0].edac, "mc0/dimm1");
  EXPECT_EQ(r.unmatched[0].label, "DIMM_Z9");
  EXPECT_EQ(r.unmatched[0].corrected, 2u);
  EXPECT_EQ(r.unmatched[1].edac, "mc0/dimm2");
  EXPECT_EQ(r.unmatched[2].edac, "mc0/dimm3");
  ASSERT_EQ(r.notes.size(), 2u) << notes_text(r.notes);
  EXPECT_EQ(r.notes[0],
            "mc0/dimm2: label \"DIMM 1\" is the locator of 2 devices, so it names none");
  EXPECT_EQ(r.notes[1],
            "mc0/dimm3: label \"a b c\" matches 2 devices (\"A B C\", \"A B C\"), so none");

  // The same ambiguity reached through a label file.
  const std::vector<dimm_label_entry> labels =
      labels_for("Vendor: V\nModel: M\nA B C: 0.2.0;\n", {"V", "M", "", ""});
  edac_tree u;
  u.controller(0);
  u.module_dir(0, "dimm0", module("CPU_SrcID#0_Ha#0_Chan#2_DIMM#0", "channel 2 slot 0", 4, 0));
  const edac_join_result f = join_edac(read_edac(u.root()), devices, labels);
  EXPECT_EQ(f.unmatched.size(), 1u);
  ASSERT_EQ(f.notes.size(), 1u);
  EXPECT_EQ(f.notes[0].rfind("mc0/dimm0 (label database, labels:3): label \"A B C\" matches 2", 0),
            0u)
      << f.notes[0];
}

// Two per-module entries on one device are added up, and a note says so:
// unlike ranks, that is not how the kernel lays out one module.
TEST(EdacJoin, TwoModulesOnOneDeviceAreNoted) {
  const std::vector<join_device> devices = x9drw_devices();
  edac_tree t;
  t.controller(0);
  t.module_dir(0, "dimm0", module("P1-DIMMA1", "memory 0", 1, 0));
  t.module_dir(0, "dimm1", module("P0_Node0_Channel0_Dimm0 P1-DIMMA1", "memory 1", 2, 0));
  const edac_join_result r = join_edac(read_edac(t.root()), devices, {});
  ASSERT_TRUE(r.devices[0].has_value());
  EXPECT_EQ(r.devices[0]->corrected, 3u);
  EXPECT_EQ(r.devices[0]->edac, (std::vector<std::string>{"mc0/dimm0", "mc0/dimm1"}));
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("mc0/dimm0 and mc0/dimm1 both join"), std::string::npos) << r.notes[0];
}

// Thousands of ambiguous labels give the first notes and the number of the
// rest; every module is still listed.
TEST(EdacJoin, NotesAreBounded) {
  edac_tree t;
  t.controller(0);
  for (unsigned n = 0; n < 120; ++n)
    t.module_dir(0, "dimm" + std::to_string(n), module("DIMM 1", "memory 0", 1, 0));
  const edac_join_result r = join_edac(read_edac(t.root()), x570d4u_devices(), {});
  EXPECT_EQ(r.unmatched.size(), 120u);
  EXPECT_EQ(r.notes.size(), kEdacMaxNotes);
  EXPECT_EQ(r.notes_dropped, 120 - kEdacMaxNotes);
}

// Garbage in the tree reaches the join as unknown counts, never as 0.
TEST(EdacJoin, UnknownCountsStayUnknown) {
  const std::vector<join_device> devices = x9drw_devices();
  edac_tree t;
  t.controller(0);
  t.file("devices/system/edac/mc/mc0/ue_noinfo_count", "x\n");
  module_files f = module("P1-DIMMA1", "memory 0", 0, 0);
  f.ce = "garbage\n";
  t.module_dir(0, "dimm0", f);
  module_files g = module("no such slot", "memory 1", 0, 0);
  g.ue.reset();
  t.module_dir(0, "dimm1", g);
  const edac_join_result r = join_edac(read_edac(t.root()), devices, {});
  ASSERT_TRUE(r.devices[0].has_value());
  EXPECT_FALSE(r.devices[0]->corrected.has_value());
  EXPECT_EQ(r.devices[0]->uncorrected, 0u);
  ASSERT_EQ(r.unmatched.size(), 1u);
  EXPECT_EQ(r.unmatched[0].corrected, 0u);
  EXPECT_FALSE(r.unmatched[0].uncorrected.has_value());
  EXPECT_EQ(r.unplaced[0].corrected, 0u);
  EXPECT_FALSE(r.unplaced[0].uncorrected.has_value());
}

}  // namespace
