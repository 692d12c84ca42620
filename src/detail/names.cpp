// Names of the coded fields of types 16 and 17 (DMTF DSP0134 3.7, sections
// 7.17 and 7.18), JEDEC JEP106 makers, and the filler strings firmware writes
// where it has no value.
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

const char* jedec_vendor_name(unsigned bank, uint8_t code) {
  // A small table of DRAM, module and register makers (JEDEC JEP106); the ID
  // byte carries its odd parity bit, as SPD and SMBIOS hold it.
  struct maker {
    unsigned bank;
    uint8_t code;
    const char* name;
  };
  static const maker makers[] = {
      {1, 0x2C, "Micron Technology"},
      {1, 0x4F, "Transcend Information"},
      {1, 0x89, "Intel"},
      {1, 0x94, "Smart Modular"},
      {1, 0xAD, "SK Hynix"},
      {1, 0xB3, "IDT"},
      {1, 0xC1, "Infineon"},
      {1, 0xCE, "Samsung"},
      {1, 0xDA, "Winbond"},
      {2, 0x7A, "Apacer"},
      {2, 0x98, "Kingston"},
      {2, 0xFE, "Elpida"},
      {3, 0x9E, "Corsair"},
      {4, 0x0B, "Nanya Technology"},
      {5, 0xCB, "A-DATA Technology"},
      {5, 0xCD, "G.Skill"},
      {5, 0xEF, "Team Group"},
      {6, 0x51, "Qimonda"},
      {6, 0x9B, "Crucial Technology"},
      {7, 0x32, "Montage Technology"},
  };
  for (const maker& m : makers)
    if (m.bank == bank && m.code == code) return m.name;
  return nullptr;
}

namespace {

// A JEP106 ID byte carries odd parity in bit 7; 0x00, 0x7F (the continuation
// code) and 0xFF are no maker.
bool valid_jedec_code(uint8_t code) {
  unsigned bits = 0;
  for (uint8_t c = code; c != 0; c = static_cast<uint8_t>(c >> 1)) bits += c & 1u;
  return bits % 2 == 1 && code != 0x7F && code != 0xFF;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

opt<vendor_id> vendor_from_pair(uint8_t continuation, uint8_t code, const char* source) {
  // The low 7 bits count continuation codes; bit 7 is their parity.
  const unsigned bank = (continuation & 0x7Fu) + 1;
  if (!valid_jedec_code(code) || bank > 16) return std::nullopt;
  return vendor_id{bank, code, jedec_vendor_name(bank, code), source};
}

}  // namespace

opt<vendor_id> vendor_from_module_id(uint16_t id) {
  if (id == 0) return std::nullopt;
  return vendor_from_pair(static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>(id >> 8),
                          "module_manufacturer_id");
}

opt<vendor_id> vendor_from_string(const std::string& raw) {
  // "80CE", "00AD00B300AD" (module, register and DRAM makers, the first
  // counts) or "JEDEC ID:80 AD": the first two bytes are the continuation
  // count and the ID byte.
  std::string s = raw;
  const std::string prefix = "JEDEC ID:";
  if (s.compare(0, prefix.size(), prefix) == 0) s.erase(0, prefix.size());
  std::string hex;
  for (char c : s) {
    if (c == ' ') continue;
    if (hex_digit(c) < 0) return std::nullopt;
    hex += c;
  }
  if (hex.size() < 4 || hex.size() % 2 != 0 || hex.size() > 32) return std::nullopt;
  const auto byte = [&](size_t i) {
    return static_cast<uint8_t>(hex_digit(hex[2 * i]) << 4 | hex_digit(hex[2 * i + 1]));
  };
  return vendor_from_pair(byte(0), byte(1), "manufacturer_string");
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
  // Nothing but zeros: "0000", "00000000".
  size_t zeros = 0;
  while (zeros < n && b[zeros] == '0') ++zeros;
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
