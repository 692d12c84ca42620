// Views of the inventory for people and for monitoring, beside the library's
// own JSON.
#ifndef RAMINFO_TOOLS_VIEWS_VIEWS_H
#define RAMINFO_TOOLS_VIEWS_VIEWS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sources/inventory.h"
#include "text/text.h"

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
