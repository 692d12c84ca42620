#include <cstring>

#include "smbios/smbios.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define RAMINFO_WALK_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

// The walk's pieces are inlined into one loop per instruction set: the
// functions that run a walk are flattened, and the smallest pieces are forced
// inline everywhere.
#if defined(__GNUC__)
#define RAMINFO_INLINE inline __attribute__((always_inline))
#define RAMINFO_FLATTEN __attribute__((flatten))
#else
#define RAMINFO_INLINE inline
#define RAMINFO_FLATTEN
#endif

namespace {

constexpr uint8_t kEndOfTable = 127;
constexpr uint8_t kMemoryDevice = 17;

// How the device walk judges a structure from its header, by type, with two
// comparisons of its length byte. It steps over it without a second look when
// the length is above `above`: 3 for every type (a length of 3 or less ends
// the walk), 255 for memory devices and the end-of-table structure, which
// therefore always get the second look. There, a memory device to pass has a
// length of at least device_min: 21 for type 17, and 256, never, for the
// others. 32-bit entries, so that a length in a register compares with them
// as it is.
struct header_rule {
  uint32_t above;
  uint32_t device_min;
};
struct header_rules {
  header_rule of[256];
};
constexpr header_rules make_header_rules() {
  header_rules r{};
  for (header_rule& v : r.of) v = header_rule{3, 256};
  r.of[kEndOfTable].above = 255;
  r.of[kMemoryDevice] = header_rule{255, 21};
  return r;
}
constexpr header_rules kHeaderRules = make_header_rules();

constexpr size_t kNone = ~size_t{0};

// Where the structure after a string set that closes at `close` begins, or
// kNone when fewer than 4 bytes would remain for its header.
RAMINFO_INLINE size_t after_close(size_t close, size_t len) {
  return close + 6 > len ? kNone : close + 2;
}

// The first NUL of the pair that closes the string set at s, one byte at a
// time (the scan never looks before s); end - 1 when the set is not closed,
// s when fewer than two bytes remain.
size_t string_set_close_bytes(smbios_view t, size_t s) {
  if (s + 1 >= t.len) return s;
  const uint8_t* set = smbios_bytes(t, s, t.len - s);
  const size_t n = t.len - s;
  for (size_t i = 0; i + 1 < n; ++i) {
    if (set[i] == 0 && set[i + 1] == 0) return s + i;
  }
  return t.len - 1;
}

// Instruction sets for the scan. A window is kWidth bytes; its mask has bit k
// set when byte k of the window is NUL. first(p) gives the bits of its first
// kFirst bytes, rest(p) those of the others, so that a short string set costs
// only the first part. The caller has checked that the whole window lies
// inside the table. kWidth 0 means bytes are looked at one at a time.
struct portable_scan {
  // Read only where it is the baseline, on processors without SSE2.
  [[maybe_unused]] static constexpr size_t kWidth = 0;
  [[maybe_unused]] static constexpr size_t kFirst = 0;
  using mask = uint64_t;
  static mask first(const uint8_t*) { return 0; }
  static mask rest(const uint8_t*) { return 0; }
};

#if defined(RAMINFO_WALK_X86)
// 64 bytes, four registers, a window, of which the first 16 are compared on
// their own: most string sets (caches, ports, slots) end in them, and those
// that do not (processors, memory devices) mostly end within 64.
struct sse2_scan {
  static constexpr size_t kWidth = 64;
  static constexpr size_t kFirst = 16;
  using mask = uint64_t;
  static RAMINFO_INLINE mask nul16(const uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
  }
  static RAMINFO_INLINE mask first(const uint8_t* p) { return nul16(p); }
  static RAMINFO_INLINE mask rest(const uint8_t* p) {
    return nul16(p + kFirst) << kFirst | nul16(p + 2 * kFirst) << 2 * kFirst |
           nul16(p + 3 * kFirst) << 3 * kFirst;
  }
};

// 64 bytes, two registers, a window, the first 32 compared on their own.
struct avx2_scan {
  static constexpr size_t kWidth = 64;
  static constexpr size_t kFirst = 32;
  using mask = uint64_t;
  // Not forced inline: they are inlined where they run, in the AVX2 walk,
  // and take no vector argument, so that no vector crosses between code built
  // for two instruction sets.
  __attribute__((target("avx2,bmi,bmi2"))) static mask nul32(const uint8_t* p) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
  }
  __attribute__((target("avx2,bmi,bmi2"))) static mask first(const uint8_t* p) { return nul32(p); }
  __attribute__((target("avx2,bmi,bmi2"))) static mask rest(const uint8_t* p) {
    return nul32(p + kFirst) << kFirst;
  }
};
#endif

