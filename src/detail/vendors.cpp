// The maker of a memory module from what the firmware says of it: a JEDEC
// JEP106 code (in any of the layouts firmware writes) or a readable name,
// resolved to one spelling per maker so that modules can be grouped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detail/detail.h"

namespace raminfo_detail {

namespace {

struct maker {
  unsigned bank;
  uint8_t code;
  const char* name;
};

// src/detail/jep106.txt, checked and turned into rows by the build.
const maker kMakers[] = {
#include "jep106.inc"
};

bool odd_parity(uint8_t b) {
  unsigned ones = 0;
  for (; b != 0; b = static_cast<uint8_t>(b >> 1)) ones += b & 1u;
  return ones % 2 == 1;
}

// A JEP106 ID byte as firmware writes it: with its odd parity bit, or as the
// bare seven-bit number (bit 7 clear). 0 and 0x7F (the continuation code)
// name no maker. Gives the byte with its parity bit.
opt<uint8_t> id_byte(uint8_t b) {
  const uint8_t n = b & 0x7F;
  if (n == 0 || n == 0x7F || ((b & 0x80) != 0 && !odd_parity(b))) return std::nullopt;
  return static_cast<uint8_t>(odd_parity(n) ? n : n | 0x80);
}

// The byte before the ID in SPD's layout: the number of continuation codes
// in bits 0-6, with or without its odd parity bit; gives the 1-based bank.
opt<unsigned> bank_byte(uint8_t b) {
  const unsigned n = b & 0x7Fu;
  if (n > 15 || ((b & 0x80) != 0 && !odd_parity(b))) return std::nullopt;
  return n + 1;
}

vendor_id jedec_vendor(unsigned bank, uint8_t code, const char* source) {
  const char* name = jedec_vendor_name(bank, code);
  return vendor_id{bank, code, name != nullptr ? name : "", source};
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_folded(const std::string& s, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i)
    if (at + i >= s.size() || lower(s[at + i]) != prefix[i]) return false;
  return true;
}

// A manufacturer string that spells a JEDEC code. The layouts firmware uses:
//   count then ID, SPD's order: "80AD", "0x80AD", "0198", "859B", and pairs
//     for module, register and DRAM makers of which the first counts:
//     "80AD000080AD", "00AD00B300AD";
//   ID after its continuation codes, zero-padded (DDR3 SPD's eight bytes):
//     "AD00000000000000", "7F7F9E0000000000";
// optionally after "JEDEC ID:" or "0x", with spaces between bytes.
opt<vendor_id> vendor_from_code(const std::string& raw) {
  size_t at = raw.find_first_not_of(' ');
  if (at == std::string::npos) return std::nullopt;
  if (starts_with_folded(raw, at, "jedec id:")) at = raw.find_first_not_of(' ', at + 9);
  if (at != std::string::npos && starts_with_folded(raw, at, "0x")) at += 2;
  std::vector<uint8_t> bytes;
  int high = -1;
  for (size_t i = at; i < raw.size(); ++i) {
    if (raw[i] == ' ') continue;
    const int d = hex_digit(raw[i]);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0 || bytes.size() < 2 || bytes.size() > 16) return std::nullopt;
  const opt<unsigned> bank = bank_byte(bytes[0]);
  const opt<uint8_t> id = id_byte(bytes[1]);
  if (bank && id) return jedec_vendor(*bank, *id, "jedec_code");
  // No count byte could start the string: the ID comes first, after any
  // continuation codes, and only zeros follow it.
  size_t k = 0;
  while (k < bytes.size() && bytes[k] == 0x7F) ++k;
  if (k >= bytes.size() || k > 15) return std::nullopt;
  const opt<uint8_t> first = id_byte(bytes[k]);
  if (!first) return std::nullopt;
  for (size_t i = k + 1; i < bytes.size(); ++i)
    if (bytes[i] != 0) return std::nullopt;
  return jedec_vendor(static_cast<unsigned>(k) + 1, *first, "jedec_code");
}

// The words of a name in lower case, letters and digits only: "G.Skill
// Intl" gives g, skill, intl.
std::vector<std::string> words_of(const std::string& s) {
  std::vector<std::string> out;
  std::string word;
  for (char c : s) {
    const char l = lower(c);
    if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9')) {
      word += l;
    } else if (!word.empty()) {
      out.push_back(word);
      word.clear();
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

// The name without the words that every maker's name may or may not carry,
// run together: "Nanya Technology Corp." and "NANYA" both give "nanya".
std::string name_key(const std::string& s) {
  static const char* const trailing[] = {"inc",
                                         "incorporated",
                                         "corp",
                                         "corporation",
                                         "co",
                                         "company",
                                         "ltd",
                                         "limited",
                                         "llc",
                                         "gmbh",
                                         "ag",
                                         "plc",
                                         "technology",
                                         "technologies",
                                         "semiconductor",
                                         "semiconductors",
                                         "electronics",
                                         "electronic",
                                         "international",
                                         "intl"};
  std::vector<std::string> words = words_of(s);
  bool dropped = true;
  while (dropped && words.size() > 1) {
    dropped = false;
    for (const char* t : trailing)
      if (words.back() == t) {
        words.pop_back();
        dropped = true;
        break;
      }
  }
  std::string key;
  for (const std::string& w : words) key += w;
  return key;
}

// Readable names of the makers of modules and DRAM, as firmware spells them.
// A key matches one or more whole words of the string run together, so that
// "G.Skill", "G-Skill" and "G Skill Intl" all give "gskill" and "Micronas"
// is not Micron. Makers with a JEDEC code take their name from the JEP106
// list; the others give theirs here.
struct alias {
  const char* key;
  unsigned bank;
  uint8_t code;
  const char* name;
};
const alias kAliases[] = {
    {"hynix", 1, 0xAD, nullptr},
    {"hyundai", 1, 0xAD, nullptr},
    {"micron", 1, 0x2C, nullptr},
    {"samsung", 1, 0xCE, nullptr},
    {"infineon", 1, 0xC1, nullptr},
    {"winbond", 1, 0xDA, nullptr},
    {"kioxia", 1, 0x98, nullptr},
    {"kingston", 2, 0x98, nullptr},
    {"transcend", 2, 0x4F, nullptr},
    {"apacer", 2, 0x7A, nullptr},
    {"smart", 2, 0x94, nullptr},
    {"smartmodular", 2, 0x94, nullptr},
    {"elpida", 2, 0xFE, nullptr},
    {"corsair", 3, 0x9E, nullptr},
    {"nanya", 4, 0x0B, nullptr},
    {"ramaxel", 5, 0x43, nullptr},
    {"adata", 5, 0xCB, nullptr},
    {"gskill", 5, 0xCD, nullptr},
    {"team", 5, 0xEF, nullptr},
    {"teamgroup", 5, 0xEF, nullptr},
    {"qimonda", 6, 0x51, nullptr},
    {"crucial", 6, 0x9B, nullptr},
    {"montage", 7, 0x32, nullptr},
    {"kingmax", 0, 0, "Kingmax"},
    {"patriot", 0, 0, "Patriot Memory"},
    {"unifosa", 0, 0, "Unifosa"},
    {"netlist", 0, 0, "Netlist"},
    {"virtium", 0, 0, "Virtium"},
    {"mushkin", 0, 0, "Mushkin"},
    {"pny", 0, 0, "PNY"},
    {"innodisk", 0, 0, "Innodisk"},
    {"swissbit", 0, 0, "Swissbit"},
    {"geil", 0, 0, "GeIL"},
};

// Makers of whole machines that put their own name on the modules they
// sell; the string names no DRAM maker, so it is kept as written.
const char* const kSystemMakers[] = {"hp",   "hpe",    "hewlettpackard", "hewlettpackardenterprise",
                                     "dell", "lenovo", "apple"};

bool words_hold(const std::vector<std::string>& words, const char* key) {
  const std::string k = key;
  for (size_t first = 0; first < words.size(); ++first) {
    std::string run;
    for (size_t i = first; i < words.size() && run.size() < k.size(); ++i) {
      run += words[i];
      if (run == k) return true;
    }
  }
  return false;
}

std::string trimmed(const std::string& s) {
  const char* space = " \t\r\n";
  const size_t first = s.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

opt<vendor_id> vendor_from_name(const std::string& raw) {
  const std::string key = name_key(raw);
  if (key.empty()) return std::nullopt;
  for (const char* m : kSystemMakers)
    if (key == m) return vendor_id{0, 0, trimmed(raw), "system_maker"};
  const std::vector<std::string> words = words_of(raw);
  for (const alias& a : kAliases) {
    if (!words_hold(words, a.key)) continue;
    if (a.bank == 0) return vendor_id{0, 0, a.name, "name"};
    return jedec_vendor(a.bank, a.code, "name");
  }
  // A maker's name as JEP106 gives it, give or take its company words.
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    for (const maker& m : kMakers) out.push_back(name_key(m.name));
    return out;
  }();
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i] == key) return vendor_id{kMakers[i].bank, kMakers[i].code, kMakers[i].name, "name"};
  return std::nullopt;
}

}  // namespace

const char* jedec_vendor_name(unsigned bank, uint8_t code) {
  for (const maker& m : kMakers)
    if (m.bank == bank && m.code == code) return m.name;
  return nullptr;
}

opt<vendor_id> vendor_from_module_id(uint16_t id) {
  // DSP0134 keeps the SPD's two bytes, count first, in a little-endian word.
  const opt<unsigned> bank = bank_byte(static_cast<uint8_t>(id & 0xFF));
  const opt<uint8_t> code = id_byte(static_cast<uint8_t>(id >> 8));
  if (!bank || !code) return std::nullopt;
  return jedec_vendor(*bank, *code, "module_manufacturer_id");
}

opt<vendor_id> vendor_from_string(const std::string& raw) {
  if (is_placeholder(raw)) return std::nullopt;
  if (opt<vendor_id> v = vendor_from_code(raw)) return v;
  return vendor_from_name(raw);
}

}  // namespace raminfo_detail
