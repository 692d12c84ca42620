// The maker of a memory module from what the firmware says of it: a JEDEC
// JEP106 code (in any of the layouts firmware writes), a readable name, or
// the module's part number, resolved to one name per maker so that modules
// can be grouped.
#include "names/vendors.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "names/names.h"

namespace raminfo_detail {

namespace {

// A maker of JEDEC's JEP106 list: bank (1 to 18), the seven-bit number
// within it, and where kJedecText holds the name as JEDEC gives it and that
// name's key (see name_key).
struct jedec_row {
  uint8_t bank;
  uint8_t number;
  uint32_t name_at;
  uint32_t key_at;
};

// src/names/jep106.ids, checked and turned into rows by the build, in order
// of bank and number. JEP106 Standard Manufacturer's Identification Code,
// JEDEC Solid State Technology Association.
#include "jep106.inc"

const char* name_of(const jedec_row& r) { return kJedecText + r.name_at; }
const char* key_of(const jedec_row& r) { return kJedecText + r.key_at; }

// What a maker makes, as far as naming a module's maker goes: a maker of
// memory modules or DRAM, a maker of whole machines that labels the modules
// it sells, or neither.
enum class kind : uint8_t { memory, system, other };

// The makers raminfo names with a name of its own (short and recognisable)
// rather than JEDEC's, and the ones whose kind it knows. Codes are JEP106's,
// the ID byte with its odd parity bit; bank 0 for a maker JEP106 does not
// list.
enum class mk : uint8_t {
  sk_hynix,
  samsung,
  micron,
  kingston,
  crucial,
  gskill,
  corsair,
  adata,
  team,
  transcend,
  apacer,
  smart,
  elpida,
  nanya,
  ramaxel,
  qimonda,
  infineon,
  winbond,
  patriot,
  kingmax,
  unifosa,
  netlist,
  virtium,
  mushkin,
  pny,
  innodisk,
  swissbit,
  geil,
  cxmt,
  cxsh,
  silicon_power,
  lexar,
  goodram,
  essencore,
  gloway,
  netac,
  longsys,
  kingbank,
  kingspec,
  asgard,
  juhor,
  avexir,
  super_talent,
  ocz,
  centon,
  avant,
  gold_key,
  uniic,
  biwin,
  foxline,
  thermaltake,
  neo_forza,
  asint,
  sanmax,
  panram,
  puskill,
  acpi,
  montage,
  macronix,
  kioxia,
  ramxeed,
  sandisk,
  hp,
  hpe,
  dell,
  lenovo,
  apple,
  acer,
  count
};

struct known_maker {
  mk id;
  const char* name;
  uint8_t bank;
  uint8_t code;
  kind what;
};

constexpr known_maker kKnown[] = {
    {mk::sk_hynix, "SK Hynix", 1, 0xAD, kind::memory},
    {mk::samsung, "Samsung", 1, 0xCE, kind::memory},
    {mk::micron, "Micron Technology", 1, 0x2C, kind::memory},
    {mk::kingston, "Kingston", 2, 0x98, kind::memory},
    {mk::crucial, "Crucial", 6, 0x9B, kind::memory},
    {mk::gskill, "G.Skill", 5, 0xCD, kind::memory},
    {mk::corsair, "Corsair", 3, 0x9E, kind::memory},
    {mk::adata, "ADATA", 5, 0xCB, kind::memory},
    {mk::team, "Team Group", 5, 0xEF, kind::memory},
    {mk::transcend, "Transcend", 2, 0x4F, kind::memory},
    {mk::apacer, "Apacer", 2, 0x7A, kind::memory},
    {mk::smart, "Smart Modular", 2, 0x94, kind::memory},
    {mk::elpida, "Elpida", 3, 0xFE, kind::memory},
    {mk::nanya, "Nanya", 4, 0x0B, kind::memory},
    {mk::ramaxel, "Ramaxel", 5, 0x43, kind::memory},
    {mk::qimonda, "Qimonda", 6, 0x51, kind::memory},
    {mk::infineon, "Infineon", 1, 0xC1, kind::memory},
    {mk::winbond, "Winbond", 1, 0xDA, kind::memory},
    {mk::patriot, "Patriot Memory", 6, 0x02, kind::memory},
    {mk::kingmax, "Kingmax", 4, 0x25, kind::memory},
    {mk::unifosa, "Unifosa", 8, 0x07, kind::memory},
    {mk::netlist, "Netlist", 4, 0x16, kind::memory},
    {mk::virtium, "Virtium", 6, 0xBA, kind::memory},
    {mk::mushkin, "Mushkin", 4, 0x94, kind::memory},
    {mk::pny, "PNY", 2, 0xBA, kind::memory},
    {mk::innodisk, "Innodisk", 7, 0xF1, kind::memory},
    {mk::swissbit, "Swissbit", 4, 0xDA, kind::memory},
    {mk::geil, "GeIL", 0, 0, kind::memory},
    {mk::cxmt, "CXMT", 11, 0x91, kind::memory},
    {mk::cxsh, "CXSH", 16, 0x01, kind::memory},
    {mk::silicon_power, "Silicon Power", 7, 0xD3, kind::memory},
    {mk::lexar, "Lexar", 11, 0x76, kind::memory},
    {mk::goodram, "Goodram", 8, 0x5D, kind::memory},
    {mk::essencore, "Essencore", 9, 0x98, kind::memory},
    {mk::gloway, "Gloway", 9, 0x13, kind::memory},
    {mk::netac, "Netac", 10, 0xF7, kind::memory},
    {mk::longsys, "Longsys", 10, 0xCD, kind::memory},
    {mk::kingbank, "Kingbank", 12, 0x92, kind::memory},
    {mk::kingspec, "KingSpec", 11, 0x02, kind::memory},
    {mk::asgard, "Asgard", 9, 0xF1, kind::memory},
    {mk::juhor, "Juhor", 9, 0x75, kind::memory},
    {mk::avexir, "Avexir", 7, 0x16, kind::memory},
    {mk::super_talent, "Super Talent", 7, 0x34, kind::memory},
    {mk::ocz, "OCZ", 5, 0xB0, kind::memory},
    {mk::centon, "Centon", 4, 0x19, kind::memory},
    {mk::avant, "Avant Technology", 6, 0xF7, kind::memory},
    {mk::gold_key, "Gold Key", 10, 0x45, kind::memory},
    {mk::uniic, "UniIC", 9, 0x1A, kind::memory},
    {mk::biwin, "Biwin", 11, 0x31, kind::memory},
    {mk::foxline, "Foxline", 11, 0xBA, kind::memory},
    {mk::thermaltake, "Thermaltake", 11, 0xC2, kind::memory},
    {mk::neo_forza, "Neo Forza", 10, 0xAD, kind::memory},
    {mk::asint, "ASint", 7, 0xC1, kind::memory},
    {mk::sanmax, "SanMax", 7, 0xE9, kind::memory},
    {mk::panram, "Panram", 8, 0x70, kind::memory},
    {mk::puskill, "PUSKILL", 11, 0xAD, kind::memory},
    {mk::acpi, "ACPI Digital", 8, 0xF7, kind::memory},
    // Makers of module components, flash, or memory other than DRAM modules.
    {mk::montage, "Montage Technology", 7, 0x32, kind::other},
    {mk::macronix, "Macronix", 1, 0xC2, kind::other},
    {mk::kioxia, "Kioxia", 1, 0x98, kind::other},
    {mk::ramxeed, "RAMXEED", 1, 0x04, kind::other},
    {mk::sandisk, "SanDisk", 1, 0x45, kind::other},
    // Machine makers: their label names no maker of the module's memory.
    {mk::hp, "HP", 1, 0x54, kind::system},
    {mk::hpe, "HPE", 10, 0x83, kind::system},
    {mk::dell, "Dell", 13, 0xFD, kind::system},
    {mk::lenovo, "Lenovo", 9, 0xC8, kind::system},
    {mk::apple, "Apple", 1, 0xC8, kind::system},
    {mk::acer, "Acer", 11, 0x6B, kind::system},
};

constexpr bool known_in_order() {
  for (size_t i = 0; i < sizeof kKnown / sizeof kKnown[0]; ++i)
    if (static_cast<size_t>(kKnown[i].id) != i) return false;
  return sizeof kKnown / sizeof kKnown[0] == static_cast<size_t>(mk::count);
}
static_assert(known_in_order(), "kKnown lists every mk once, in the enum's order");

const known_maker& known_of(mk m) { return kKnown[static_cast<size_t>(m)]; }

// Further JEP106 codes of a maker above: a second code for one company, or a
// unit JEDEC lists apart.
struct more_code {
  uint8_t bank;
  uint8_t code;
  mk maker;
};
constexpr more_code kMoreCodes[] = {
    {2, 0x45, mk::micron},   // Micron CMS
    {2, 0x32, mk::mushkin},  // Mushkin Enhanced Memory
    {7, 0x5E, mk::lexar},    // Lexar Media
    {8, 0x46, mk::gloway},   // Gloway International (HK)
    {17, 0x8F, mk::essencore}, {11, 0xD6, mk::longsys}, {13, 0xAB, mk::biwin},
    {18, 0xAB, mk::kingspec},  {11, 0xFD, mk::juhor},
};

// Readable names of the makers, as firmware spells them: the words of the
// name, lower case and run together (see words_start). JEDEC's earlier names
// of a code (Hyundai and Hynix, now SK Hynix; Fujitsu, now RAMXEED; Toshiba,
// now Kioxia; SanDisk and Western Digital) are here too, so that they name
// the code's present holder. Misspellings are here where the field shows
// them and no other maker comes close.
struct alias {
  const char* key;
  mk maker;
};
constexpr alias kAliases[] = {
    {"hynix", mk::sk_hynix},
    {"skhynix", mk::sk_hynix},
    {"hyundai", mk::sk_hynix},
    {"samsung", mk::samsung},
    {"micron", mk::micron},
    {"mircon", mk::micron},
    {"miron", mk::micron},
    {"kingston", mk::kingston},
    {"kinston", mk::kingston},
    {"crucial", mk::crucial},
    {"gskill", mk::gskill},
    {"corsair", mk::corsair},
    {"adata", mk::adata},
    {"team", mk::team},
    {"teamgroup", mk::team},
    {"transcend", mk::transcend},
    {"apacer", mk::apacer},
    {"smart", mk::smart},
    {"smartmodular", mk::smart},
    {"elpida", mk::elpida},
    {"nanya", mk::nanya},
    {"nayna", mk::nanya},
    {"ramaxel", mk::ramaxel},
    {"qimonda", mk::qimonda},
    {"infineon", mk::infineon},
    {"winbond", mk::winbond},
    {"patriot", mk::patriot},
    {"pdpsystems", mk::patriot},
    {"kingmax", mk::kingmax},
    {"unifosa", mk::unifosa},
    {"netlist", mk::netlist},
    {"virtium", mk::virtium},
    {"mushkin", mk::mushkin},
    {"pny", mk::pny},
    {"innodisk", mk::innodisk},
    {"swissbit", mk::swissbit},
    {"geil", mk::geil},
    {"changxin", mk::cxmt},
    {"cxmt", mk::cxmt},
    {"changxinmemorytechnologyshanghai", mk::cxsh},
    {"cxsh", mk::cxsh},
    {"siliconpower", mk::silicon_power},
    {"lexar", mk::lexar},
    {"goodram", mk::goodram},
    {"wilkelektronik", mk::goodram},
    {"essencore", mk::essencore},
    {"klevv", mk::essencore},
    {"gloway", mk::gloway},
    {"netac", mk::netac},
    {"longsys", mk::longsys},
    {"kingbank", mk::kingbank},
    {"kingspec", mk::kingspec},
    {"asgard", mk::asgard},
    {"juhor", mk::juhor},
    {"avexir", mk::avexir},
    {"supertalent", mk::super_talent},
    {"ocz", mk::ocz},
    {"centon", mk::centon},
    {"avant", mk::avant},
    {"goldkey", mk::gold_key},
    {"uniic", mk::uniic},
    {"unilc", mk::uniic},
    {"biwin", mk::biwin},
    {"foxline", mk::foxline},
    {"thermaltake", mk::thermaltake},
    {"neoforza", mk::neo_forza},
    {"asint", mk::asint},
    {"sanmax", mk::sanmax},
    {"panram", mk::panram},
    {"puskill", mk::puskill},
    {"acpidigital", mk::acpi},
    {"montage", mk::montage},
    {"macronix", mk::macronix},
    {"mxic", mk::macronix},
    {"kioxia", mk::kioxia},
    {"toshiba", mk::kioxia},
    {"ramxeed", mk::ramxeed},
    {"fujitsu", mk::ramxeed},
    {"sandisk", mk::sandisk},
    {"westerndigital", mk::sandisk},
    {"hp", mk::hp},
    {"hewlettpackard", mk::hp},
    {"hpe", mk::hpe},
    {"hewlettpackardenterprise", mk::hpe},
    {"dell", mk::dell},
    {"lenovo", mk::lenovo},
    {"apple", mk::apple},
    {"acer", mk::acer},
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

// JEP106 has 18 banks: up to 17 continuation codes.
constexpr unsigned kBanks = 18;

// The byte before the ID in SPD's layout: the number of continuation codes
// in bits 0-6, with or without its odd parity bit; gives the 1-based bank.
opt<unsigned> bank_byte(uint8_t b) {
  const unsigned n = b & 0x7Fu;
  if (n >= kBanks || ((b & 0x80) != 0 && !odd_parity(b))) return std::nullopt;
  return n + 1;
}

const jedec_row* jedec_row_of(unsigned bank, uint8_t code) {
  const unsigned want = bank << 8 | (code & 0x7Fu);
  const jedec_row* end = kJedec + sizeof kJedec / sizeof kJedec[0];
  const jedec_row* at = std::lower_bound(kJedec, end, want, [](const jedec_row& r, unsigned w) {
    return (static_cast<unsigned>(r.bank) << 8 | r.number) < w;
  });
  return at != end && (static_cast<unsigned>(at->bank) << 8 | at->number) == want ? at : nullptr;
}

// The maker of the table above that holds a code, if any.
const known_maker* known_of_code(unsigned bank, uint8_t code) {
  for (const known_maker& k : kKnown)
    if (k.bank == bank && k.code == code) return &k;
  for (const more_code& c : kMoreCodes)
    if (c.bank == bank && c.code == code) return &known_of(c.maker);
  return nullptr;
}

vendor_id vendor_of(unsigned bank, uint8_t code, const char* name, const char* source) {
  vendor_id v;
  v.bank = bank;
  v.code = code;
  v.name = name;
  v.source = source;
  return v;
}

vendor_id jedec_vendor(unsigned bank, uint8_t code, const char* source) {
  vendor_id v = vendor_of(bank, code, "", source);
  if (const known_maker* k = known_of_code(bank, code)) {
    v.name = k->name;
    v.memory_maker = k->what == kind::memory;
  } else if (const jedec_row* r = jedec_row_of(bank, code)) {
    v.name = name_of(*r);
  }
  return v;
}

vendor_id known_vendor(mk m, const char* source) {
  const known_maker& k = known_of(m);
  // A machine maker's label claims no code: it names no maker of the memory.
  if (k.what == kind::system) return vendor_of(0, 0, k.name, "system_maker");
  vendor_id v = vendor_of(k.bank, k.code, k.name, source);
  v.memory_maker = k.what == kind::memory;
  return v;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool alnum(char c) {
  const char l = lower(c);
  return (l >= 'a' && l <= 'z') || (l >= '0' && l <= '9');
}

bool starts_with_folded(const std::string& s, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i)
    if (at + i >= s.size() || lower(s[at + i]) != prefix[i]) return false;
  return true;
}

// The bytes of hex digits from at to the end, spaces between bytes allowed;
// none for any other character or an odd digit.
bool hex_bytes(const std::string& raw, size_t at, uint8_t (&bytes)[16], size_t* count) {
  *count = 0;
  int high = -1;
  for (size_t i = at; i < raw.size(); ++i) {
    if (raw[i] == ' ') continue;
    const int d = hex_digit(raw[i]);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      if (*count == 16) return false;
      bytes[(*count)++] = static_cast<uint8_t>(high << 4 | d);
      high = -1;
    }
  }
  return high < 0;
}

// "Unknown - [0x9B85]", "Unknown ID:0x9B85": a firmware that names no maker
// shows the structure's Module Manufacturer ID word (ID byte high, count
// byte low) instead; gives where its digits start.
size_t word_after_unknown(const std::string& raw, size_t at) {
  if (!starts_with_folded(raw, at, "unknown")) return std::string::npos;
  at += 7;
  for (const char* label : {" - [0x", " id:0x"}) {
    if (!starts_with_folded(raw, at, label)) continue;
    at += std::strlen(label);
    const size_t close = at + 4;
    const bool bracket = label[1] == '-';
    if (raw.size() != close + (bracket ? 1 : 0) || (bracket && raw[close] != ']'))
      return std::string::npos;
    return at;
  }
  return std::string::npos;
}

// A manufacturer string that spells a JEDEC code. The layouts firmware uses:
//   count then ID, SPD's order: "80AD", "0x80AD", "0198", "859B", and pairs
//     for module, register and DRAM makers of which the first counts:
//     "80AD000080AD", "00AD00B300AD";
//   ID after its continuation codes, zero-padded (DDR3 SPD's eight bytes):
//     "AD00000000000000", "7F7F9E0000000000";
//   the structure's ID word after "Unknown": "Unknown - [0x9B85]";
// optionally after "JEDEC ID:" or "0x", with spaces between bytes.
opt<vendor_id> vendor_from_code(const std::string& raw) {
  size_t at = raw.find_first_not_of(' ');
  if (at == std::string::npos) return std::nullopt;
  uint8_t bytes[16];
  size_t count = 0;
  const size_t word = word_after_unknown(raw, at);
  if (word != std::string::npos) {
    if (!hex_bytes(raw.substr(0, word + 4), word, bytes, &count)) return std::nullopt;
    std::swap(bytes[0], bytes[1]);
  } else {
    if (starts_with_folded(raw, at, "jedec id:")) at = raw.find_first_not_of(' ', at + 9);
    if (at != std::string::npos && starts_with_folded(raw, at, "0x")) at += 2;
    if (at == std::string::npos || !hex_bytes(raw, at, bytes, &count)) return std::nullopt;
  }
  if (count < 2) return std::nullopt;
  // Three pairs (module, register, DRAM): a pair of zeros is a maker the
  // firmware did not know, and the next pair counts ("0000000080AD").
  size_t pair = 0;
  if (count == 6)
    while (pair < 4 && bytes[pair] == 0 && bytes[pair + 1] == 0) pair += 2;
  const opt<unsigned> bank = bank_byte(bytes[pair]);
  const opt<uint8_t> id = id_byte(bytes[pair + 1]);
  if (bank && id) return jedec_vendor(*bank, *id, "jedec_code");
  // No count byte could start the string: the ID comes first, after any
  // continuation codes, and only zeros follow it.
  size_t k = 0;
  while (k < count && bytes[k] == 0x7F) ++k;
  if (k >= count || k >= kBanks) return std::nullopt;
  const opt<uint8_t> first = id_byte(bytes[k]);
  if (!first) return std::nullopt;
  for (size_t i = k + 1; i < count; ++i)
    if (bytes[i] != 0) return std::nullopt;
  return jedec_vendor(static_cast<unsigned>(k) + 1, *first, "jedec_code");
}

// Words a maker's name may or may not end with; cmake/jep106.cmake drops the
// same ones from JEDEC's names.
constexpr const char* kCompanyWords[] = {
    "inc",           "incorporated", "corp",          "corporation",    "co",          "company",
    "ltd",           "limited",      "llc",           "gmbh",           "ag",          "plc",
    "technology",    "technologies", "semiconductor", "semiconductors", "electronics", "electronic",
    "international", "intl"};

// Up to kMaxWords words of a name, each a run of ASCII letters and digits:
// where it starts in the string and how long it is.
constexpr size_t kMaxWords = 12;
struct words {
  size_t count = 0;
  size_t at[kMaxWords];
  size_t size[kMaxWords];
};

words words_of(const std::string& s) {
  words w;
  for (size_t i = 0; i < s.size() && w.count < kMaxWords;) {
    if (!alnum(s[i])) {
      ++i;
      continue;
    }
    w.at[w.count] = i;
    while (i < s.size() && alnum(s[i])) ++i;
    w.size[w.count] = i - w.at[w.count];
    ++w.count;
  }
  return w;
}

bool word_is(const std::string& s, const words& w, size_t i, const char* text) {
  return w.size[i] == std::strlen(text) && starts_with_folded(s, w.at[i], text);
}

// The name's words from the first, lower case and run together, without the
// company words it ends with: "Nanya Technology Corp." and "NANYA" both give
// "nanya". Compared with JEDEC's names made alike by the build.
std::string name_key(const std::string& s, const words& w) {
  size_t n = w.count;
  while (n > 1) {
    bool company = false;
    for (const char* c : kCompanyWords) company = company || word_is(s, w, n - 1, c);
    if (!company) break;
    --n;
  }
  std::string key;
  for (size_t i = 0; i < n; ++i)
    for (size_t k = 0; k < w.size[i]; ++k) key += lower(s[w.at[i] + k]);
  return key;
}

// Whether the string's first words, run together, are the key: "Hynix
// Semiconductor" starts with "hynix" and "G.Skill Intl" with "gskill", but
// "Micronas" is not "micron" and "Dream Team" does not start with "team".
bool words_start(const std::string& s, const words& w, const char* key) {
  size_t k = 0;
  for (size_t i = 0; i < w.count; ++i) {
    for (size_t c = 0; c < w.size[i]; ++c, ++k)
      if (key[k] == '\0' || lower(s[w.at[i] + c]) != key[k]) return false;
    if (key[k] == '\0') return true;
  }
  return false;
}

// The maker whose name, or one of its aliases, starts the string; the
// longest that does: "Changxin Memory Technology (Shanghai)" is CXSH,
// "Changxin" alone CXMT.
opt<vendor_id> vendor_from_alias(const std::string& raw, const words& w) {
  const alias* best = nullptr;
  for (const alias& a : kAliases)
    if (words_start(raw, w, a.key) &&
        (best == nullptr || std::strlen(a.key) > std::strlen(best->key)))
      best = &a;
  if (best == nullptr) return std::nullopt;
  return known_vendor(best->maker, "name");
}

opt<vendor_id> vendor_from_name(const std::string& raw) {
  const words w = words_of(raw);
  if (w.count == 0) return std::nullopt;
  if (opt<vendor_id> v = vendor_from_alias(raw, w)) return v;
  // A maker's name as JEP106 gives it, give or take its company words.
  const std::string key = name_key(raw, w);
  for (const jedec_row& r : kJedec)
    if (key == key_of(r)) {
      const uint8_t code = id_byte(r.number).value_or(0);
      if (const known_maker* k = known_of_code(r.bank, code)) return known_vendor(k->id, "name");
      return jedec_vendor(r.bank, code, "name");
    }
  return std::nullopt;
}

// Part numbers as makers publish their schemes (module and DRAM part number
// decoders): the start of the number, in which '#' is a digit, '+' one or
// more digits, '@' a letter, '?' a letter or digit, "[...]" one of the
// characters listed, and any other character itself, case ignored. Only
// starts that no other maker uses: a machine maker's own part numbers (HP's,
// Dell's, Lenovo's) name no maker of the memory.
struct part_scheme {
  const char* start;
  mk maker;
};
constexpr part_scheme kPartSchemes[] = {
    // Samsung: modules M3xx (DIMMs) and M4xx (SODIMMs), then the density
    // and generation letter (some firmware puts a space after M3 or M4);
    // DRAM and LPDDR packages K4, K3.
    {"M[34]##@", mk::samsung},
    {"M[34] ##@", mk::samsung},
    {"K4@", mk::samsung},
    {"K3@@", mk::samsung},
    // SK Hynix: modules HMA (DDR4), HMT (DDR3), HMP (DDR2), HMC (DDR5),
    // HYMP (older DDR2); DRAM H5, LPDDR packages H9.
    {"HMA", mk::sk_hynix},
    {"HMT#", mk::sk_hynix},
    {"HMP#", mk::sk_hynix},
    {"HMC@", mk::sk_hynix},
    {"HYMP#", mk::sk_hynix},
    {"H5@", mk::sk_hynix},
    {"H5#G##@", mk::sk_hynix},
    {"H9@", mk::sk_hynix},
    // Micron: DRAM and modules MT, DDR4 modules MTA, DDR5 modules MTC; the
    // module numbers give the count of chips first, then the generation
    // (H DDR2, J and K DDR3, A DDR4), the kind and the package
    // ("18KSF51272PZ", "4ATF51264HZ").
    {"MT#", mk::micron},
    {"MTA#", mk::micron},
    {"MTC#", mk::micron},
    {"+[HJKA][TS][FS]#", mk::micron},
    // Crucial: CT, Pro CP, Basics CB, Ballistix BL; older SODIMMs ST and RM
    // with the depth and width ("ST51264BA1339").
    {"CT#", mk::crucial},
    {"CP#", mk::crucial},
    {"CB#G", mk::crucial},
    {"BL#", mk::crucial},
    {"BL[EST]#", mk::crucial},
    {"[SR][TM]+B@#", mk::crucial},
    // Kingston: ValueRAM KVR, HyperX KHX and HX, Fury KF, KCP, ACR, module
    // numbers 9905, 9965, 99U5 and 99P5.
    {"KVR#", mk::kingston},
    {"KHX#", mk::kingston},
    {"HX[345]##C", mk::kingston},
    {"KF#", mk::kingston},
    {"KCP#", mk::kingston},
    {"ACR#", mk::kingston},
    {"99[06UP]5###", mk::kingston},
    // Corsair: CM then the series letter or the generation and X;
    // ValueSelect VS with the size.
    {"CM@", mk::corsair},
    {"CM#X", mk::corsair},
    {"VS+[GM][BS]", mk::corsair},
    // G.Skill: F2- to F5-, the generation, then the speed.
    {"F[2345]-#", mk::gskill},
    // ADATA: AD and XPG's AX, then the generation; its builds for machine
    // makers AM1, AO1 and AL1, then the form and speed.
    {"AD#", mk::adata},
    {"AX#", mk::adata},
    {"A[MOL]1[ULP]##", mk::adata},
    // Team Group: Elite TED.
    {"TED#", mk::team},
    // Patriot: Signature PSD, Viper PV, and its Viper modules' "3200 C16
    // Series".
    {"PSD#", mk::patriot},
    {"PV#", mk::patriot},
    {"#### C+ Series", mk::patriot},
    {"#### CL+ Series", mk::patriot},
    // Ramaxel: RM, the form letters, then digits.
    {"RM@#", mk::ramaxel},
    {"RM@@#", mk::ramaxel},
    // Nanya: NT then the density; its Elixir modules M2 then the form.
    {"NT#", mk::nanya},
    {"M2[FSXY]#", mk::nanya},
    // Elpida: modules EB, DDR3 DRAM EDJ, LPDDR EDF.
    {"EB@#", mk::elpida},
    {"EDJ#", mk::elpida},
    {"EDF@#", mk::elpida},
    // Smart Modular: SF, SG and SH with the generation, SMS4.
    {"S[FGH][345]##", mk::smart},
    {"SMS4", mk::smart},
    // Apacer: 78., 76. and 75. then the module code.
    {"7[568].?", mk::apacer},
    // Transcend: TS then the size; JetRam JM.
    {"TS#", mk::transcend},
    {"JM#", mk::transcend},
    // Kingmax: FL, two letters of the size and the form.
    {"FL@@#", mk::kingmax},
    // Goodram: GR and Iridium IR with the speed.
    {"GR####[DS]", mk::goodram},
    {"IR####[DS]", mk::goodram},
    // Gold Key: GKE and GKH.
    {"GK[EH]#", mk::gold_key},
    // LPDDR packages as some firmware writes them, without their first two
    // characters: Micron's MT53, Samsung's K4U, SK Hynix's H9HC and H9HK.
    {"53[BDE]+[GM]##D#", mk::micron},
    {"U?E3@4A", mk::samsung},
    {"H@NNN@", mk::sk_hynix},
};

// Whether the part number (from at) starts as the scheme says.
bool follows(const std::string& s, size_t at, const char* scheme) {
  for (const char* p = scheme; *p != '\0'; ++p) {
    const char c = at < s.size() ? s[at] : '\0';
    const bool digit = c >= '0' && c <= '9';
    switch (*p) {
      case '#':
        if (!digit) return false;
        break;
      case '+':
        if (!digit) return false;
        while (at + 1 < s.size() && s[at + 1] >= '0' && s[at + 1] <= '9') ++at;
        break;
      case '@':
        if (!alnum(c) || digit) return false;
        break;
      case '?':
        if (!alnum(c)) return false;
        break;
      case '[': {
        bool any = false;
        for (++p; *p != ']'; ++p) any = any || (c != '\0' && lower(c) == lower(*p));
        if (!any) return false;
        break;
      }
      default:
        if (c == '\0' || lower(c) != lower(*p)) return false;
    }
    ++at;
  }
  return true;
}

// A part number some firmware writes as the hex digits of its ASCII bytes
// ("0x484D54...2020" for "HMT..."): the text, or "" when it is no such thing.
std::string hex_text(const std::string& raw) {
  size_t at = starts_with_folded(raw, 0, "0x") ? 2 : 0;
  const size_t digits = raw.size() - at;
  if (digits < 8 || digits % 2 != 0) return "";
  std::string out;
  for (; at < raw.size(); at += 2) {
    const int high = hex_digit(raw[at]), low = hex_digit(raw[at + 1]);
    if (high < 0 || low < 0) return "";
    const char c = static_cast<char>(high << 4 | low);
    if (c == '\0') break;
    if (c < 0x20 || c > 0x7E) return "";
    out += c;
  }
  return out;
}

opt<vendor_id> vendor_from_scheme(const std::string& raw) {
  const size_t at = raw.find_first_not_of(' ');
  if (at == std::string::npos) return std::nullopt;
  for (const part_scheme& p : kPartSchemes)
    if (follows(raw, at, p.start)) return known_vendor(p.maker, "part_number");
  // A part number that starts with a maker of memory's name ("KINGSTON",
  // "TEAMGROUP-UD4-3200").
  opt<vendor_id> v = vendor_from_alias(raw, words_of(raw));
  if (v && v->memory_maker) {
    v->source = "part_number";
    return v;
  }
  return std::nullopt;
}

}  // namespace

const char* jedec_vendor_name(unsigned bank, uint8_t code) {
  if (const known_maker* k = known_of_code(bank, code)) return k->name;
  const jedec_row* r = jedec_row_of(bank, code);
  return r != nullptr ? name_of(*r) : nullptr;
}

opt<vendor_id> vendor_from_module_id(uint16_t id) {
  // DSP0134 keeps the SPD's two bytes, count first, in a little-endian word.
  const opt<unsigned> bank = bank_byte(static_cast<uint8_t>(id & 0xFF));
  const opt<uint8_t> code = id_byte(static_cast<uint8_t>(id >> 8));
  if (!bank || !code) return std::nullopt;
  return jedec_vendor(*bank, *code, "module_manufacturer_id");
}

opt<vendor_id> vendor_from_part_number(const std::string& raw) {
  if (is_placeholder(raw)) return std::nullopt;
  if (opt<vendor_id> v = vendor_from_scheme(raw)) return v;
  // Only then as hex: a part number of hex digits may be one as it stands.
  const std::string text = hex_text(raw);
  if (text.empty()) return std::nullopt;
  return vendor_from_scheme(text);
}

opt<vendor_id> choose_vendor(const opt<vendor_id>& from_string,
                             const opt<vendor_id>& from_module_id, const std::string* part_number) {
  if (from_string && from_string->memory_maker) return from_string;
  opt<vendor_id> out;
  if (from_module_id && from_module_id->memory_maker) out = from_module_id;
  if (!out && part_number != nullptr) out = vendor_from_part_number(*part_number);
  if (!out) return from_string ? from_string : from_module_id;
  // A code that named no maker of memory stays readable beside the maker.
  if (from_string && std::strcmp(from_string->source, "jedec_code") == 0)
    out->jedec_name = from_string->name;
  return out;
}

opt<vendor_id> vendor_from_string(const std::string& raw) {
  if (is_placeholder(raw)) return std::nullopt;
  if (opt<vendor_id> v = vendor_from_code(raw)) return v;
  return vendor_from_name(raw);
}

}  // namespace raminfo_detail
