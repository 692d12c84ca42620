#include <cstring>

#include "core/json.h"

namespace {

// Bytes that jesc copies as they are: every byte from 0x20 up but the double
// quote and the backslash.
struct byte_set {
  bool has[256];
};
constexpr byte_set make_plain() {
  byte_set s{};
  for (int c = 0x20; c < 256; ++c) s.has[c] = c != '"' && c != '\\';
  return s;
}
constexpr byte_set kPlain = make_plain();

}  // namespace

void jesc(const uint8_t* src, size_t bound, char* dst) {
  // Most firmware text is plain: while it is, output and source keep step and
  // each byte needs only the test below. The loop after it takes over at the
  // first byte that is not, with the same room rule.
  const size_t plain_end = bound < JSON_FIELD_CAP - 2 ? bound : JSON_FIELD_CAP - 2;
  size_t i = 0;
  while (i < plain_end && kPlain.has[src[i]]) ++i;
  if (i > 0) std::memcpy(dst, src, i);
  size_t o = i;
  // Each step needs room for two output bytes, so an escape pair is never
  // split and the terminating NUL always fits.
  for (; i < bound && src[i] != 0 && o + 2 < JSON_FIELD_CAP; ++i) {
    const uint8_t c = src[i];
    if (c == '"' || c == '\\') dst[o++] = '\\';
    if (c >= 0x20) dst[o++] = static_cast<char>(c);
  }
  dst[o] = '\0';
  while (o > 0 && dst[o - 1] == ' ') dst[--o] = '\0';
}
