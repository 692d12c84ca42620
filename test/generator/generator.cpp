#include "generator.h"

#include <algorithm>

#include "little_endian.h"

namespace raminfo_gen {

uint64_t Rng::next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t Rng::between(uint32_t lo, uint32_t hi) {
  const uint64_t span = static_cast<uint64_t>(hi) - lo + 1;
  return lo + static_cast<uint32_t>(next() % span);
}

bool Rng::chance(unsigned percent) { return between(0, 99) < percent; }

namespace {

constexpr uint8_t kMemoryDevice = 17;
constexpr uint8_t kEndOfTable = 127;

void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// The string set after a formatted area: each string and its NUL, then the
// closing NUL (two NULs when there are no strings). An unterminated set lacks
// its closing NUL, so the walk runs on into whatever follows.
void append_strings(Bytes& b, const std::vector<std::string>& strings, bool terminated = true) {
  for (const std::string& s : strings) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
  }
  if (!terminated) return;
  if (strings.empty()) b.push_back(0);
  b.push_back(0);
}

const std::vector<std::string> kSlots = {
    "DIMM_A1", "DIMM_B2", "ChannelA-DIMM0", "ChannelB-DIMM1",       "DIMM 0",      "CPU1_DIMM_C3",
    "A1",      "B1",      "XMM1",           "Controller0-ChannelA", "RAM slot #0", "SODIMM1",
};
const std::vector<std::string> kBanks = {"BANK 0", "P0 CHANNEL A", "Bank1", "NODE 1"};
const std::vector<std::string> kMakers = {
    "Samsung",      "Micron Technology", "Kingston",      "SK Hynix", "Crucial",
    "00AD063200AD", "802C0000802C",      "Not Specified", "0000",     "Unknown",
};
const std::vector<std::string> kParts = {
    "M393A2K43BB1-CTD", "KHX3200C16D4/16GX",    "MTA18ASF2G72PZ-2G6E1",
    "HMA82GU6CJR8N-VK", "CT16G4SFRA32A.M16FRS", "NOT AVAILABLE",
    "0x0000",
};
const std::vector<std::string> kAssets = {"AssetTag0", "01193400", "Not Specified"};

std::string hex_serial(Rng& rng) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  const uint32_t n = rng.between(4, 16);
  for (uint32_t i = 0; i < n; ++i) s.push_back(digits[rng.between(0, 15)]);
  return s;
}

void insert_at_random(Rng& rng, std::string& s, char c) {
  s.insert(s.begin() + rng.between(0, static_cast<uint32_t>(s.size())), c);
}

std::string flavored(Rng& rng, std::string s, unsigned flavors) {
  if ((flavors & kQuotesAndBackslashes) && rng.chance(20)) {
    for (uint32_t i = rng.between(1, 4); i > 0; --i)
      insert_at_random(rng, s, rng.chance(50) ? '"' : '\\');
  }
  if ((flavors & kControlBytes) && rng.chance(15)) {
    for (uint32_t i = rng.between(1, 3); i > 0; --i) {
      insert_at_random(rng, s, static_cast<char>(rng.chance(85) ? rng.between(1, 0x1F) : 0x7F));
    }
  }
  if ((flavors & kHighBytes) && rng.chance(15)) {
    for (uint32_t i = rng.between(1, 4); i > 0; --i) {
      insert_at_random(rng, s, static_cast<char>(rng.between(0x80, 0xFF)));
    }
  }
  if ((flavors & kLongStrings) && rng.chance(12)) {
    const uint32_t target = rng.between(63, 140);
    while (s.size() < target) s += s.empty() ? std::string("x") : s;
    s.resize(target);
  }
  if ((flavors & kTrailingSpaces) && rng.chance(15)) {
    // Sometimes nothing but spaces, as firmware writes for an absent part
    // number.
    if (rng.chance(25)) s.clear();
    s.append(rng.between(1, 12), ' ');
  }
  return s;
}

// An empty string would close the string set early, so it never goes in.
std::string nonempty(std::string s) { return s.empty() ? std::string("-") : s; }

}  // namespace

