// The core library's table: read once through the platform seam
// (platform/platform.h), kept for the process, and the status text of the
// last failure.
#ifndef RAMINFO_CORE_LOADER_H
#define RAMINFO_CORE_LOADER_H

#include <cstddef>
#include <cstdint>

#include "smbios/smbios.h"

// ---- Status text -----------------------------------------------------------

constexpr size_t ERR_CAP = 256;

// The last loader failure, NUL-terminated; empty when none is on record.
extern char g_err[ERR_CAP];

// Replaces the status text with msg. Defined with the loader, its only writer.
void set_error(const char* msg);

// ---- Table cache -----------------------------------------------------------

// Heap copy of the structure table (without the 8-byte block header); NULL
// until a load succeeds. g_tbl_len is the number of bytes it holds.
extern uint8_t* g_tbl;
extern uint32_t g_tbl_len;

// Makes sure the table is cached: 1 on success (the platform is asked only
// until one load succeeds), 0 with the reason in g_err.
int load_smbios();

// The cached table, or an empty view when nothing is cached.
smbios_view smbios_cached_view();

#endif