// Offset of the lowest set bit of a non-zero mask.
RAMINFO_INLINE size_t lowest_bit(uint64_t m) {
#if defined(RAMINFO_WALK_X86) && defined(__x86_64__)
  // In place, so that nothing is cleared before the scan against a false
  // dependency on its output, nor widened after it (the builtin's int), two
  // instructions per structure. This is TZCNT's encoding, which runs as BSF
  // where BMI1 is missing: the same for a non-zero mask.
  uint64_t bit;
  __asm__("rep bsfq %1, %0" : "=r"(bit) : "r"(m) : "cc");
  return bit;
#else
  return static_cast<size_t>(__builtin_ctzll(m));
#endif
}

// Bit k of a window's mask nul: bytes k - 1 and k are both NUL, byte -1 being
// the last of the window before when carry is 1.
RAMINFO_INLINE uint64_t pairs(uint64_t nul, uint64_t carry = 0) { return nul & (nul << 1 | carry); }

// A string set at s is scanned by windows of width bytes when its first
// window lies inside the table, and so does the next header, which starts at
// most width bytes after s when that window holds the closing pair: when
// s + width + 4 <= len, that is s < the result. With no window, or a short
// table, the result is 0 and no s qualifies (s may be 0: the window is read
// before the length byte is judged).
constexpr size_t windows_limit(size_t width, size_t len) {
  return width != 0 && len >= width + 4 ? len - width - 3 : 0;
}

// The pairs that close a string set in its first window (see windows_limit),
// at s, given nul, the mask of the window's first kFirst bytes: in those bytes
// alone when one is there, else in the whole window, whose mask nul then
// becomes. Bit k: bytes s + k - 1 and s + k are both NUL; the next structure
// then starts at s + k + 1, at most s + kWidth, so its header lies inside the
// table. kApart: see step_over.
template <class Scan, bool kApart = false>
RAMINFO_INLINE typename Scan::mask window_pairs(const uint8_t* b, size_t s,
                                                typename Scan::mask* nul) {
  const typename Scan::mask second = pairs(*nul);
  if (__builtin_expect(second != 0, 1)) return second;
#if defined(__GNUC__)
  // Emits nothing; the compiler can no longer take the set's address from
  // the first part's load.
  if (kApart) __asm__("" : "+r"(s));
#endif
  *nul |= Scan::rest(b + s);
  return pairs(*nul);
}

// Where the structure after the string set at s begins, or kNone when the
// walk ends after it, when the set's first window, whose mask is nul, holds
// no closing pair: further windows follow while they and the next header lie
// inside the table (q < fast_limit, see windows_limit); the last bytes are
// looked at one at a time.
template <class Scan>
RAMINFO_INLINE size_t after_windows(smbios_view t, size_t s, typename Scan::mask nul,
                                    size_t fast_limit) {
  using mask = typename Scan::mask;
  constexpr size_t W = Scan::kWidth;
  static_assert(W > 0, "a window that does not advance would never end");
  static_assert(W == 8 * sizeof(mask), "a window is a mask's bits");
  size_t q = s;
  for (;;) {
    // Whether the last byte of this window is NUL: a pair may straddle two.
    const mask carry = nul >> (W - 1);
    q += W;
    if (q >= fast_limit) return after_close(string_set_close_bytes(t, q - 1), t.len);
    nul = Scan::first(t.base + q) | Scan::rest(t.base + q);
    const mask second = pairs(nul, carry);
    if (second != 0) return q + lowest_bit(second) + 1;
  }
}

