// The inventory of the table and Prometheus views: every device as the core
// library decodes it, with what the detail decoder and the memory error
// counts add. Read by views/ (read_inventory) and joined to the counts here
// (sources/memory_errors.h).
#ifndef RAMINFO_TOOLS_SOURCES_INVENTORY_H
#define RAMINFO_TOOLS_SOURCES_INVENTORY_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/dimm.h"
#include "detail/detail.h"

// The inventory as the command-line tool shows it: every device in table
// order and the operating system's total (-1 when unknown).
struct inventory {
  std::vector<dimm_info> devices;
  // For each device, why it is not system memory (a flash ROM, video memory),
  // as --detail decides it; null for system memory. The views count and total
  // system memory only, as --detail does.
  std::vector<const char*> other_memory;
  int32_t total_mb = -1;
  // False when the SMBIOS table could not be read; devices is then empty.
  bool readable = false;
  // For each device, its maker's one spelling (the detail document's vendor
  // name), or "" when the firmware's string names no maker raminfo knows.
  std::vector<std::string> makers;
  // For each device, its place among the detail document's devices (every
  // type 17 structure).
  std::vector<size_t> detail_index;
  // For each device, its Bank Locator as the firmware wrote it ("" for
  // none): boards repeat slot names across banks ("DIMM 1" in each channel).
  std::vector<std::string> banks;
  // For each device, what the two table views show alike, as the detail
  // decoder reads it: the type's name ("" when its code has none) and
  // whether the manufacturer, part number and serial are placeholders.
  struct decoded_fields {
    std::string type;
    bool maker_placeholder = true, part_placeholder = true, serial_placeholder = true;
  };
  std::vector<decoded_fields> decoded;
  // Memory error counts, when read (sources/memory_errors.h): for each
  // device the counts joined to it, and where they come from. Without them
  // (available false) the views show no counts.
  std::vector<std::optional<raminfo_detail::module_errors>> errors;
  raminfo_detail::memory_errors memory_errors;
  // The detail document all of the above was read from: its configuration
  // and findings, each device's position (through detail_index), and what
  // the memory error counts join to without decoding the table again.
  raminfo_detail::document detail;
};

#endif
