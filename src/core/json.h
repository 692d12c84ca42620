// JSON side of the library: escaping of firmware text and the report.
#ifndef RAMINFO_CORE_JSON_H
#define RAMINFO_CORE_JSON_H

#include <cstddef>
#include <cstdint>

#include "core/dimm.h"

// Copies at most bound bytes of src (stopping at a NUL) into the 64-byte field
// dst, ready to stand between JSON double quotes: '"' and '\' get a backslash,
// bytes 0x01-0x1F are dropped, text is cut to fit and trailing spaces trimmed.
void jesc(const uint8_t* src, size_t bound, char* dst);

constexpr size_t JSON_CAP = 16384;

// The report text, rewritten by every render_report.
extern char g_json[JSON_CAP];

// Renders the inventory, headed by total_mb, into g_json and returns it.
const char* render_report(int32_t total_mb);

#endif
