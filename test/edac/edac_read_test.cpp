// The EDAC sysfs reader over trees built on the spot: both layouts, trees
// without controllers or without EDAC, and values the kernel never writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "edac/edac.h"
#include "edac/notes.h"
#include "edac_tree.h"

namespace {

const std::string kMc = "devices/system/edac/mc/";

std::string all_notes(const edac_report& r) {
  std::string s;
  for (const std::string& n : r.notes) s += n + "\n";
  return s;
}

bool has_note(const edac_report& r, const std::string& part) {
  return std::any_of(r.notes.begin(), r.notes.end(),
                     [&](const std::string& n) { return n.find(part) != std::string::npos; });
}

// A module directory of a kernel from 3.5 to 4.9: its place and label, but
// no counts.
module_files uncounted(const std::string& label, const std::string& location) {
  module_files f = module(label, location, 0, 0);
  f.ce.reset();
  f.ue.reset();
  return f;
}

TEST(EdacRead, PerModuleLayoutEveryFileInNumberOrder) {
  edac_tree t;
  t.controller(0, 3, 1, 86400);
  t.controller(10, 0, 0, 60);
  t.controller(2, 0, 0, 60);
  t.module_dir(0, "dimm10", module("P1-DIMMD2", "channel 3 slot 1", 7, 0, 8192));
  t.module_dir(0, "dimm2", module("P1-DIMMB1", "channel 1 slot 0", 1234, 5, 4096));
  t.module_dir(2, "dimm0", module("P2-DIMME1", "channel 0 slot 0", 0, 0));
  t.module_dir(10, "dimm0", module("P3", "memory 0", 0, 0));
  // Not a module: the kernel's own links and files beside the modules.
  t.file(kMc + "mc0/dimmX", "");
  t.file(kMc + "mc0/max_location", "channel 3 slot 2\n");
  t.dir(kMc + "mcfoo");

  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  EXPECT_TRUE(r.notes.empty()) << all_notes(r);
  ASSERT_EQ(r.controllers.size(), 3u);
  EXPECT_EQ(r.controllers[0].name, "mc0");
  EXPECT_EQ(r.controllers[1].name, "mc2");
  EXPECT_EQ(r.controllers[2].name, "mc10");
  EXPECT_EQ(r.controllers[2].index, 10u);
  EXPECT_EQ(r.controllers[0].ce_noinfo, 3u);
  EXPECT_EQ(r.controllers[0].ue_noinfo, 1u);
  EXPECT_EQ(r.controllers[0].seconds_since_reset, 86400u);
  EXPECT_EQ(r.controllers[0].mc_name, "Sandy Bridge SrcID#0_Ha#0");
  EXPECT_EQ(r.controllers[0].layout, edac_layout::per_dimm);

  ASSERT_EQ(r.modules.size(), 4u);
  EXPECT_EQ(r.modules[0].edac, "mc0/dimm2");
  EXPECT_EQ(r.modules[1].edac, "mc0/dimm10");
  EXPECT_EQ(r.modules[2].edac, "mc2/dimm0");
  EXPECT_EQ(r.modules[3].edac, "mc10/dimm0");
  const edac_module& m = r.modules[0];
  EXPECT_EQ(m.controller, "mc0");
  EXPECT_EQ(m.controller_index, 0u);
  EXPECT_EQ(m.layout, edac_layout::per_dimm);
  EXPECT_EQ(m.label, "P1-DIMMB1");
  EXPECT_EQ(m.location, "channel 1 slot 0");
  EXPECT_EQ(m.location_numbers, (std::vector<unsigned>{1, 0}));
  EXPECT_EQ(m.size_mib, 4096u);
  EXPECT_EQ(m.mem_type, "Registered-DDR3");
  EXPECT_EQ(m.edac_mode, "S4ECD4ED");
  EXPECT_EQ(m.ce, 1234u);
  EXPECT_EQ(m.ue, 5u);
  EXPECT_EQ(r.modules[1].location_numbers, (std::vector<unsigned>{3, 1}));
  EXPECT_EQ(r.modules[3].location_numbers, (std::vector<unsigned>{0}));
}

TEST(EdacRead, PerRankLayout) {
  edac_tree t;
  t.controller(0);
  for (unsigned rank = 0; rank < 4; ++rank) {
    const unsigned row = rank / 2, channel = rank % 2;
    t.module_dir(0, "rank" + std::to_string(rank),
                 module("mc#0csrow#" + std::to_string(row) + "channel#" + std::to_string(channel),
                        "csrow " + std::to_string(row) + " channel " + std::to_string(channel),
                        10 + rank, rank, 16384));
  }
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  EXPECT_TRUE(r.notes.empty()) << all_notes(r);
  EXPECT_EQ(r.controllers[0].layout, edac_layout::per_rank);
  ASSERT_EQ(r.modules.size(), 4u);
  for (unsigned rank = 0; rank < 4; ++rank) {
    const edac_module& m = r.modules[rank];
    EXPECT_EQ(m.edac, "mc0/rank" + std::to_string(rank));
    EXPECT_EQ(m.layout, edac_layout::per_rank);
    EXPECT_EQ(m.location_numbers, (std::vector<unsigned>{rank / 2, rank % 2}));
    EXPECT_EQ(m.ce, 10u + rank);
    EXPECT_EQ(m.ue, rank);
  }
}

// The older per-row files, on a kernel without per-channel uncorrected
// counts in one row and with them in another.
TEST(EdacRead, PerRowLayoutWithAndWithoutChannelUeCount) {
  edac_tree t;
  t.controller(0, 2, 0);
  t.csrow(0, 0, {{0, "DIMM_A1", 5, std::nullopt}, {1, "DIMM_B1", 0, std::nullopt}});
  t.csrow(0, 1, {{0, "DIMM_A1", 3, 2}});
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  // An absent chJ_ue_count is the kernel's usual layout, not worth a note.
  EXPECT_TRUE(r.notes.empty()) << all_notes(r);
  EXPECT_EQ(r.controllers[0].layout, edac_layout::per_row);
  ASSERT_EQ(r.modules.size(), 3u);
  const edac_module& a = r.modules[0];
  EXPECT_EQ(a.edac, "mc0/csrow0/ch0");
  EXPECT_EQ(a.layout, edac_layout::per_row);
  EXPECT_EQ(a.label, "DIMM_A1");
  EXPECT_EQ(a.location, "csrow 0 channel 0");
  EXPECT_EQ(a.location_numbers, (std::vector<unsigned>{0, 0}));
  EXPECT_EQ(a.ce, 5u);
  EXPECT_FALSE(a.ue.has_value()) << "an absent count is unknown, never 0";
  EXPECT_FALSE(a.size_mib.has_value()) << "a row's size is not a module's";
  EXPECT_EQ(a.mem_type, "Unbuffered-DDR4");
  EXPECT_EQ(r.modules[1].edac, "mc0/csrow0/ch1");
  EXPECT_EQ(r.modules[1].location_numbers, (std::vector<unsigned>{0, 1}));
  EXPECT_EQ(r.modules[2].edac, "mc0/csrow1/ch0");
  EXPECT_EQ(r.modules[2].ce, 3u);
  EXPECT_EQ(r.modules[2].ue, 2u);
}

// A kernel with the legacy files built in shows both layouts of the same
// modules: counted once, per module. A kernel before per-module counts has
// module directories without them: the row files count.
TEST(EdacRead, BothLayoutsCountOnce) {
  edac_tree modern;
  modern.controller(0);
  modern.module_dir(0, "dimm0", module("A1", "csrow 0 channel 0", 4, 0));
  modern.csrow(0, 0, {{0, "A1", 4, std::nullopt}});
  const edac_report r = read_edac(modern.root());
  ASSERT_EQ(r.modules.size(), 1u);
  EXPECT_EQ(r.modules[0].edac, "mc0/dimm0");

  edac_tree old;
  old.controller(0);
  old.module_dir(0, "dimm0", uncounted("A1", "csrow 0 channel 0"));
  old.csrow(0, 0, {{0, "A1", 9, std::nullopt}});
  const edac_report o = read_edac(old.root());
  ASSERT_EQ(o.modules.size(), 1u);
  EXPECT_EQ(o.modules[0].edac, "mc0/csrow0/ch0");
  EXPECT_EQ(o.modules[0].ce, 9u);
  EXPECT_TRUE(has_note(o, "per-row files used")) << all_notes(o);
}

// sb_edac on such a kernel: layers channel and slot, and the row files
// advance the row (the slot) first, so csrowK/chJ is channel J slot K. Each
// row channel takes the place of the module directory with its label; where
// the label is not on exactly one module directory and one row channel, it
// has no place, and says why.
TEST(EdacRead, OldKernelRowChannelsTakeTheirModulesPlace) {
  edac_tree t;
  t.controller(0);
  t.module_dir(0, "dimm0", uncounted("A", "channel 0 slot 0"));
  t.module_dir(0, "dimm1", uncounted("B", "channel 0 slot 1"));
  t.module_dir(0, "dimm3", uncounted("B", "channel 1 slot 0"));  // a label registered twice
  t.module_dir(0, "dimm4", uncounted("C", "channel 1 slot 1"));
  t.module_dir(0, "dimm6", uncounted("", "channel 2 slot 0"));
  t.module_dir(0, "dimm7", uncounted("D", "channel 2 slot 1"));
  t.csrow(0, 0, {{0, "A", 1, std::nullopt}, {1, "B", 2, std::nullopt}, {2, "", 3, std::nullopt}});
  t.csrow(0, 1, {{0, "E", 4, std::nullopt}, {1, "C", 5, std::nullopt}, {2, "D", 6, std::nullopt}});
  t.csrow(0, 2, {{2, "D", 7, std::nullopt}});
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  EXPECT_EQ(r.controllers[0].layout, edac_layout::per_row);
  struct row_case {
    const char* edac;
    std::optional<std::string> location;
    std::vector<unsigned> numbers;
    const char* untied;
  };
  const row_case cases[] = {
      {"mc0/csrow0/ch0", "channel 0 slot 0", {0, 0}, ""},
      {"mc0/csrow0/ch1",
       std::nullopt,
       {},
       "its label \"B\" is on 2 module directories (mc0/dimm1, mc0/dimm3)"},
      {"mc0/csrow0/ch2", std::nullopt, {}, "it has no label to tell its module directory by"},
      {"mc0/csrow1/ch0", std::nullopt, {}, "its label \"E\" is on no module directory"},
      {"mc0/csrow1/ch1", "channel 1 slot 1", {1, 1}, ""},
      {"mc0/csrow1/ch2",
       std::nullopt,
       {},
       "its label \"D\" is on 2 row channels (mc0/csrow1/ch2, mc0/csrow2/ch2)"},
      {"mc0/csrow2/ch2",
       std::nullopt,
       {},
       "its label \"D\" is on 2 row channels (mc0/csrow1/ch2, mc0/csrow2/ch2)"},
  };
  ASSERT_EQ(r.modules.size(), std::size(cases)) << all_notes(r);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const edac_module& m = r.modules[i];
    EXPECT_EQ(m.edac, cases[i].edac);
    EXPECT_EQ(m.location, cases[i].location) << m.edac;
    EXPECT_EQ(m.location_numbers, cases[i].numbers) << m.edac;
    EXPECT_EQ(m.untied, cases[i].untied) << m.edac;
    EXPECT_EQ(m.ce, i + 1) << m.edac;
  }
  // A tied row channel has its module's size, which a row does not give.
  EXPECT_EQ(r.modules[0].size_mib, 4096u);
  EXPECT_EQ(r.modules[0].mem_type, "Registered-DDR3");
}

