// --save-dump: this machine's SMBIOS table written to a file for a bug
// report, in the layout its platform's tools read: dmidecode's --dump-bin
// file on Linux, the raw RSMB block on Windows. --from-dump reads both.
#ifndef RAMINFO_TOOLS_SAVE_SAVE_DUMP_H
#define RAMINFO_TOOLS_SAVE_SAVE_DUMP_H

#include <cstdint>
#include <string>
#include <vector>

// Where dmidecode's dump puts the table.
constexpr uint32_t kDumpTableOffset = 32;

// The file `dmidecode --dump-bin` writes for this entry point (the content of
// /sys/firmware/dmi/tables/smbios_entry_point) and structure table: the entry
// point with its table address changed to 32 and its checksums adjusted to
// match, zeros up to offset 32, then the table, cut to the length the entry
// point gives. False with a reason for an entry point that is not "_SM3_",
// "_SM_" or "_DMI_", or shorter than its layout.
bool dmidecode_dump(const std::vector<uint8_t>& entry_point, const std::vector<uint8_t>& table,
                    std::vector<uint8_t>* out, std::string* error);

// This machine's table in its platform's saved layout, and that layout's
// name. False with a reason (and a hint) when the table cannot be read.
bool read_machine_dump(std::vector<uint8_t>* out, std::string* layout, std::string* error);

// Writes this machine's table to path (stdout for "-"), and one line on
// stderr about it.
// Returns 0, or 1 when the table cannot be read or the file written.
int save_dump(const std::string& path);

#endif
