#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "smbios/smbios.h"

// Offsets are compared, never pointers formed, so that a length byte pointing
// past the end of the table cannot produce an out-of-range address.

const uint8_t* smbios_bytes(smbios_view t, size_t off, size_t count) {
  if (t.base == nullptr || off > t.len || count > t.len - off) return nullptr;
  return t.base + off;
}

uint32_t smbios_read(smbios_view t, size_t off, size_t width) {
  const uint8_t* p = smbios_bytes(t, off, width);
  if (p == nullptr) return 0;
  uint32_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | p[i];
  return v;
}

namespace {

constexpr uint8_t kEndOfTable = 127;

// Offset of the first NUL of the pair that closes the string set at s (the
// scan never looks before s); end - 1 when the set is not closed, s when
// fewer than two bytes remain.
size_t string_set_close(smbios_view t, size_t s) {
  if (s + 1 >= t.len) return s;
  const uint8_t* set = smbios_bytes(t, s, t.len - s);
  const size_t n = t.len - s;
  size_t i = 0;
#if defined(__SSE2__)
  // The walk is what every call pays for, so look at 16 bytes at a time: bit
  // k of pairs is set when bytes k and k + 1 are both NUL. Windows overlap by
  // one byte so that a pair across two windows is seen.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(set + i));
    const auto nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    const unsigned pairs = nul & (nul >> 1);
    if (pairs != 0) return s + i + static_cast<size_t>(__builtin_ctz(pairs));
  }
#endif
  for (; i + 1 < n; ++i) {
    if (set[i] == 0 && set[i + 1] == 0) return s + i;
  }
  return t.len - 1;
}

}  // namespace

smbios_walk smbios_walk_start(smbios_view t) { return smbios_walk{0, t.len < 4}; }

bool smbios_next(smbios_view t, smbios_walk* w, smbios_struct* out) {
  if (w->done) return false;
  const size_t p = w->next;
  // The walk only ever stands where 4 header bytes lie inside the table.
  const uint8_t* header = smbios_bytes(t, p, 4);
  if (header == nullptr || header[1] <= 3) {
    w->done = true;
    return false;
  }
  const uint8_t type = header[0];
  const uint8_t length = header[1];
  const size_t s = p + length;
  const size_t close = string_set_close(t, s);
  if (type == kEndOfTable) {
    w->done = true;
    return false;
  }
  out->pos = p;
  out->type = type;
  out->length = length;
  out->strings = s;
  // The next structure needs its 4 header bytes inside the table.
  if (close + 6 > t.len) {
    w->done = true;
  } else {
    w->next = close + 2;
  }
  return true;
}

smbios_text smbios_string(smbios_view t, size_t strings, uint8_t n) {
  const smbios_text none{nullptr, 0};
  if (n == 0 || strings >= t.len) return none;
  size_t q = strings;
  for (unsigned k = 1;; ++k) {
    const uint8_t* text = smbios_bytes(t, q, t.len - q);
    const void* nul = std::memchr(text, 0, t.len - q);
    const size_t m =
        nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - text) : t.len - q;
    if (k == n) return m > 0 ? smbios_text{text, m} : none;
    if (m == 0) return none;
    q += m + 1;
    if (q >= t.len) return none;
  }
}
