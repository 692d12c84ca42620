// Module labels by EDAC position, from a DIMM label database in the format
// of rasdaemon's ras-mc-ctl(8): "Vendor:" lines, then "Model:" (or "Board:")
// and "Product:" lines naming the machines, then entries
// "LABEL: mc.top.mid[.low];", several to a line, with '#' comments. Written
// from that description alone.
#ifndef RAMINFO_EDAC_EDAC_LABELS_H
#define RAMINFO_EDAC_EDAC_LABELS_H

#include <cstddef>
#include <string>
#include <vector>

// A label file is a few KiB; a database directory a few dozen files.
constexpr size_t kDimmLabelFileLimit = size_t{1} << 20;
constexpr size_t kDimmLabelMaxFiles = 256;
// Notes past this many say only how many more there were.
constexpr size_t kDimmLabelMaxNotes = 50;
// A position is the controller and 1 to 3 layer numbers.
constexpr size_t kDimmLabelMinNumbers = 2;
constexpr size_t kDimmLabelMaxNumbers = 4;

// One label at one position: the controller number, then the numbers of
// the module's dimm_location in order.
struct dimm_label_entry {
  std::string label;
  std::vector<unsigned> position;
  // Where it was read, for notes: "FILE:LINE".
  std::string origin;
};

// The machines one run of entries is for. Each list holds alternatives; a
// value "A, B" names A, B, and "A, B" itself (a model name may hold a comma).
struct dimm_label_group {
  std::string vendor;
  std::vector<std::string> models;    // Model: and Board: — the baseboard's product
  std::vector<std::string> products;  // Product: — the system's product name
  std::vector<dimm_label_entry> entries;
};

struct dimm_label_db {
  std::vector<dimm_label_group> groups;
  // Malformed lines and unreadable files, one line each, for stderr.
  std::vector<std::string> notes;
  size_t notes_dropped = 0;
};

// Adds the groups of one file's text to db; source names it in notes.
// Never fails: what cannot be understood is noted and skipped.
void parse_dimm_labels(const std::string& text, const std::string& source, dimm_label_db* db);

// Reads one named file (--dimm-labels FILE) into db. False with the reason
// when it cannot be read: the user asked for it.
bool load_dimm_labels_file(const std::string& path, dimm_label_db* db, std::string* error);

// Reads the default database under root ("" for the real one):
// root/etc/ras/dimm_labels.db and the regular files of
// root/etc/ras/dimm_labels.d/, in name order. Absent files are no error;
// unreadable ones are noted.
void load_default_dimm_labels(const std::string& root, dimm_label_db* db);

// The SMBIOS names a group is matched against.
struct machine_identity {
  std::string board_vendor;    // type 2 Manufacturer
  std::string board_product;   // type 2 Product
  std::string system_vendor;   // type 1 Manufacturer
  std::string system_product;  // type 1 Product Name
};

// The entries for this machine. A group applies when its vendor is the
// board's maker and one of its models the board's product, or, for a group
// with Product: lines, when its vendor is the system's (or the board's)
// maker and one of its products the system's product; a group with both
// kinds of line must match both. Names are compared with spaces trimmed and
// case ignored. A position given two different labels keeps neither, with
// a note.
std::vector<dimm_label_entry> select_dimm_labels(const dimm_label_db& db,
                                                 const machine_identity& machine,
                                                 std::vector<std::string>* notes);

// The text compared: white space trimmed at both ends and each run of it
// inside made one space, ASCII letters folded.
std::string fold_name(const std::string& s);

#endif
