// Names of the coded fields of types 16 and 17 (DMTF DSP0134 3.7, sections
// 7.17 and 7.18) and the filler strings firmware writes where it has no
// value. The makers are in vendors.cpp.
#include "names/names.h"

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
bool is_alnum(char c) {
  // Bit 5 set lowers an ASCII capital and keeps a small letter as it is.
  const char l = static_cast<char>(c | 0x20);
  return is_digit(c) || (l >= 'a' && l <= 'z');
}

// The runs of ASCII letters and digits of a string, where they are, with no
// copy: every string of every device passes through here.
struct word_runs {
  static constexpr size_t kMax = 16;
  size_t count = 0;  // kMax + 1: more words than a filler has
  const char* at[kMax];
  size_t size[kMax];
  // What a template needs (is_template), seen on the way when the whole
  // string was read: only letters, digits, '_' and ' ', and a digit.
  bool read_whole = true, template_chars = true, digit = false;
};

word_runs runs_of(const char* b, const char* e) {
  word_runs w;
  for (const char* p = b; p < e;) {
    if (!is_alnum(*p)) {
      w.template_chars = w.template_chars && (*p == '_' || *p == ' ');
      ++p;
      continue;
    }
    const char* start = p;
    for (; p < e && is_alnum(*p); ++p) w.digit = w.digit || is_digit(*p);
    if (w.count == word_runs::kMax) {
      w.count = word_runs::kMax + 1;
      w.read_whole = false;
      break;
    }
    w.at[w.count] = start;
    w.size[w.count] = static_cast<size_t>(p - start);
    ++w.count;
  }
  return w;
}

// Whether the n bytes at p, lowercased, are word (lowercase, NUL-ended).
bool equals_lowered(const char* p, size_t n, const char* word) {
  for (size_t i = 0; i < n; ++i)
    if (word[i] == '\0' || ascii_lower(p[i]) != word[i]) return false;
  return word[n] == '\0';
}

// Whether words [first, count) are the phrase's words, space-separated.
bool words_are(const word_runs& w, size_t first, const char* phrase) {
  const char* p = phrase;
  for (size_t i = first; i < w.count; ++i) {
    const char* space = p;
    while (*space != '\0' && *space != ' ') ++space;
    const auto n = static_cast<size_t>(space - p);
    if (n != w.size[i]) return false;
    for (size_t k = 0; k < n; ++k)
      if (ascii_lower(w.at[i][k]) != p[k]) return false;
    p = *space == ' ' ? space + 1 : space;
    if (*space == '\0' && i + 1 < w.count) return false;
  }
  return *p == '\0';
}

// A word of one digit or letter pair repeated: "0000", "0x0000", "FFFF".
bool word_of(const char* p, size_t n, char c) {
  if (n > 2 && p[0] == '0' && ascii_lower(p[1]) == 'x') {
    p += 2;
    n -= 2;
  }
  for (size_t i = 0; i < n; ++i)
    if (ascii_lower(p[i]) != c) return false;
  return n > 0;
}

// Template text firmware ships unfilled: a stem with numbers and prefixes,
// "Manufacturer0", "A1_Manufacturer0", "Dimm3_Manufacturer", "Mfg 0",
// "SerNum0", "Array1_PartNumber0", "ModulePartNumber00". The string must
// hold a digit, so that a label such as "PartNumber" alone stays.
bool is_template(const char* b, const char* e, const word_runs& w) {
  static const char* const stems[] = {
      "manufacturer", "mfg",      "partnum",     "partnumber",     "sernum",          "serialnum",
      "serialnumber", "assettag", "assettagnum", "assettagnumber", "modulepartnumber"};
  bool chars = w.template_chars, digit = w.digit;
  if (!w.read_whole) {
    chars = true, digit = false;
    for (const char* p = b; p < e; ++p) {
      chars = chars && (is_alnum(*p) || *p == '_' || *p == ' ');
      digit = digit || is_digit(*p);
    }
  }
  if (!chars || !digit) return false;
  // Drop trailing digits and separators, then read the last segment.
  const char* end = e;
  while (end > b && (is_digit(end[-1]) || end[-1] == '_' || end[-1] == ' ')) --end;
  const char* start = end;
  while (start > b && start[-1] != '_' && start[-1] != ' ') --start;
  for (const char* stem : stems)
    if (equals_lowered(start, static_cast<size_t>(end - start), stem)) return true;
  return false;
}

// "123456789012345678", "012345678901234567...": a counting run typed in as
// a filler (its first digit may differ).
bool is_counting(const char* b, const char* e) {
  if (e - b < 8) return false;
  for (const char* p = b; p < e; ++p)
    if (!is_digit(*p)) return false;
  for (const char* p = b + 2; p < e; ++p)
    if (*p - '0' != (p[-1] - '0' + 1) % 10) return false;
  return true;
}

