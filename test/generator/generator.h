// Generates SMBIOS structure tables from a seed: realistic ones, and hostile
// ones that break the table's rules the way broken firmware and cut files do.
// The same seed and options always give the same bytes, on every platform.
#ifndef RAMINFO_TEST_GENERATOR_GENERATOR_H
#define RAMINFO_TEST_GENERATOR_GENERATOR_H

#include <cstdint>
#include <string>
#include <vector>

namespace raminfo_gen {

using Bytes = std::vector<uint8_t>;

// A small deterministic PRNG (SplitMix64); the standard distributions are
// left alone because their output differs between standard libraries.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform in [lo, hi], both included.
  uint32_t between(uint32_t lo, uint32_t hi);
  // True with probability percent / 100.
  bool chance(unsigned percent);
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[between(0, static_cast<uint32_t>(items.size() - 1))];
  }

 private:
  uint64_t state_;
};

enum class Mode {
  // Every structure closed, lengths consistent, an end-of-table structure.
  well_formed,
  // Also: type 127 in the middle, length bytes of 3 or less, type 17 below 21
  // bytes, formatted areas running past the end, unterminated string sets,
  // string numbers beyond the set, a cut anywhere.
  hostile,
};

// Which awkward kinds of text device strings may hold.
enum StringFlavor : unsigned {
  kQuotesAndBackslashes = 1u << 0,
  kControlBytes = 1u << 1,  // 0x01..0x1F and 0x7F
  kHighBytes = 1u << 2,     // 0x80..0xFF
  kTrailingSpaces = 1u << 3,
  kLongStrings = 1u << 4,  // over 62 bytes
  kAllFlavors = 0x1F,
};

struct GeneratorOptions {
  Mode mode = Mode::well_formed;
  unsigned string_flavors = kAllFlavors;
  // Bounds on the number of memory devices; hostile mode sometimes goes far
  // past max_devices so that the report reaches its 16 KiB limit.
  unsigned min_devices = 0;
  unsigned max_devices = 12;
  // Up to this many structures of other types mixed in.
  unsigned max_other_structures = 8;
};

// One structure table (what /sys/firmware/dmi/tables/DMI holds).
Bytes generate_table(uint64_t seed, const GeneratorOptions& options);

// The raw block a platform returns: 8-byte header (calling method, SMBIOS
// version, DMI revision, table length), then generate_table's table. In
// hostile mode the length field may disagree with the bytes that follow.
Bytes generate_block(uint64_t seed, const GeneratorOptions& options);

// One device string of the given flavors, never empty, never holding a NUL.
std::string generate_string(Rng& rng, unsigned flavors);

}  // namespace raminfo_gen

#endif
