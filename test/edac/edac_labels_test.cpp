// The DIMM label database: its parser over texts written for the cases, the
// choice of entries for a machine, and the default files under a root.
#include "edac/edac_labels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "edac_tree.h"

namespace {

const machine_identity kX9drw{"Supermicro", "X9DRW", "Supermicro", "SYS-1027R-WRF"};

// "LABEL=mc.top.mid" for each chosen entry, in order.
std::vector<std::string> chosen(const std::string& text, const machine_identity& machine,
                                dimm_label_db* db_out = nullptr,
                                std::vector<std::string>* select_notes = nullptr) {
  dimm_label_db db;
  parse_dimm_labels(text, "labels", &db);
  std::vector<std::string> notes;
  std::vector<std::string> out;
  for (const dimm_label_entry& e : select_dimm_labels(db, machine, &notes)) {
    std::string p;
    for (size_t i = 0; i < e.position.size(); ++i)
      p += (i ? "." : "") + std::to_string(e.position[i]);
    out.push_back(e.label + "=" + p);
  }
  if (db_out != nullptr) *db_out = db;
  if (select_notes != nullptr) *select_notes = notes;
  return out;
}

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += x + "\n";
  return s;
}

using list = std::vector<std::string>;

TEST(DimmLabels, ParseAndChoose) {
  struct label_case {
    const char* what;
    std::string text;
    machine_identity machine;
    list expected;
    size_t notes;  // parser notes
  };
  const label_case cases[] = {
      {"several entries per line, the last without its semicolon",
       "Vendor: Supermicro\n  Model: X9DRW\n    P1-DIMMA1: 0.0.0;  P1-DIMMA2: 0.0.1;\n"
       "    P1-DIMMB1: 0.1.0; P1-DIMMB2: 0.1.1\n",
       kX9drw,
       {"P1-DIMMA1=0.0.0", "P1-DIMMA2=0.0.1", "P1-DIMMB1=0.1.0", "P1-DIMMB2=0.1.1"},
       0},
      {"a label at several positions (the ranks of one module)",
       "Vendor: ASRockRack\nModel: X570D4U\nP0 CHANNEL A DIMM 1: 0.0.0, 0.1.0;\n",
       {"ASRockRack", "X570D4U", "", ""},
       {"P0 CHANNEL A DIMM 1=0.0.0", "P0 CHANNEL A DIMM 1=0.1.0"},
       0},
      {"four numbers",
       "Vendor: V\nModel: M\nDIMM_A: 0.1.2.3;\n",
       {"V", "M", "", ""},
       {"DIMM_A=0.1.2.3"},
       0},
      {"keywords and names in any case, spaces trimmed",
       "vendor:   SUPERMICRO  \nMODEL :x9drw\nA1: 0.0.0;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"Board: is Model:",
       "Vendor: Supermicro\nBoard: X9DRW\nA1: 0.0.0;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"comments whole and at a line's end",
       "# Vendor: Supermicro\nVendor: Supermicro # the board's maker\n  Model: X9DRW\n"
       "# P1-DIMMZ9: 9.9.9;\n  A1: 0.0.0; # B1: 0.1.0;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"CRLF line ends",
       "Vendor: Supermicro\r\nModel: X9DRW\r\nA1: 0.0.0;\r\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"another board's entries are not chosen",
       "Vendor: Supermicro\nModel: X10DRi\nWRONG: 0.0.0;\nModel: X9DRW\nA1: 0.0.1;\n",
       kX9drw,
       {"A1=0.0.1"},
       0},
      {"another vendor's board of the same name",
       "Vendor: Intel\nModel: X9DRW\nWRONG: 0.0.0;\n",
       kX9drw,
       {},
       0},
      {"model lines in a row are alternatives",
       "Vendor: Supermicro\nModel: X9DRi\nModel: X9DRW\nA1: 0.0.0;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"a comma-separated list of models",
       "Vendor: Supermicro\nModel: X9DRi-F, X9DRW, X9DRD\nA1: 0.0.0;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"a model whose name holds a comma",
       "Vendor: Apple Inc.\nModel: MacPro3,1\nDIMM 1: 0.0.0.0;\n",
       {"Apple Inc.", "MacPro3,1", "", ""},
       {"DIMM 1=0.0.0.0"},
       0},
      {"Product: is the system's product, not the board's",
       "Vendor: Supermicro\nProduct: SYS-1027R-WRF\nA1: 0.0.0;\n"
       "Vendor: Supermicro\nProduct: X9DRW\nWRONG: 0.0.1;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"Product: with the system's maker when the board's differs",
       "Vendor: Dell Inc.\nProduct: PowerEdge R740\nA1: 0.0.0;\n",
       {"Dell Inc.", "0ABCDE", "Dell Inc.", "PowerEdge R740"},
       {"A1=0.0.0"},
       0},
      {"Product: and Model: together must both match",
       "Vendor: Supermicro\nProduct: SYS-1027R-WRF\nModel: X9DRW\nA1: 0.0.0;\n"
       "Vendor: Supermicro\nProduct: SYS-OTHER\nModel: X9DRW\nWRONG: 0.0.1;\n",
       kX9drw,
       {"A1=0.0.0"},
       0},
      {"an empty machine name matches nothing",
       "Vendor: Supermicro\nModel: X9DRW\nA1: 0.0.0;\n",
       {"Supermicro", "", "", ""},
       {},
       0},
      {"malformed lines are noted and skipped, the rest stands",
       "A0: 0.0.0;\n"    // before any vendor
       "Model: X9DRW\n"  // a machine before any vendor
       "Vendor: Supermicro\nModel: X9DRW\n"
       "NOCOLON 0.0.0;\n"  // no colon
       ": 0.0.0;\n"        // no label
       "B1: 0.x.0; B2: 0; B3: 0.0.0.0.0; B4: -1.0.0; B5: 0..0; B6:;\n"
       "B7: 99999999999.0.0;\n"  // past an unsigned
       "A1: 0.0.0, 0.y.0;\n",    // one good position of two
       kX9drw,
       {"A1=0.0.0"},
       12},
      {"a label may hold a colon",
       "Vendor: V\nModel: M\nCPU1: DIMM A1: 1.0.0;\n",
       {"V", "M", "", ""},
       {"CPU1: DIMM A1=1.0.0"},
       0},
      {"Vendor: without a name ends the group",
       "Vendor: Supermicro\nModel: X9DRW\nA1: 0.0.0;\nVendor:\nB1: 0.0.1;\n",
       kX9drw,
       {"A1=0.0.0"},
       2},
  };
  for (const label_case& c : cases) {
    dimm_label_db db;
    EXPECT_EQ(joined(chosen(c.text, c.machine, &db)), joined(c.expected)) << c.what;
    EXPECT_EQ(db.notes.size(), c.notes) << c.what << ":\n" << joined(db.notes);
  }
}