TEST(EdacRead, WhyCountsAreUnavailable) {
  struct unavailable_case {
    const char* what;
    void (*build)(const edac_tree&);
    const char* reason;
  };
  const unavailable_case cases[] = {
      {"no edac directory", [](const edac_tree& t) { t.dir("devices/system/cpu"); },
       "no EDAC in this kernel"},
      {"edac without mc", [](const edac_tree& t) { t.dir("devices/system/edac/pci"); },
       "no EDAC driver loaded"},
      {"mc without controllers",
       [](const edac_tree& t) { t.file("devices/system/edac/mc/power/runtime_status", "x\n"); },
       "no EDAC driver loaded"},
      {"edac is a file", [](const edac_tree& t) { t.file("devices/system/edac", "x"); },
       "the EDAC tree cannot be read: not a directory"},
      {"mc is a file", [](const edac_tree& t) { t.file("devices/system/edac/mc", "x"); },
       "the EDAC tree cannot be read"},
      {"the only controller is a file", [](const edac_tree& t) { t.file(kMc + "mc0", "x"); },
       "no EDAC memory controller could be read"},
  };
  for (const unavailable_case& c : cases) {
    edac_tree t;
    c.build(t);
    const edac_report r = read_edac(t.root());
    EXPECT_FALSE(r.available) << c.what;
    EXPECT_EQ(r.reason.rfind(c.reason, 0), 0u) << c.what << ": " << r.reason;
    EXPECT_TRUE(r.controllers.empty() && r.modules.empty()) << c.what;
  }
  const edac_report none = read_edac("/nonexistent/raminfo-edac-root");
  EXPECT_FALSE(none.available);
  EXPECT_EQ(none.reason, "no EDAC in this kernel");
}