// The same from the start of the set's first window (s < fast_limit), given
// the mask of its first kFirst bytes.
template <class Scan>
RAMINFO_INLINE size_t after_window(smbios_view t, size_t s, typename Scan::mask nul,
                                   size_t fast_limit) {
  const typename Scan::mask second = window_pairs<Scan>(t.base, s, &nul);
  if (second != 0) return s + lowest_bit(second) + 1;
  return after_windows<Scan>(t, s, nul, fast_limit);
}

// Where the structure after the string set at s begins, or kNone when the
// walk ends after it: by windows where s < fast_limit (windows_limit), else a
// byte at a time.
template <class Scan>
RAMINFO_INLINE size_t after_set(smbios_view t, size_t s, size_t fast_limit) {
  // Decided at compile time: a scanner without windows never instantiates the
  // window path, whose step of kWidth bytes would not advance.
  if constexpr (Scan::kWidth != 0) {
    using mask = typename Scan::mask;
    if (s < fast_limit) return after_window<Scan>(t, s, Scan::first(t.base + s), fast_limit);
    // Near the end of the table, windows of the first part's width, while
    // they and the next header lie inside, as in after_windows.
    mask carry = 0;
    size_t q = s;
    for (; q + Scan::kFirst + 4 <= t.len; q += Scan::kFirst) {
      const mask nul = Scan::first(t.base + q);
      const mask second = pairs(nul, carry);
      if (second != 0) return q + lowest_bit(second) + 1;
      carry = nul >> (Scan::kFirst - 1);
    }
    if (q != s) return after_close(string_set_close_bytes(t, q - 1), t.len);
  }
  return after_close(string_set_close_bytes(t, s), t.len);
}

// Passes the run of memory devices that starts at p, its string set at s and
// the mask of the first part of that set's window nul (s < fast_limit), while
// passing is above 0, counting it down. Memory devices come in runs: this loop
// tests a device's header for another device only. Returns false when the
// walk must look closer at the device at p (its set does not end within the
// windows), else true with p on the structure after the run, whatever it is.
template <class Scan>
RAMINFO_INLINE bool pass_devices(smbios_view t, size_t* at, size_t s, typename Scan::mask nul,
                                 size_t* to_pass, size_t fast_limit) {
  using mask = typename Scan::mask;
  const uint8_t* const b = t.base;
  size_t p = *at;
  size_t passing = *to_pass;
  bool on = true;
  for (;;) {
    const mask second = window_pairs<Scan>(b, s, &nul);
    size_t next;
    if (__builtin_expect(second != 0, 1)) {
      next = s + lowest_bit(second) + 1;
    } else {
      next = after_windows<Scan>(t, s, nul, fast_limit);
      if (next == kNone) {
        on = false;
        break;
      }
    }
    p = next;
    if (--passing == 0) break;
    const size_t length = b[p + 1];
    s = p + length;
    if (__builtin_expect(s >= fast_limit, 0)) break;
    nul = Scan::first(b + s);
    if (length < kHeaderRules.of[b[p]].device_min) break;
  }
  *at = p;
  *to_pass = passing;
  return on;
}