// One or two characters repeated to fill a long field: "DDDDDDDDDDDDDDDD",
// "EAEAEAEAEAEAEAEA"; a shorter run ("XXXXXXXX") is left as a value.
bool is_repeat(const char* b, const char* e) {
  const auto n = static_cast<size_t>(e - b);
  if (n < 16) return false;
  for (size_t i = 2; i < n; ++i)
    if (b[i] != b[i - 2]) return false;
  return true;
}

}  // namespace

// Words that say there is no value, as is_placeholder compares them (lower
// case, one space between words).
constexpr const char* kFillers[] = {"not specified",
                                    "unspecified",
                                    "unknown",
                                    "unknow",
                                    "undefined",
                                    "undef",
                                    "unde",
                                    "no dimm",
                                    "empty",
                                    "none",
                                    "null",
                                    "n a",
                                    "na",
                                    "other",
                                    "not available",
                                    "not installed",
                                    "not applicable",
                                    "abcd",
                                    "default string",
                                    "to be filled by o e m",
                                    "bad index",
                                    "dimm manufacturer"};

// The first letters of the fillers, a bit each: most strings start with
// none of them and are compared with none.
constexpr uint32_t filler_initials() {
  uint32_t bits = 0;
  for (const char* f : kFillers) bits |= f[0] >= 'a' && f[0] <= 'z' ? 1u << (f[0] - 'a') : ~0u;
  return bits;
}
constexpr uint32_t kFillerInitials = filler_initials();
static_assert(kFillerInitials != ~0u, "every filler starts with a small letter");

// Families of fillers, each seen in real tables: words that say there is no
// value ("Unknown", "[Empty]", "<BAD INDEX>", "N/A", "-", "To Be Filled By
// O.E.M."), "Unknown" with a note ("Unknown (0)"), zeros or erased bytes
// with or without a JEDEC label ("0000", "0x0000", "JEDEC ID:00 00",
// "FFFF"), template text with numbers ("Manufacturer00", "A1_Manufacturer0",
// "Mfg 0"), counting runs and one character repeated.
bool is_placeholder(const std::string& raw) {
  const char* b = raw.data();
  const char* e = b + raw.size();
  while (e > b && (e[-1] == ' ' || e[-1] == '\t')) --e;
  while (b < e && (*b == ' ' || *b == '\t')) ++b;
  const word_runs w = runs_of(b, e);
  // Nothing but punctuation: "", "-", "..", "[]".
  if (w.count == 0) return true;
  if (w.count <= word_runs::kMax) {
    // A filler's first letter rules out most at once: every string of
    // every device is checked.
    const char first_letter = ascii_lower(*w.at[0]);
    if (first_letter >= 'a' && first_letter <= 'z' &&
        (kFillerInitials >> (first_letter - 'a') & 1u) != 0)
      for (const char* f : kFillers)
        if (*f == first_letter && words_are(w, 0, f)) return true;
    // "Unknown" or "Undefined" with a note in brackets: "Unknown (0)",
    // "Unknown (ce00)", whose numbers no two firmwares read alike.
    if (equals_lowered(w.at[0], w.size[0], "unknown") ||
        equals_lowered(w.at[0], w.size[0], "undefined")) {
      const char* after = w.at[0] + w.size[0];
      while (after < e && *after == ' ') ++after;
      if (after < e && *after == '(') return true;
    }
    // Zeros or erased bytes, after a label that promises a code: "0000",
    // "0x0000", "JEDEC ID:", "JEDEC ID:00 00", "Unknown - [0x0000]", "FFFF".
    size_t first = 0;
    if (w.count >= 2 && equals_lowered(w.at[0], w.size[0], "jedec") &&
        equals_lowered(w.at[1], w.size[1], "id"))
      first = 2;
    else if (equals_lowered(w.at[0], w.size[0], "unknown"))
      first = 1;
    for (char c : {'0', 'f'}) {
      if (c == 'f' && first > 0) break;
      bool all = true;
      for (size_t i = first; i < w.count && all; ++i) all = word_of(w.at[i], w.size[i], c);
      if (all && (first > 0 || c == '0' || w.size[0] >= 4)) return true;
    }
    // "48spaces": a count of the spaces the firmware meant to write.
    if (w.count == 1 && w.size[0] > 6 && equals_lowered(w.at[0] + w.size[0] - 6, 6, "spaces") &&
        is_digit(w.at[0][0]))
      return true;
  }
  return is_template(b, e, w) || is_counting(b, e) || is_repeat(b, e);
}

}  // namespace raminfo_detail