TEST(DimmLabels, NotesNameFileAndLineAndShowNoControlBytes) {
  dimm_label_db db;
  parse_dimm_labels("Vendor: V\nModel: M\n\nBAD\x1b[2J\x07: q;\n", "/etc/ras/dimm_labels.db", &db);
  ASSERT_EQ(db.notes.size(), 1u);
  EXPECT_EQ(db.notes[0].rfind("/etc/ras/dimm_labels.db:4: ", 0), 0u) << db.notes[0];
  for (char c : db.notes[0]) EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << db.notes[0];
}

// Megabytes of garbage give a bounded number of notes.
TEST(DimmLabels, NotesAreBounded) {
  dimm_label_db db;
  std::string junk = "Vendor: V\nModel: M\n";
  for (int i = 0; i < 5000; ++i) junk += "junk;junk;\n";
  parse_dimm_labels(junk, "f", &db);
  EXPECT_EQ(db.notes.size(), kDimmLabelMaxNotes);
  EXPECT_EQ(db.notes_dropped, 10000 - kDimmLabelMaxNotes);
}

// One position given two labels is given none; the same label twice is one.
TEST(DimmLabels, ConflictingPositionsKeepNeither) {
  std::vector<std::string> notes;
  const list got = chosen(
      "Vendor: Supermicro\nModel: X9DRW\nA1: 0.0.0; B1: 0.1.0; C1: 0.2.0;\n"
      "Model: X9DRW\nA2: 0.0.0; b1: 0.1.0;\n",
      kX9drw, nullptr, &notes);
  EXPECT_EQ(joined(got), joined({"B1=0.1.0", "C1=0.2.0"}));
  ASSERT_EQ(notes.size(), 1u) << joined(notes);
  EXPECT_NE(notes[0].find("position 0.0.0"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("\"A1\" (labels:3)"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("\"A2\" (labels:5)"), std::string::npos) << notes[0];
}

// The default database: the single file, then the directory's regular files
// in name order; nothing there is no error.
TEST(DimmLabels, DefaultFilesUnderARoot) {
  edac_tree t;  // only for its temporary directory
  t.file("etc/ras/dimm_labels.db", "Vendor: Supermicro\nModel: X9DRW\nA1: 0.0.0;\n");
  t.file("etc/ras/dimm_labels.d/20-more", "Vendor: Supermicro\nModel: X9DRW\nC1: 0.2.0;\n");
  t.file("etc/ras/dimm_labels.d/10-some", "Vendor: Supermicro\nModel: X9DRW\nB1: 0.1.0;\n");
  t.file("etc/ras/dimm_labels.d/subdir/ignored", "Vendor: Supermicro\nModel: X9DRW\nZ: 9.9.9;\n");
  t.fifo("etc/ras/dimm_labels.d/30-fifo");
  t.file("etc/ras/dimm_labels.d/40-huge", std::string(kDimmLabelFileLimit + 1, '#'));
  dimm_label_db db;
  load_default_dimm_labels(t.root(), &db);
  std::vector<std::string> names;
  for (const dimm_label_entry& e : select_dimm_labels(db, kX9drw, nullptr))
    names.push_back(e.label);
  EXPECT_EQ(joined(names), joined({"A1", "B1", "C1"}));
  ASSERT_EQ(db.notes.size(), 2u) << joined(db.notes);
  EXPECT_NE(db.notes[0].find("30-fifo: not a regular file"), std::string::npos) << db.notes[0];
  EXPECT_NE(db.notes[1].find("40-huge: larger than the limit"), std::string::npos) << db.notes[1];

  edac_tree empty;
  dimm_label_db none;
  load_default_dimm_labels(empty.root(), &none);
  EXPECT_TRUE(none.groups.empty());
  EXPECT_TRUE(none.notes.empty()) << joined(none.notes);
}

// A file the user names must be there and be a file.
TEST(DimmLabels, NamedFile) {
  edac_tree t;
  t.file("labels.db", "Vendor: Supermicro\nModel: X9DRW\nA1: 0.0.0;\n");
  t.dir("adir");
  t.fifo("afifo");
  dimm_label_db db;
  std::string error;
  EXPECT_TRUE(load_dimm_labels_file(t.root() + "/labels.db", &db, &error)) << error;
  EXPECT_EQ(db.groups.size(), 1u);
  for (const char* bad : {"/missing", "/adir", "/afifo"}) {
    error.clear();
    EXPECT_FALSE(load_dimm_labels_file(t.root() + bad, &db, &error)) << bad;
    EXPECT_EQ(error.rfind(t.root() + bad + ": ", 0), 0u) << error;
  }
  EXPECT_EQ(db.groups.size(), 1u);
}

}  // namespace