std::string generate_string(Rng& rng, unsigned flavors) {
  std::string base;
  switch (rng.between(0, 4)) {
    case 0: base = rng.pick(kSlots); break;
    case 1: base = rng.pick(kMakers); break;
    case 2: base = rng.pick(kParts); break;
    case 3: base = hex_serial(rng); break;
    default: base = rng.pick(kBanks); break;
  }
  return nonempty(flavored(rng, base, flavors));
}

namespace {

// The Memory Device lengths firmware actually writes, one per SMBIOS
// revision that grew the structure (DSP0134 7.18), up to SMBIOS 3.7.
const std::vector<uint8_t> kRealLengths = {0x15, 0x1B, 0x1C, 0x22, 0x28, 0x54, 0x5C, 0x64};
// Module, controller, PMIC and RCD maker words as SPD holds them (continuation
// count with parity, then the JEP106 ID byte): Samsung, SK Hynix, Micron,
// Kingston, Crucial, Montage, an unknown one, and none.
const std::vector<uint16_t> kMakerIds = {0xCE80, 0xAD80, 0x2C80, 0x9801,
                                         0x9B85, 0x3286, 0x5504, 0x0000};
const std::vector<uint8_t> kMemoryTypes = {0x01, 0x02, 0x03, 0x0F, 0x12, 0x13, 0x18, 0x1A, 0x1B,
                                           0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x22, 0x23, 0x07};
const std::vector<uint16_t> kSpeeds = {0,    333,  800,  1333, 1600, 2133,
                                       2400, 2666, 2933, 3200, 4800, 5600};

class TableMaker {
 public:
  TableMaker(uint64_t seed, const GeneratorOptions& options)
      : rng_(seed ^ 0x5EEDC0DE5EEDC0DEull),
        opt_(options),
        hostile_(options.mode == Mode::hostile) {}

  Bytes make() {
    std::vector<Bytes> pieces;
    uint32_t devices = rng_.between(opt_.min_devices, std::max(opt_.min_devices, opt_.max_devices));
    if (hostile_ && rng_.chance(6)) devices = rng_.between(40, 160);
    const uint32_t others = rng_.between(0, opt_.max_other_structures);
    // The memory array usually comes first, as on real machines.
    if (rng_.chance(70)) pieces.push_back(memory_array(0x1000));
    if (rng_.chance(15)) pieces.push_back(memory_array(0x1001));
    for (uint32_t i = 0; i < devices; ++i) pieces.push_back(device(i));
    for (uint32_t i = 0; i < others; ++i) {
      const auto at = rng_.between(0, static_cast<uint32_t>(pieces.size()));
      pieces.insert(pieces.begin() + at, other_structure(random_other_type()));
    }
    if (hostile_) add_hostile_pieces(pieces);

    Bytes t;
    for (const Bytes& p : pieces) append(t, p);
    if (!hostile_ || rng_.chance(75)) append(t, end_of_table());
    if (hostile_) {
      if (rng_.chance(10)) {
        for (uint32_t i = rng_.between(1, 40); i > 0; --i)
          t.push_back(static_cast<uint8_t>(rng_.next()));
      }
      // A table cut anywhere: a truncated sysfs file or a hand-edited dump.
      if (rng_.chance(30)) t.resize(rng_.between(0, static_cast<uint32_t>(t.size())));
    }
    return t;
  }

 private:
  uint16_t next_handle() { return handle_++; }

  uint8_t random_other_type() {
    static const std::vector<uint8_t> common = {0,  1,  2,  3,  4,  7,  8,  9,
                                                11, 16, 19, 20, 32, 41, 221};
    if (rng_.chance(70)) return rng_.pick(common);
    const auto t = static_cast<uint8_t>(rng_.between(0, 126));
    return t == kMemoryDevice ? 18 : t;
  }

  Bytes end_of_table() {
    Bytes b = {kEndOfTable, 4, 0, 0};
    put_le(b, 2, next_handle(), 2);
    append_strings(b, {});
    return b;
  }