// Steps from p over the structures the device walk has no business with, and
// over memory devices while *to_pass is above 0 (counting it down), as long
// as the string sets are scanned by windows and another structure follows.
// Returns where the walk must look closer; p + 4 <= t.len still holds there.
// Kept apart from the rest of the walk, so that this loop, where the time
// goes, has the registers to itself.
template <class Scan>
size_t step_over(smbios_view t, size_t p, size_t* to_pass) {
  using mask = typename Scan::mask;
  const uint8_t* const b = t.base;
  const size_t fast_limit = windows_limit(Scan::kWidth, t.len);
  size_t passing = *to_pass;
  for (;;) {
    const size_t length = b[p + 1];
    const size_t s = p + length;
    if (__builtin_expect(s >= fast_limit, 0)) break;
    // Every structure here needs the first part of its window: read it
    // before the type.
    mask nul = Scan::first(b + s);
    const uint8_t type = b[p];
    const header_rule& rule = kHeaderRules.of[type];
    if (__builtin_expect(length <= rule.above, 0)) {
      if (length < rule.device_min || passing == 0) break;
      if (!pass_devices<Scan>(t, &p, s, nul, &passing, fast_limit)) break;
      continue;
    }
    const mask second = window_pairs<Scan, true>(b, s, &nul);
    if (__builtin_expect(second == 0, 0)) {
      const size_t next = after_windows<Scan>(t, s, nul, fast_limit);
      if (next == kNone) break;
      p = next;
      continue;
    }
    p = s + lowest_bit(second) + 1;
  }
  *to_pass = passing;
  return p;
}

RAMINFO_INLINE size_t step_over_with(portable_scan, smbios_view, size_t p, size_t*) { return p; }

#if defined(RAMINFO_WALK_X86)
__attribute__((noinline)) RAMINFO_FLATTEN size_t step_over_with(sse2_scan, smbios_view t, size_t p,
                                                                size_t* to_pass) {
  return step_over<sse2_scan>(t, p, to_pass);
}

__attribute__((target("avx2,bmi,bmi2"), noinline)) RAMINFO_FLATTEN size_t
step_over_with(avx2_scan, smbios_view t, size_t p, size_t* to_pass) {
  return step_over<avx2_scan>(t, p, to_pass);
}

using baseline_scan = sse2_scan;
#else
using baseline_scan = portable_scan;
#endif

// One walk, two uses: with kAll every structure is yielded (smbios_next);
// otherwise memory devices only, after passing *skip of them. The rules are
// those of smbios_next, stated in smbios.h. Every pass of the library runs
// this loop, so stepping over a structure it has no business with is kept
// short: the 4-byte header read once, one comparison for its type and
// length, one window of its string set.
template <class Scan, bool kAll>
bool walk(smbios_view t, smbios_walk* w, size_t* skip, smbios_struct* out) {
  if (w->done) return false;
  size_t p = w->next;
  // From here on p + 4 <= t.len holds: checked here, then kept by each step.
  if (smbios_bytes(t, p, 4) == nullptr) {
    w->done = true;
    return false;
  }
  const uint8_t* const b = t.base;
  // What step_over leaves, and smbios_next, is scanned with the baseline
  // instruction set: no wider registers for a few structures per walk.
  const size_t fast_limit = windows_limit(baseline_scan::kWidth, t.len);
  size_t to_pass = kAll ? 0 : *skip;
  for (;;) {
    if (!kAll) p = step_over_with(Scan{}, t, p, &to_pass);
    const uint8_t type = b[p];
    const size_t length = b[p + 1];
    const size_t s = p + length;
    if (length <= 3) break;
    const size_t next = after_set<baseline_scan>(t, s, fast_limit);
    if (type == kEndOfTable) break;
    if (kAll || (type == kMemoryDevice && length >= 21)) {
      if (to_pass == 0) {
        if (!kAll) *skip = 0;
        out->pos = p;
        out->type = type;
        out->length = static_cast<uint8_t>(length);
        out->strings = s;
        if (next == kNone) {
          w->done = true;
        } else {
          w->next = next;
        }
        return true;
      }
      --to_pass;
    }
    if (next == kNone) break;
    p = next;
  }
  w->done = true;
  if (!kAll) *skip = to_pass;
  return false;
}

#if defined(RAMINFO_WALK_X86)
// AVX2 (with BMI1 and BMI2, which every AVX2 processor but a few has) is used
// only where the CPU has it and the operating system saves the YMM registers
// (OSXSAVE, and XCR0 with the SSE and AVX state bits).
bool cpu_has_avx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  const unsigned kOsxsave = 1u << 27, kAvx = 1u << 28;
  if ((c & kOsxsave) == 0 || (c & kAvx) == 0) return false;
  unsigned xcr0_lo = 0, xcr0_hi = 0;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  if ((xcr0_lo & 6u) != 6u) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  const unsigned kBmi1 = 1u << 3, kAvx2 = 1u << 5, kBmi2 = 1u << 8;
  return (b & kBmi1) != 0 && (b & kAvx2) != 0 && (b & kBmi2) != 0;
}

