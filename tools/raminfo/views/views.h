// Views of the inventory for people and for monitoring, beside the library's
// own JSON.
#ifndef RAMINFO_TOOLS_VIEWS_VIEWS_H
#define RAMINFO_TOOLS_VIEWS_VIEWS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detail/detail.h"
#include "smbios/smbios.h"
#include "text/text.h"

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
  // For each device, its channel as the detail document tells it ("" when
  // unknown); the configuration and the findings over all devices.
  std::vector<std::string> channels;
  raminfo_detail::configuration setup;
  std::vector<raminfo_detail::finding> findings;
};

// Reads every device in one walk of the table, decoded as the library decodes
// it; false when the table cannot be read.
bool read_inventory(inventory* out);

// An aligned table, one row per device, and a closing summary line over the
// system memory; the maker is its one spelling where one is known; a device that is not system
// memory is marked in a NOTE column; a BANK column follows SLOT when two devices have one slot
// name. With memory error counts, CE and UE columns and a line for the errors on no listed device.
// Type names and placeholders ("-") are the detail table's. populated_only leaves out the rows
// of empty slots; the summary still counts them.
std::string render_table(const inventory& inv, bool populated_only = false);

// The Prometheus text exposition format, for node_exporter's textfile
// collector: one series per populated module of system memory, named by
// index, slot and bank, the totals over system memory, and the number of
// other memory devices; with memory error counts read, whether they are
// available and the counters.
std::string render_prometheus(const inventory& inv);

// raminfo --check: the findings, one line each, warnings first, or "no
// findings"; *warning tells whether one is a warning.
std::string render_check(const inventory& inv, bool* warning);

// The gauges of channels (when told) and findings by code, for --prometheus.
std::string setup_families(const inventory& inv);

// Library text fields come escaped for JSON ('"' and '\' after a
// backslash); this gives back the firmware text.
std::string library_text(const char* escaped);

// The same, made printable by printable_text.
std::string display_text(const char* escaped);

#endif
