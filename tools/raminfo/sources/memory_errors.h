// Per-module memory error counts for the views: the shared reading and join
// (edac/memory_errors.h), with its messages as notes on stderr. A bad tree or
// label file only ever gives notes and unavailable counts, never a failed run.
#ifndef RAMINFO_TOOLS_SOURCES_MEMORY_ERRORS_H
#define RAMINFO_TOOLS_SOURCES_MEMORY_ERRORS_H

#include "detail/detail.h"
#include "edac/memory_errors.h"
#include "smbios/smbios.h"
#include "sources/inventory.h"

// Reads and joins the counts for the devices of doc (decoded from t) and
// sets doc->errors and each device's errors. Prints the notes on stderr.
void add_memory_errors(const memory_errors_request& req, smbios_view t,
                       raminfo_detail::document* doc);

// The same for the inventory of the table and Prometheus views; for an
// inventory whose table could not be read, the counts all join no device.
void add_memory_errors(const memory_errors_request& req, inventory* inv);

#endif
