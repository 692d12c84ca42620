// Views of the inventory for people and for monitoring, beside the library's
// own JSON.
#ifndef RAMINFO_TOOLS_VIEWS_H
#define RAMINFO_TOOLS_VIEWS_H

#include <cstdint>
#include <string>
#include <vector>

#include "smbios/smbios.h"
#include "text/printable.h"

// The inventory as the command-line tool shows it: every device in table
// order and the operating system's total (-1 when unknown).
struct inventory {
  std::vector<dimm_info> devices;
  int32_t total_mb = -1;
  // False when the SMBIOS table could not be read; devices is then empty.
  bool readable = false;
};

// Reads every device in one walk of the table, decoded as the library decodes
// it; false when the table cannot be read.
bool read_inventory(inventory* out);

// An aligned table, one row per device, and a closing summary line.
std::string render_table(const inventory& inv);

// The Prometheus text exposition format, for node_exporter's textfile
// collector: one series per populated module and the totals.
std::string render_prometheus(const inventory& inv);

// Library text fields come escaped for JSON; this gives back the firmware
// text, made printable by printable_text.
std::string display_text(const char* escaped);

#endif