  Bytes other_structure(uint8_t type) {
    const auto length = static_cast<uint8_t>(rng_.between(4, 0x40));
    Bytes b(length);
    for (size_t i = 4; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng_.next());
    b[0] = type;
    b[1] = length;
    put_le(b, 2, next_handle(), 2);
    std::vector<std::string> strings;
    for (uint32_t i = rng_.between(0, 3); i > 0; --i) strings.push_back(generate_string(rng_, 0));
    append_strings(b, strings);
    return b;
  }

  // A string number for a new string s: 0 now and then (no string), and in
  // hostile mode sometimes a number past the end of the set.
  uint8_t string_ref(std::vector<std::string>& strings, const std::string& s) {
    if (rng_.chance(8)) return 0;
    if (hostile_ && rng_.chance(6)) return static_cast<uint8_t>(rng_.between(1, 255));
    strings.push_back(s);
    return static_cast<uint8_t>(strings.size());
  }

  // A Physical Memory Array (type 16, DSP0134 7.17) at the given handle: the
  // 2.1 or 2.7 layout, or another length; codes mostly real, some beyond.
  Bytes memory_array(uint16_t handle) {
    static const std::vector<uint8_t> lengths = {0x0F, 0x17};
    const auto length = static_cast<uint8_t>(
        rng_.chance(85) ? rng_.pick(lengths) : rng_.between(4, hostile_ ? 0x40 : 0x20));
    Bytes b(length, 0);
    b[0] = 16;
    b[1] = length;
    put_le(b, 0x02, handle, 2);
    static const std::vector<uint8_t> locations = {0x03, 0x03, 0x01, 0x02, 0x06,
                                                   0x0A, 0xA0, 0xA3, 0xA4};
    put_le(b, 0x04, rng_.chance(90) ? rng_.pick(locations) : rng_.between(0, 0xFF), 1);
    put_le(b, 0x05, rng_.chance(70) ? 0x03 : rng_.between(0, 8), 1);
    put_le(b, 0x06, rng_.between(0, 8), 1);
    // Maximum capacity in KiB, or 0x80000000 and the Extended Maximum
    // Capacity in bytes; sometimes an odd figure that no unit shows whole.
    const bool extended = rng_.chance(25);
    const uint32_t kib =
        rng_.chance(70) ? (uint32_t{1} << rng_.between(20, 31)) : rng_.between(1, 0x7FFFFFFF);
    put_le(b, 0x07, extended ? 0x80000000u : kib, 4);
    put_le(b, 0x0B, rng_.chance(80) ? 0xFFFE : rng_.between(0, 0xFFFF), 2);
    put_le(b, 0x0D, rng_.between(1, 64), 2);
    const uint64_t bytes = rng_.chance(70) ? (uint64_t{1} << rng_.between(35, 50))
                                           : (uint64_t{rng_.next()} >> rng_.between(0, 40));
    put_le(b, 0x0F, extended ? bytes : 0, 8);
    append_strings(b, {});
    return b;
  }

  uint8_t device_length() {
    if (hostile_ && rng_.chance(8)) return static_cast<uint8_t>(rng_.between(0x5D, 0xFF));
    if (rng_.chance(60)) return rng_.pick(kRealLengths);
    return static_cast<uint8_t>(rng_.between(0x15, 0x64));
  }

  // The size word at 0x0C and the Extended Size at 0x1C (DSP0134 7.18.5).
  void put_size(Bytes& b, uint8_t length) {
    uint16_t word;
    uint32_t extended = 0;
    const uint32_t roll = rng_.between(0, 99);
    if (roll < 15) {
      word = 0;  // empty slot
    } else if (roll < 23) {
      word = 0xFFFF;  // unknown
    } else if (roll < 33) {
      // Bit 15: the size is in KiB; below 1024 KiB it rounds to 0 MiB.
      word = static_cast<uint16_t>(
          0x8000 | (rng_.chance(30) ? rng_.between(1, 1023) : rng_.between(1024, 0x7FFF)));
    } else if (roll < 45 && (length >= 0x20 || hostile_)) {
      word = 0x7FFF;
      static const std::vector<uint32_t> big = {32768, 65536, 131072, 262144, 1048576};
      extended = rng_.chance(60) ? rng_.pick(big) : rng_.between(32768, 0x7FFFFFFF);
      if (hostile_ && rng_.chance(30)) extended = rng_.chance(50) ? 0 : (extended | 0x80000000u);
    } else {
      static const std::vector<uint16_t> sizes = {512, 1024, 2048, 4096, 8192, 16384, 32767 - 1};
      word = static_cast<uint16_t>(rng_.chance(70) ? rng_.pick(sizes) : rng_.between(1, 0x7FFE));
    }
    put_le(b, 0x0C, word, 2);
    put_le(b, 0x1C, extended, 4);
  }