// A controller with no module directory still counts what it cannot place.
TEST(EdacRead, ControllerWithoutModules) {
  edac_tree t;
  t.controller(0, 12, 1);
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  EXPECT_TRUE(r.modules.empty());
  ASSERT_EQ(r.controllers.size(), 1u);
  EXPECT_EQ(r.controllers[0].layout, edac_layout::none);
  EXPECT_EQ(r.controllers[0].ce_noinfo, 12u);
}

// One bad dimm_ce_count among good files: that count becomes unknown with a
// note naming the file, and everything else stands.
TEST(EdacRead, GarbageCountIsUnknownWithANote) {
  struct garbage_case {
    const char* what;
    void (*plant)(const edac_tree&, const std::string& file);
    std::optional<uint64_t> ce;
    const char* note;  // nullptr: no note
  };
  const garbage_case cases[] = {
      {"not a number", [](const edac_tree& t, const std::string& f) { t.file(f, "abc\n"); },
       std::nullopt, "dimm_ce_count: not a number"},
      {"empty", [](const edac_tree& t, const std::string& f) { t.file(f, ""); }, std::nullopt,
       "dimm_ce_count: empty"},
      {"only a newline", [](const edac_tree& t, const std::string& f) { t.file(f, "\n"); },
       std::nullopt, "dimm_ce_count: empty"},
      {"past 64 bits",
       [](const edac_tree& t, const std::string& f) { t.file(f, "18446744073709551616\n"); },
       std::nullopt, "dimm_ce_count: a number too large"},
      {"huge", [](const edac_tree& t, const std::string& f) { t.file(f, std::string(300, '9')); },
       std::nullopt, "dimm_ce_count: a number too large"},
      {"largest 64-bit",
       [](const edac_tree& t, const std::string& f) { t.file(f, "18446744073709551615\n"); },
       UINT64_MAX, nullptr},
      {"negative", [](const edac_tree& t, const std::string& f) { t.file(f, "-1\n"); },
       std::nullopt, "dimm_ce_count: not a number"},
      {"plus sign", [](const edac_tree& t, const std::string& f) { t.file(f, "+1\n"); },
       std::nullopt, "dimm_ce_count: not a number"},
      {"two numbers", [](const edac_tree& t, const std::string& f) { t.file(f, "12 34\n"); },
       std::nullopt, "dimm_ce_count: not a number"},
      {"hex", [](const edac_tree& t, const std::string& f) { t.file(f, "0x10\n"); }, std::nullopt,
       "dimm_ce_count: not a number"},
      {"NUL byte",
       [](const edac_tree& t, const std::string& f) { t.file(f, std::string("7\0", 2)); },
       std::nullopt, "dimm_ce_count: not a number"},
      {"spaces around", [](const edac_tree& t, const std::string& f) { t.file(f, " 7 \n"); }, 7,
       nullptr},
      {"longer than a page",
       [](const edac_tree& t, const std::string& f) { t.file(f, std::string(5000, '1')); },
       std::nullopt, "dimm_ce_count: larger than the limit"},
      {"a directory", [](const edac_tree& t, const std::string& f) { t.file(f + "/inner", "1\n"); },
       std::nullopt, "dimm_ce_count: a directory, not a file"},
      // The kernel's attributes are files: a link in one's place is never
      // followed, wherever it leads.
      {"a symbolic link loop",
       [](const edac_tree& t, const std::string& f) { t.symlink(f, "dimm_ce_count"); },
       std::nullopt, "dimm_ce_count: a symbolic link, so it is not read"},
      {"a dangling link", [](const edac_tree& t, const std::string& f) { t.symlink(f, "nowhere"); },
       std::nullopt, "dimm_ce_count: a symbolic link, so it is not read"},
      {"a link to a good file",
       [](const edac_tree& t, const std::string& f) {
         t.file(f + ".real", "42\n");
         t.symlink(f, "dimm_ce_count.real");
       },
       std::nullopt, "dimm_ce_count: a symbolic link, so it is not read"},
      {"a link to a file outside the tree",
       [](const edac_tree& t, const std::string& f) {
         t.file("secret", "42\n");
         t.symlink(f, t.root() + "/secret");
       },
       std::nullopt, "dimm_ce_count: a symbolic link, so it is not read"},
      // A FIFO would block an open for reading until a writer came.
      {"a FIFO", [](const edac_tree& t, const std::string& f) { t.fifo(f); }, std::nullopt,
       "dimm_ce_count: not a regular file"},
      {"absent", [](const edac_tree&, const std::string&) {}, std::nullopt,
       "mc0/dimm0/dimm_ce_count: absent"},
  };
  for (const garbage_case& c : cases) {
    edac_tree t;
    t.controller(0);
    module_files f = module("P1-DIMMA1", "channel 0 slot 0", 0, 3);
    f.ce.reset();
    t.module_dir(0, "dimm0", f);
    t.module_dir(0, "dimm1", module("P1-DIMMA2", "channel 0 slot 1", 8, 0));
    c.plant(t, kMc + "mc0/dimm0/dimm_ce_count");
    const edac_report r = read_edac(t.root());
    ASSERT_TRUE(r.available) << c.what << ": " << r.reason;
    ASSERT_EQ(r.modules.size(), 2u) << c.what;
    const edac_module& m = r.modules[0];
    EXPECT_EQ(m.ce, c.ce) << c.what;
    EXPECT_EQ(m.ue, 3u) << c.what;
    EXPECT_EQ(m.label, "P1-DIMMA1") << c.what;
    EXPECT_EQ(r.modules[1].ce, 8u) << c.what;
    if (c.note == nullptr) {
      EXPECT_TRUE(r.notes.empty()) << c.what << ": " << all_notes(r);
    } else {
      EXPECT_EQ(r.notes.size(), 1u) << c.what << ": " << all_notes(r);
      EXPECT_TRUE(has_note(r, c.note)) << c.what << ": " << all_notes(r);
    }
  }
}

