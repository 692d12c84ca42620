#include "json/json.h"

void jesc(const uint8_t* src, size_t bound, char* dst) {
  size_t o = 0;
  // Each step needs room for two output bytes, so an escape pair is never
  // split and the terminating NUL always fits.
  for (size_t i = 0; i < bound && src[i] != 0 && o + 2 < JSON_FIELD_CAP; ++i) {
    const uint8_t c = src[i];
    if (c == '"' || c == '\\') dst[o++] = '\\';
    if (c >= 0x20) dst[o++] = static_cast<char>(c);
  }
  dst[o] = '\0';
  while (o > 0 && dst[o - 1] == ' ') dst[--o] = '\0';
}
