// Which SMBIOS memory device each EDAC module is: by its label, or by its
// position through a label database, and otherwise by nothing. A module is
// never attached to a device by guesswork; what does not join is listed.
#ifndef RAMINFO_EDAC_EDAC_JOIN_H
#define RAMINFO_EDAC_EDAC_JOIN_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "edac/edac.h"
#include "edac/edac_labels.h"

// A type-17 device as the join needs it: its two locator strings, as the
// table holds them, and the caller's index for it.
struct join_device {
  size_t index = 0;
  std::string bank_locator;
  std::string device_locator;
};

// The counts of the modules (or ranks) joined to one device.
struct device_errors {
  size_t index = 0;
  // Sums over the joined modules; unknown when any of them is unknown.
  std::optional<uint64_t> corrected;
  std::optional<uint64_t> uncorrected;
  // The EDAC names joined, in the tree's order: "mc0/rank0", "mc0/rank1".
  std::vector<std::string> edac;
  // "label", or "label_file" when any of them joined through the database.
  std::string matched_by;
};

struct unmatched_module {
  std::string edac;
  std::optional<std::string> label;
  std::optional<std::string> location;
  std::optional<uint64_t> corrected;
  std::optional<uint64_t> uncorrected;
};

// A controller's errors that the kernel could not place on a module.
struct unplaced_errors {
  std::string controller;
  std::optional<uint64_t> corrected;
  std::optional<uint64_t> uncorrected;
};

struct edac_join_result {
  // One per input device, in input order; empty when no module joins it.
  std::vector<std::optional<device_errors>> devices;
  // Modules no device took, in the tree's order; every controller's
  // unplaced counts, zero or not.
  std::vector<unmatched_module> unmatched;
  std::vector<unplaced_errors> unplaced;
  // Ambiguous labels and the like, one line each, for stderr: the first
  // kEdacMaxNotes, and how many more there were.
  std::vector<std::string> notes;
  size_t notes_dropped = 0;
};

// Joins every module of the report to the devices:
// 1. by its label: equal to "<bank> <device>" (only the non-empty one when
//    the other is empty, or with "N/A" or "NA" in its place, as kernels
//    have written it), or to "<device>" when exactly one device has that
//    locator; compared as fold_name gives them (case, white space at the
//    ends and the length of a run of it ignored). A label of
//    kEdacLabelMaxBytes may be a longer one the kernel cut: it also names
//    the devices whose "<bank> <device>" (or the like) it begins;
// 2. else by the label the database gives its position (controller number,
//    then its location's numbers), matched the same way; a row channel of
//    a kernel with module directories has the position of the one module
//    its label ties it to, and none (a note says why) when it ties to none;
// 3. else it is unmatched. A label that matches two devices matches
//    neither, with a note. Modules joining one device are summed (the ranks
//    of a module).
// labels are the entries select_dimm_labels chose for this machine.
edac_join_result join_edac(const edac_report& report, const std::vector<join_device>& devices,
                           const std::vector<dimm_label_entry>& labels);

#endif
