// Names of the coded fields of types 16 and 17 (DMTF DSP0134 3.7, sections
// 7.17 and 7.18) and the filler strings firmware writes where it has no
// value. The makers are in vendors.cpp.
#include "detail/names.h"

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
  size_t set = 0;
  for (unsigned b = 1; b < 16; ++b) set += (raw >> b) & 1u;
  out.reserve(set);
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

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct word {
  const char* text;
  size_t size;
};
template <size_t N>
constexpr word known(const char (&text)[N]) {
  return word{text, N - 1};
}

// Whether the n bytes at p, lowercased, are word (lowercase, NUL-ended).
bool equals_lowered(const char* p, size_t n, const char* word) {
  for (size_t i = 0; i < n; ++i)
    if (word[i] == '\0' || ascii_lower(p[i]) != word[i]) return false;
  return word[n] == '\0';
}

}  // namespace

// Looks at the firmware's bytes where they are, with no copy: every string
// of every device passes through here.
bool is_placeholder(const std::string& raw) {
  const char* b = raw.data();
  const char* e = b + raw.size();
  while (e > b && (e[-1] == ' ' || e[-1] == '\t')) --e;
  while (b < e && (*b == ' ' || *b == '\t')) ++b;
  const auto n = static_cast<size_t>(e - b);
  if (n == 0) return true;
  // With their lengths, so that most are passed over on the length alone.
  static const word fillers[] = {known("not specified"),
                                 known("unknown"),
                                 known("no dimm"),
                                 known("empty"),
                                 known("none"),
                                 known("n/a"),
                                 known("na"),
                                 known("not available"),
                                 known("not installed"),
                                 known("abcd"),
                                 known("default string"),
                                 known("to be filled by o.e.m."),
                                 known("0x0000"),
                                 known("undefined")};
  for (const word& f : fillers)
    if (f.size == n && equals_lowered(b, n, f.text)) return true;
  // A label for a JEDEC code with no code after it, or zeros alone: "JEDEC
  // ID:", "0000", "00000000", "JEDEC ID:00 00".
  size_t zeros = n >= 9 && equals_lowered(b, 9, "jedec id:") ? 9 : 0;
  while (zeros < n && (b[zeros] == '0' || b[zeros] == ' ')) ++zeros;
  if (zeros == n) return true;
  // A template name with a number: "SerNum0", "PartNum3", "Array1_PartNumber0".
  static const word numbered[] = {known("sernum"), known("partnum"), known("assettagnum"),
                                  known("serialnum"), known("manufacturer")};
  size_t stem = n;
  while (stem > 0 && is_digit(b[stem - 1])) --stem;
  if (stem < n) {
    for (const word& w : numbered)
      if (w.size == stem && equals_lowered(b, stem, w.text)) return true;
    if (stem >= 5 && equals_lowered(b, 5, "array")) {
      // "array", digits, then the stem's first underscore.
      size_t k = 5;
      while (k < stem && is_digit(b[k])) ++k;
      if (k > 5 && k < stem && b[k] == '_') return true;
    }
  }
  return false;
}

}  // namespace raminfo_detail