  Bytes device(uint32_t index) {
    const uint8_t length = device_length();
    Bytes b(std::max<size_t>(length, 4), 0);
    b[0] = kMemoryDevice;
    b[1] = length;
    put_le(b, 0x02, next_handle(), 2);
    put_le(b, 0x04, 0x1000, 2);  // physical memory array handle
    put_le(b, 0x06, 0xFFFE, 2);  // no error information
    put_le(b, 0x08, rng_.chance(50) ? 72 : 64, 2);
    put_le(b, 0x0A, 64, 2);
    put_size(b, length);
    put_le(b, 0x0E, rng_.chance(70) ? (rng_.chance(60) ? 0x09 : 0x0D) : rng_.between(0, 0x11), 1);
    put_le(b, 0x0F, 0, 1);
    std::vector<std::string> strings;
    const unsigned flavors = opt_.string_flavors;
    const std::string slot =
        rng_.chance(70) ? kSlots[index % kSlots.size()] + std::to_string(index / kSlots.size())
                        : generate_string(rng_, 0);
    put_le(b, 0x10, string_ref(strings, nonempty(flavored(rng_, slot, flavors))), 1);
    put_le(b, 0x11, string_ref(strings, rng_.pick(kBanks)), 1);
    put_le(b, 0x12, rng_.pick(kMemoryTypes), 1);
    // Synchronous, sometimes with Registered, Unbuffered, LRDIMM or any bits.
    static const std::vector<uint16_t> details = {0x0080, 0x2080, 0x4080, 0x8080, 0x0004, 0x1000};
    put_le(b, 0x13, rng_.chance(85) ? rng_.pick(details) : rng_.between(0, 0xFFFF), 2);
    const uint16_t speed = rng_.chance(5) ? 0xFFFF : rng_.pick(kSpeeds);
    put_le(b, 0x15, speed, 2);
    auto text = [&](const std::vector<std::string>& names) {
      return nonempty(
          flavored(rng_, rng_.chance(80) ? rng_.pick(names) : hex_serial(rng_), flavors));
    };
    put_le(b, 0x17, string_ref(strings, text(kMakers)), 1);
    put_le(b, 0x18, string_ref(strings, nonempty(flavored(rng_, hex_serial(rng_), flavors))), 1);
    put_le(b, 0x19, string_ref(strings, rng_.pick(kAssets)), 1);
    put_le(b, 0x1A, string_ref(strings, text(kParts)), 1);
    put_le(b, 0x1B, rng_.between(0, 4), 1);
    put_le(b, 0x20, speed == 0xFFFF ? 0xFFFF : (rng_.chance(80) ? speed : rng_.pick(kSpeeds)), 2);
    const uint16_t mv = static_cast<uint16_t>(
        rng_.chance(15) ? 0 : rng_.pick(std::vector<uint32_t>{1100, 1200, 1350, 1500}));
    put_le(b, 0x22, mv, 2);
    put_le(b, 0x24, mv, 2);
    put_le(b, 0x26, mv, 2);
    put_le(b, 0x28, rng_.between(0, 8), 1);
    put_le(b, 0x29, rng_.chance(80) ? 0x0008 : rng_.between(0, 0x3F), 2);
    put_le(b, 0x2B,
           rng_.chance(50) ? 0 : string_ref(strings, rng_.chance(50) ? "1.0" : "Not Specified"), 1);
    put_le(b, 0x2C, rng_.pick(kMakerIds), 2);
    put_le(b, 0x2E, rng_.chance(50) ? 0 : rng_.between(1, 0xFFFF), 2);
    put_le(b, 0x30, rng_.pick(kMakerIds), 2);
    put_le(b, 0x32, rng_.chance(50) ? 0 : rng_.between(1, 0xFFFF), 2);
    // Non-volatile, volatile, cache and logical sizes in bytes: none, unknown
    // (all ones), or a real size.
    for (size_t off = 0x34; off < 0x54; off += 8) {
      const uint32_t roll = rng_.between(0, 9);
      const uint64_t v = roll < 5   ? 0
                         : roll < 7 ? ~uint64_t{0}
                                    : (uint64_t{rng_.between(1, 1u << 20)} << rng_.between(10, 30));
      put_le(b, off, v, 8);
    }
    // Speed 0xFFFF defers to the 32-bit Extended Speed fields (SMBIOS 3.3).
    put_le(b, 0x54, speed == 0xFFFF ? rng_.between(8000, 12000) : 0, 4);
    put_le(b, 0x58, speed == 0xFFFF ? rng_.between(8000, 12000) : 0, 4);
    // PMIC0 and RCD maker IDs and revisions (SMBIOS 3.7).
    put_le(b, 0x5C, rng_.pick(kMakerIds), 2);
    put_le(b, 0x5E, rng_.between(0, 0xFF), 2);
    put_le(b, 0x60, rng_.pick(kMakerIds), 2);
    put_le(b, 0x62, rng_.between(0, 0xFF), 2);
    if (hostile_ && rng_.chance(8)) {
      for (size_t i = 4; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng_.next());
    }
    append_strings(b, strings, !(hostile_ && rng_.chance(4)));
    return b;
  }

