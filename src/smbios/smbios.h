// An SMBIOS structure table in memory: the one bounds-checked way of reading
// it, the structure walk, a structure's fields and strings. No loading, no
// operating system and no JSON: the core library (src/core/) and the detail
// decoder (src/detail/) read tables through it.
#ifndef RAMINFO_SMBIOS_SMBIOS_H
#define RAMINFO_SMBIOS_SMBIOS_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "smbios/bytes.h"

// ---- Bounds-checked reading ------------------------------------------------

// A table in memory. Every read of firmware data goes through smbios_bytes,
// or through a walk step that has checked its window against len the same way.
struct smbios_view {
  const uint8_t* base;
  size_t len;
};

// Returns the address of count bytes at offset off, or NULL unless all of
// them lie inside the table. Offsets are compared, never pointers formed, so
// that a length byte pointing past the end cannot make an out-of-range address.
inline const uint8_t* smbios_bytes(smbios_view t, size_t off, size_t count) {
  if (t.base == nullptr || off > t.len || count > t.len - off) return nullptr;
  return t.base + off;
}

// Reads a little-endian unsigned field of width 1, 2 or 4 bytes at off; a
// field that does not lie wholly inside the table reads as 0.
inline uint32_t smbios_read(smbios_view t, size_t off, size_t width) {
  const uint8_t* p = smbios_bytes(t, off, width);
  return p != nullptr ? read_le(p, width) : 0;
}

// ---- Structure walk --------------------------------------------------------

// One structure as the walk yields it. Offsets count from the table start;
// strings may lie at or past the end when the formatted area is cut off.
struct smbios_struct {
  size_t pos;
  uint8_t type;
  uint8_t length;
  size_t strings;
};

// Where the walk stands: the offset of the next structure, or done.
struct smbios_walk {
  size_t next;
  bool done;
};

// Starts a walk; a table shorter than 4 bytes has nothing to walk.
inline smbios_walk smbios_walk_start(smbios_view t) { return smbios_walk{0, t.len < 4}; }

// Yields the next structure into out and returns true, or returns false when
// the walk has ended (length byte of 3 or less, end-of-table structure, or
// fewer than 4 bytes left after the previous structure).
bool smbios_next(smbios_view t, smbios_walk* w, smbios_struct* out);

// The same walk, yielding memory devices only (see is_memory_device): passes
// *skip devices, counting it down, and yields the next one into out. False
// when the walk ends first, with *skip reduced by the devices passed. This is
// the loop every call of the library spends its time in.
bool smbios_next_device(smbios_view t, smbios_walk* w, size_t* skip, smbios_struct* out);

// The instruction sets the device walk comes in. smbios_next_device takes
// the widest that this build and this CPU support; the others give the same
// results and can be asked for by name.
enum class walk_isa { portable, sse2, avx2 };

// Whether this build, on this CPU, can walk with isa.
bool walk_isa_available(walk_isa isa);

// smbios_next_device with the given instruction set, which must be available.
bool smbios_next_device_with(walk_isa isa, smbios_view t, smbios_walk* w, size_t* skip,
                             smbios_struct* out);

// A run of table bytes; len 0 means empty text (data may then be NULL).
struct smbios_text {
  const uint8_t* data;
  size_t len;
};

// String number n of the string set at offset strings, bounded by the end of
// the table; empty text when n is 0 or the set has no such string.
smbios_text smbios_string(smbios_view t, size_t strings, uint8_t n);

// Several strings of one set found in one pass: texts[i] is what
// smbios_string(t, strings, numbers[i]) gives, for i below count.
void smbios_strings(smbios_view t, size_t strings, const uint8_t* numbers, smbios_text* texts,
                    size_t count);

// ---- Fields of one structure ------------------------------------------------

// One structure's fields, by offset from its start. Its length byte says
// which fields the structure's version has; the table may still cut its
// formatted area short. A field reads one of two ways: get() gives it only
// when the length byte covers it and the table holds all of it (else null,
// as the detail document has it); versioned() gives it wherever the length
// byte covers it, reading 0 where the table cuts it off (as the core
// library's devices have it, in which a missing field reads as absent).
// It keeps a reference to st, which must outlive it.
class smbios_fields {
 public:
  smbios_fields(smbios_view t, const smbios_struct& st) : t_(t), st_(st) {}

  smbios_view table() const { return t_; }
  const smbios_struct& structure() const { return st_; }

  // The length byte covers the width bytes at off.
  bool has(size_t off, size_t width) const { return off + width <= st_.length; }
  // The length byte covers them and the table holds them.
  bool covers(size_t off, size_t width) const {
    return has(off, width) && smbios_bytes(t_, st_.pos + off, width) != nullptr;
  }
  // The little-endian field of width 1, 2 or 4 at off.
  std::optional<uint32_t> get(size_t off, size_t width) const {
    if (!covers(off, width)) return std::nullopt;
    return smbios_read(t_, st_.pos + off, width);
  }
  // The same wherever the length byte covers it, 0 where the table cuts it off.
  std::optional<uint32_t> versioned(size_t off, size_t width) const {
    if (!has(off, width)) return std::nullopt;
    return smbios_read(t_, st_.pos + off, width);
  }
  // The 8-byte field at off, as get() reads.
  std::optional<uint64_t> get64(size_t off) const {
    if (!covers(off, 8)) return std::nullopt;
    return static_cast<uint64_t>(smbios_read(t_, st_.pos + off + 4, 4)) << 32 |
           smbios_read(t_, st_.pos + off, 4);
  }

 private:
  smbios_view t_;
  const smbios_struct& st_;  // read where it lies: no copy per device
};

// ---- Memory devices ---------------------------------------------------------

// A Memory Device's structure type (DSP0134 7.18); smbios/memory_device.h
// reads one.
constexpr uint8_t kMemoryDeviceType = 17;

// Type 17 with a length byte of 21 or more; anything shorter is no device.
inline bool is_memory_device(const smbios_struct& st) {
  return st.type == kMemoryDeviceType && st.length >= 21;
}

#endif
