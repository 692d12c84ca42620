// Saved SMBIOS tables, turned into the raw block the library's loader reads.
#ifndef RAMINFO_TOOLS_DUMP_H
#define RAMINFO_TOOLS_DUMP_H

#include <cstdint>
#include <string>
#include <vector>

enum class dump_format { automatic, rsmb, dmidecode, table };

// Parses "rsmb", "dmidecode" or "table"; false for anything else.
bool parse_dump_format(const std::string& name, dump_format* out);

// Tells the layout of a saved table from its content: a dmidecode dump starts
// with an entry point anchor, a Windows raw block with a plausible version
// header; anything else is taken as a bare structure table.
dump_format detect_dump_format(const std::vector<uint8_t>& file);

// Builds the raw SMBIOS block (8-byte header, then the table) that the live
// platform would return for this file. A raw block is returned as it stands.
// False with a one-line reason when a dmidecode dump's entry point is unusable.
bool dump_to_raw_block(const std::vector<uint8_t>& file, dump_format format,
                       std::vector<uint8_t>* block, std::string* error);

#endif