  void add_hostile_pieces(std::vector<Bytes>& pieces) {
    auto insert_somewhere = [&](Bytes b) {
      pieces.insert(pieces.begin() + rng_.between(0, static_cast<uint32_t>(pieces.size())),
                    std::move(b));
    };
    // An end-of-table structure in the middle hides all that follows.
    if (rng_.chance(12)) insert_somewhere(end_of_table());
    // A length byte of 3 or less ends the walk.
    if (rng_.chance(10)) {
      Bytes b = {static_cast<uint8_t>(rng_.chance(50) ? kMemoryDevice : rng_.between(0, 126)),
                 static_cast<uint8_t>(rng_.between(0, 3)), 0, 0};
      append_strings(b, {});
      insert_somewhere(b);
    }
    // A type 17 too short to be a device.
    if (rng_.chance(15)) {
      const auto length = static_cast<uint8_t>(rng_.between(4, 0x14));
      Bytes b(length, 0);
      b[0] = kMemoryDevice;
      b[1] = length;
      put_le(b, 0x0C, 1024, 2);
      append_strings(b, {"short"});
      insert_somewhere(b);
    }
  }

  Rng rng_;
  GeneratorOptions opt_;
  bool hostile_;
  uint16_t handle_ = 0;
};

}  // namespace

Bytes generate_table(uint64_t seed, const GeneratorOptions& options) {
  return TableMaker(seed, options).make();
}

Bytes generate_block(uint64_t seed, const GeneratorOptions& options) {
  const Bytes t = generate_table(seed, options);
  Rng rng(seed ^ 0xB10CB10CB10CB10Cull);
  uint32_t claimed = static_cast<uint32_t>(t.size());
  if (options.mode == Mode::hostile) {
    const uint32_t roll = rng.between(0, 99);
    if (roll < 12) {
      claimed += rng.between(1, 300);
    } else if (roll < 22) {
      claimed = rng.between(0, claimed);
    } else if (roll < 25) {
      claimed = 0xFFFFFFFFu;
    }
  }
  Bytes b = {0,
             static_cast<uint8_t>(rng.chance(70) ? 3 : 2),
             static_cast<uint8_t>(rng.between(0, 7)),
             0,
             0,
             0,
             0,
             0};
  put_le(b, 4, claimed, 4);
  append(b, t);
  // A block that ends inside its own header.
  if (options.mode == Mode::hostile && rng.chance(3)) b.resize(rng.between(0, 8));
  return b;
}

}  // namespace raminfo_gen
