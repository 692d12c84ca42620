// Saved SMBIOS tables, turned into the raw block the library's loader reads.
#ifndef RAMINFO_TOOLS_SOURCES_SAVED_TABLE_H
#define RAMINFO_TOOLS_SOURCES_SAVED_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sources/choice.h"

// No saved table is larger: real ones are tens of KiB, and SMBIOS 2.x caps a
// table at 64 KiB. Anything beyond is refused before it is read.
constexpr size_t kDumpLimit = 16u << 20;

// The name a message gives a layout: "rsmb", "a dmidecode dump" or "a bare
// table".
const char* dump_format_label(dump_format format);

// Reads the whole of path, at most kDumpLimit bytes (and never more than one
// byte past it), into out. False with the reason when the file cannot be
// opened, is a directory, cannot be read or is larger than the limit.
bool read_dump_file(const std::string& path, std::vector<uint8_t>* out, std::string* error);

// Turns the file, in place, into the raw SMBIOS block (8-byte header, then the
// table) that the live platform would return for it, the table found and
// checked by locate_table (src/smbios/block.h), as the detail library finds
// it. Problems that still leave an answer (a table cut short, a wrong
// checksum, a forced layout the content contradicts) are added to warnings.
// False with a one-line reason when no table can be found (an unusable
// dmidecode entry point, bytes that are no structure table). A block with no
// table byte at all is left to the loader, which refuses it as too short.
bool dump_to_raw_block(std::vector<uint8_t>* file, dump_format format,
                       std::vector<std::string>* warnings, std::string* error);

#endif
