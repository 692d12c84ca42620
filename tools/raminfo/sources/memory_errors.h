// Per-module memory error counts for the views: Linux's EDAC tree read,
// joined to the table's memory devices, and written into the detail document
// (or the inventory) with the notes on stderr. A bad tree or label file only
// ever gives notes and unavailable counts, never a failed run.
#ifndef RAMINFO_TOOLS_SOURCES_MEMORY_ERRORS_H
#define RAMINFO_TOOLS_SOURCES_MEMORY_ERRORS_H

#include <string>

#include "detail/detail.h"
#include "smbios/smbios.h"
#include "sources/edac_labels.h"
#include "views/views.h"

// What to read, as the options ask for it.
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

// The SMBIOS names a label database is matched against: types 1 and 2 of t,
// or (when allowed and the table has neither) the kernel's copies under
// sysfs_root/class/dmi/id.
machine_identity machine_names(smbios_view t, const memory_errors_request& req);

// Reads and joins the counts for the devices of doc (decoded from t) and
// sets doc->errors and each device's errors. Prints the notes on stderr.
void add_memory_errors(const memory_errors_request& req, smbios_view t,
                       raminfo_detail::document* doc);

// The same for the inventory of the table and Prometheus views.
void add_memory_errors(const memory_errors_request& req, inventory* inv);

#endif
