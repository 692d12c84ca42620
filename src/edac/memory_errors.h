// Per-module memory error counts for the detail document: Linux's EDAC tree
// read and joined to the table's memory devices. Shared by the command-line
// host, which prints the messages on stderr, and the detail library, which
// drops them. A bad tree or label file only ever gives messages and
// unavailable counts, never a failure.
#ifndef RAMINFO_EDAC_MEMORY_ERRORS_H
#define RAMINFO_EDAC_MEMORY_ERRORS_H

#include <string>
#include <vector>

#include "detail/detail.h"
#include "edac/edac_labels.h"
#include "smbios/smbios.h"

// Why the counts are not read: on Windows at all, and on Linux for a saved
// table unless the user names the tree it came with.
inline constexpr const char* kMemoryErrorsNotOnWindows =
    "not read on Windows, which keeps memory errors in its event log";
inline constexpr const char* kMemoryErrorsSavedTable = "the saved table named no tree";

// What to read.
struct memory_errors_request {
  // False when the counts are not to be read; reason then says why (a saved
  // table that named no tree, a platform without EDAC).
  bool read = false;
  std::string reason;
  // The tree is read under sysfs_root + "/devices/system/edac/mc".
  std::string sysfs_root = "/sys";
  // A label file named by the user, or else the default database under
  // labels_root + "/etc/ras" ("" for the real one).
  bool labels_given = false;
  std::string labels_path;
  std::string labels_root;
  // Whether the machine's names may come from sysfs_root/class/dmi/id when
  // the table has no system or baseboard structure (udev's rebuilt devices).
  bool identity_from_sysfs = false;
};

// One thing worth telling a person, in the order it came up: a note about
// the tree or the labels, or the warning that the named label file
// (labels_path) could not be read, with the reason in text.
struct memory_errors_message {
  bool labels_unreadable = false;
  std::string text;
};

// The SMBIOS names a label database is matched against: types 1 and 2 of t,
// or (when allowed and the table has neither) the kernel's copies under
// sysfs_root/class/dmi/id.
machine_identity machine_names(smbios_view t, const memory_errors_request& req);

// Reads and joins the counts for the devices of doc (decoded from t) and
// sets doc->errors and each device's errors; the messages go to messages.
void add_memory_errors(const memory_errors_request& req, smbios_view t,
                       raminfo_detail::document* doc, std::vector<memory_errors_message>* messages);

#endif
