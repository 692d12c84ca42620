// Checks the library's report against dmidecode's decoding of the same table.
#ifndef RAMINFO_TEST_DMIDECODE_COMPARE_H
#define RAMINFO_TEST_DMIDECODE_COMPARE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes a structure table as a `dmidecode --dump-bin` file: an SMBIOS 3
// "_SM3_" entry point (0x18 bytes, valid checksum, table address 32, maximum
// size = table size) at offset 0, zeros up to 32, then the table.
void write_dmidecode_dump(const std::vector<uint8_t>& table, const std::string& path,
                          uint8_t major = 3, uint8_t minor = 2);

// Runs `dmidecode --from-dump DMI_PATH -t 17` and compares each Memory Device
// it prints, in order, field by field with the slot objects of our JSON report
// (report_json is the full text of raminfo_get_json / `raminfo --from-dump`).
// Returns one line per disagreement (empty when they agree), each naming the
// device index, the field, our value and dmidecode's. The differences that are
// ours by design are listed as named rules in dmidecode_compare.cpp.
std::vector<std::string> compare_with_dmidecode(const std::string& report_json,
                                                const std::string& dmi_path);

// `dmidecode --from-dump DMI_PATH -t TYPES` (stderr dropped), or nullopt with
// the reason in *error.
std::optional<std::string> run_dmidecode(const std::string& dmi_path, const std::string& types,
                                         std::string* error);

// Compares a `raminfo --detail` document with dmidecode's decoding of types
// 16, 17, 19 and 20 of the same table, structure by structure and field by
// field.
// One line per disagreement; the intended differences are the named rules in
// dmidecode_detail_compare.cpp.
std::vector<std::string> compare_detail_with_dmidecode(const std::string& detail_json,
                                                       const std::string& dmi_path);

// True when dmidecode is on PATH (or in /usr/sbin or /sbin, where Debian puts
// it and where a user's PATH often does not reach).
bool dmidecode_available();

#endif