__attribute__((target("avx2,bmi,bmi2"))) RAMINFO_FLATTEN bool next_device_avx2(smbios_view t,
                                                                               smbios_walk* w,
                                                                               size_t* skip,
                                                                               smbios_struct* out) {
  return walk<avx2_scan, false>(t, w, skip, out);
}

RAMINFO_FLATTEN bool next_device_sse2(smbios_view t, smbios_walk* w, size_t* skip,
                                      smbios_struct* out) {
  return walk<sse2_scan, false>(t, w, skip, out);
}

#endif

RAMINFO_FLATTEN bool next_device_portable(smbios_view t, smbios_walk* w, size_t* skip,
                                          smbios_struct* out) {
  return walk<portable_scan, false>(t, w, skip, out);
}

}  // namespace

RAMINFO_FLATTEN bool smbios_next(smbios_view t, smbios_walk* w, smbios_struct* out) {
  return walk<baseline_scan, true>(t, w, nullptr, out);
}

bool walk_isa_available(walk_isa isa) {
  switch (isa) {
    case walk_isa::portable: return true;
#if defined(RAMINFO_WALK_X86)
    case walk_isa::sse2: return true;
    case walk_isa::avx2: return cpu_has_avx2();
#else
    default: return false;
#endif
  }
  return false;
}

bool smbios_next_device_with(walk_isa isa, smbios_view t, smbios_walk* w, size_t* skip,
                             smbios_struct* out) {
  switch (isa) {
#if defined(RAMINFO_WALK_X86)
    case walk_isa::avx2: return next_device_avx2(t, w, skip, out);
    case walk_isa::sse2: return next_device_sse2(t, w, skip, out);
#endif
    default: return next_device_portable(t, w, skip, out);
  }
}

namespace {

// Offset of the first NUL at or after `from` (which lies inside the table),
// or t.len when there is none.
size_t next_nul(smbios_view t, size_t from) {
#if defined(RAMINFO_WALK_X86)
  // Most strings are shorter than a window: one step finds their end.
  constexpr size_t kStep = 32;
  for (; from + kStep <= t.len; from += kStep) {
    const uint64_t nul = sse2_scan::nul16(t.base + from) | sse2_scan::nul16(t.base + from + 16)
                                                               << 16;
    if (nul != 0) return from + lowest_bit(nul);
  }
#endif
  const uint8_t* rest = smbios_bytes(t, from, t.len - from);
  const void* nul = std::memchr(rest, 0, t.len - from);
  return nul != nullptr ? from + static_cast<size_t>(static_cast<const uint8_t*>(nul) - rest)
                        : t.len;
}

}  // namespace

void smbios_strings(smbios_view t, size_t strings, const uint8_t* numbers, smbios_text* texts,
                    size_t count) {
  // One pass while the numbers rise, as firmware usually numbers a device's
  // strings; a number below the last one found starts again at the set.
  unsigned k = 1;  // the number of the string at q
  size_t q = strings;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t n = numbers[i];
    texts[i] = smbios_text{nullptr, 0};
    if (n == 0) continue;
    if (n < k) {
      k = 1;
      q = strings;
    }
    for (; q < t.len; ++k) {
      const size_t end = next_nul(t, q);
      const size_t m = end - q;
      // An empty string ends the set: it and every later number give empty
      // text. q stays on it, so that later numbers find the same.
      if (m == 0) break;
      q = end + 1;
      if (k == n) {
        texts[i] = smbios_text{t.base + end - m, m};
        ++k;
        break;
      }
    }
  }
}

smbios_text smbios_string(smbios_view t, size_t strings, uint8_t n) {
  smbios_text text;
  smbios_strings(t, strings, &n, &text, 1);
  return text;
}
