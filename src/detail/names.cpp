// Names of the coded fields of types 16 and 17 (DMTF DSP0134 3.7, sections
// 7.17 and 7.18) and the filler strings firmware writes where it has no
// value. The makers are in vendors.cpp.
#include "detail/names.h"

#include <cctype>
#include <cstring>

namespace raminfo_detail {

namespace {

template <size_t N>
const char* from_list(const char* const (&names)[N], uint32_t code, uint32_t first = 1) {
  if (code < first || code - first >= N) return nullptr;
  return names[code - first];
}

}  // namespace

const char* array_location_name(uint32_t code) {
  static const char* const low[] = {"Other",
                                    "Unknown",
                                    "System Board Or Motherboard",
                                    "ISA Add-on Card",
                                    "EISA Add-on Card",
                                    "PCI Add-on Card",
                                    "MCA Add-on Card",
                                    "PCMCIA Add-on Card",
                                    "Proprietary Add-on Card",
                                    "NuBus"};
  static const char* const high[] = {"PC-98/C20 Add-on Card", "PC-98/C24 Add-on Card",
                                     "PC-98/E Add-on Card", "PC-98/Local Bus Add-on Card",
                                     "CXL Add-on Card"};
  return code >= 0xA0 ? from_list(high, code, 0xA0) : from_list(low, code);
}

const char* array_use_name(uint32_t code) {
  static const char* const names[] = {"Other",        "Unknown",      "System Memory",
                                      "Video Memory", "Flash Memory", "Non-volatile RAM",
                                      "Cache Memory"};
  return from_list(names, code);
}

const char* error_correction_name(uint32_t code) {
  static const char* const names[] = {"Other",          "Unknown",       "None", "Parity",
                                      "Single-bit ECC", "Multi-bit ECC", "CRC"};
  return from_list(names, code);
}

const char* form_factor_full_name(uint32_t code) {
  static const char* const names[] = {
      "Other", "Unknown", "SIMM",         "SIP",  "Chip",   "DIP",   "ZIP",     "Proprietary Card",
      "DIMM",  "TSOP",    "Row Of Chips", "RIMM", "SODIMM", "SRIMM", "FB-DIMM", "Die",
      "CAMM"};
  return from_list(names, code);
}

const char* memory_type_full_name(uint32_t code) {
  // 0x15 to 0x17 are reserved.
  static const char* const names[] = {"Other",
                                      "Unknown",
                                      "DRAM",
                                      "EDRAM",
                                      "VRAM",
                                      "SRAM",
                                      "RAM",
                                      "ROM",
                                      "Flash",
                                      "EEPROM",
                                      "FEPROM",
                                      "EPROM",
                                      "CDRAM",
                                      "3DRAM",
                                      "SDRAM",
                                      "SGRAM",
                                      "RDRAM",
                                      "DDR",
                                      "DDR2",
                                      "DDR2 FB-DIMM",
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      "DDR3",
                                      "FBD2",
                                      "DDR4",
                                      "LPDDR",
                                      "LPDDR2",
                                      "LPDDR3",
                                      "LPDDR4",
                                      "Logical non-volatile device",
                                      "HBM",
                                      "HBM2",
                                      "DDR5",
                                      "LPDDR5",
                                      "HBM3"};
  return from_list(names, code);
}

const char* memory_technology_name(uint32_t code) {
  static const char* const names[] = {"Other",
                                      "Unknown",
                                      "DRAM",
                                      "NVDIMM-N",
                                      "NVDIMM-F",
                                      "NVDIMM-P",
                                      "Intel Optane persistent memory"};
  return from_list(names, code);
}

std::vector<const char*> type_detail_names(uint32_t raw) {
  static const char* const bits[] = {nullptr,
                                     "Other",
                                     "Unknown",
                                     "Fast-paged",
                                     "Static Column",
                                     "Pseudo-static",
                                     "RAMBUS",
                                     "Synchronous",
                                     "CMOS",
                                     "EDO",
                                     "Window DRAM",
                                     "Cache DRAM",
                                     "Non-Volatile",
                                     "Registered (Buffered)",
                                     "Unbuffered (Unregistered)",
                                     "LRDIMM"};
  std::vector<const char*> out;
  for (unsigned b = 1; b < 16; ++b)
    if (raw & (1u << b)) out.push_back(bits[b]);
  return out;
}

std::vector<const char*> operating_mode_names(uint32_t raw) {
  static const char* const bits[] = {nullptr,
                                     "Other",
                                     "Unknown",
                                     "Volatile memory",
                                     "Byte-accessible persistent memory",
                                     "Block-accessible persistent memory"};
  std::vector<const char*> out;
  for (unsigned b = 1; b < 6; ++b)
    if (raw & (1u << b)) out.push_back(bits[b]);
  return out;
}

bool is_placeholder(const std::string& raw) {
  std::string s = raw;
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t start = 0;
  while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
  s.erase(0, start);
  if (s.empty()) return true;
  std::string low;
  for (char c : s) low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const char* const fillers[] = {"not specified",
                                        "unknown",
                                        "no dimm",
                                        "empty",
                                        "none",
                                        "n/a",
                                        "na",
                                        "not available",
                                        "not installed",
                                        "abcd",
                                        "default string",
                                        "to be filled by o.e.m.",
                                        "0x0000",
                                        "undefined"};
  for (const char* f : fillers)
    if (low == f) return true;
  // A label for a JEDEC code with no code after it, or zeros: "JEDEC ID:".
  const std::string label = "jedec id:";
  if (low.compare(0, label.size(), label) == 0) low.erase(0, label.size());
  // Nothing but zeros: "0000", "00000000", "JEDEC ID:00 00".
  if (low.find_first_not_of("0 ") == std::string::npos) return true;
  // A template name with a number: "SerNum0", "PartNum3", "Array1_PartNumber0".
  static const char* const numbered[] = {"sernum", "partnum", "assettagnum", "serialnum",
                                         "manufacturer"};
  const size_t digits = low.find_last_not_of("0123456789");
  if (digits + 1 < low.size()) {
    const std::string stem = low.substr(0, digits + 1);
    for (const char* n : numbered)
      if (stem == n) return true;
    if (stem.compare(0, 5, "array") == 0) {
      const size_t underscore = stem.find('_');
      if (underscore != std::string::npos && underscore > 5 &&
          stem.find_first_not_of("0123456789", 5) == underscore)
        return true;
    }
  }
  return false;
}

}  // namespace raminfo_detail