// A made-up tree with a bad file in each of thousands of modules gives the
// first notes and the number of the rest, not a line for each.
TEST(EdacRead, NotesAreBounded) {
  edac_tree t;
  t.controller(0);
  module_files bad = module("A", "memory 0", 0, 0);
  bad.ce = "x\n";
  for (unsigned n = 0; n < 200; ++n) t.module_dir(0, "dimm" + std::to_string(n), bad);
  const edac_report r = read_edac(t.root());
  ASSERT_EQ(r.modules.size(), 200u);
  EXPECT_EQ(r.notes.size(), kEdacMaxNotes);
  EXPECT_EQ(r.notes_dropped, 200 - kEdacMaxNotes);
  EXPECT_EQ(r.notes.front(), "mc0/dimm0/dimm_ce_count: not a number");
}

// Garbage in the other files of a module and of a controller.
TEST(EdacRead, GarbageElsewhere) {
  edac_tree t;
  t.controller(0);
  t.file(kMc + "mc0/ce_noinfo_count", "lots\n");
  t.remove(kMc + "mc0/seconds_since_reset");
  t.file(kMc + "mc0/seconds_since_reset/x", "");
  module_files f = module("", "channel x slot 0", 1, 0);
  f.label = "";  // the kernel writes nothing for an unset label
  f.size = "4096 MB\n";
  t.module_dir(0, "dimm0", f);
  module_files g = module("A\x1b[2J", "csrow 1 channel", 2, 0);
  g.location = "csrow 1 channel\n";
  t.module_dir(0, "dimm1", g);
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  EXPECT_FALSE(r.controllers[0].ce_noinfo.has_value());
  EXPECT_EQ(r.controllers[0].ue_noinfo, 0u);
  EXPECT_FALSE(r.controllers[0].seconds_since_reset.has_value());
  EXPECT_TRUE(has_note(r, "mc0/ce_noinfo_count: not a number")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc0/seconds_since_reset: a directory")) << all_notes(r);
  ASSERT_EQ(r.modules.size(), 2u);
  EXPECT_EQ(r.modules[0].label, "") << "an unset label is known and empty";
  EXPECT_FALSE(r.modules[0].size_mib.has_value());
  EXPECT_TRUE(has_note(r, "mc0/dimm0/size: not a number")) << all_notes(r);
  EXPECT_EQ(r.modules[0].location, "channel x slot 0");
  EXPECT_TRUE(r.modules[0].location_numbers.empty());
  EXPECT_TRUE(has_note(r, "mc0/dimm0/dimm_location: not layer names and numbers"));
  EXPECT_EQ(r.modules[0].ce, 1u);
  // Raw bytes are kept; making them printable is for whoever shows them.
  EXPECT_EQ(r.modules[1].label, "A\x1b[2J");
  EXPECT_TRUE(r.modules[1].location_numbers.empty());
  EXPECT_TRUE(has_note(r, "mc0/dimm1/dimm_location: not layer names and numbers"));
  EXPECT_EQ(r.modules[1].ce, 2u);
}

// Symbolic links among the directories: a loop ends in a note, a second way
// to the same directory counts it once, and the walk always finishes.
TEST(EdacRead, DirectoryLinksNeitherLoopNorCountTwice) {
  edac_tree t;
  t.controller(0);
  t.module_dir(0, "dimm0", module("A1", "channel 0 slot 0", 5, 0));
  t.symlink(kMc + "mc1", "mc1");                // a loop
  t.symlink(kMc + "mc2", "mc0");                // the same controller again
  t.symlink(kMc + "mc0/dimm1", ".");            // the controller as its own module
  t.symlink(kMc + "mc0/dimm2", "dimm0");        // the same module again
  t.symlink(kMc + "mc0/dimm3", "../../mc");     // up the tree
  t.symlink(kMc + "mc0/rank4", "rank4/rank4");  // a loop through itself
  const edac_report r = read_edac(t.root());
  ASSERT_TRUE(r.available) << r.reason;
  ASSERT_EQ(r.controllers.size(), 1u) << all_notes(r);
  ASSERT_EQ(r.modules.size(), 1u) << all_notes(r);
  EXPECT_EQ(r.modules[0].edac, "mc0/dimm0");
  EXPECT_EQ(r.modules[0].ce, 5u);
  EXPECT_TRUE(has_note(r, "mc0/dimm3: the same directory as another entry")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc1: Too many levels of symbolic links")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc2: the same directory as another entry")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc0/dimm1: the same directory as another entry")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc0/dimm2: the same directory as another entry")) << all_notes(r);
  EXPECT_TRUE(has_note(r, "mc0/rank4: Too many levels of symbolic links")) << all_notes(r);
}

}  // namespace
