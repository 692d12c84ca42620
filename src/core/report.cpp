#include <cstring>

#include "core/dimm.h"
#include "core/json.h"
#include "core/loader.h"

char g_json[JSON_CAP];

namespace {

// Room kept for the closing "]}" and its NUL.
constexpr size_t kClose = 3;
// Once the text reaches this length no further object is added.
constexpr size_t kStopAt = JSON_CAP - 256;
// The longest object: 147 literal characters, a one-character prefix, four
// text fields of 63 characters, two names of up to 7, a size of up to 10
// digits and three numbers of up to 5. Rounded up, with room for a NUL.
constexpr size_t kObjectRoom = 512;
static_assert(147 + 1 + 4 * 63 + 2 * 7 + 10 + 3 * 5 < kObjectRoom, "an object fits its room");

// The report is what snprintf would print with the report's formats (%d and
// %s only); it is written here directly, since formatting through stdio costs
// more than the walk. Each helper writes at w, which has room for what it
// writes, and returns the end of what it wrote.

template <size_t N>
char* put_literal(char* w, const char (&text)[N]) {
  std::memcpy(w, text, N - 1);
  return w + N - 1;
}

char* put_text(char* w, const char* text) {
  const size_t n = std::strlen(text);
  std::memcpy(w, text, n);
  return w + n;
}

// %d: at most 11 characters. Digits are made two at a time, from the right.
char* put_int(char* w, int32_t value) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  uint32_t u = static_cast<uint32_t>(value);
  if (value < 0) {
    *w++ = '-';
    u = 0u - u;
  }
  char digits[10];
  char* d = digits + sizeof digits;
  while (u >= 100) {
    const uint32_t pair = u % 100;
    u /= 100;
    d -= 2;
    std::memcpy(d, kPairs + 2 * pair, 2);
  }
  if (u >= 10) {
    d -= 2;
    std::memcpy(d, kPairs + 2 * u, 2);
  } else {
    *--d = static_cast<char>('0' + u);
  }
  while (d < digits + sizeof digits) *w++ = *d++;
  return w;
}

// One device's object, preceded by a comma unless it is device 0.
char* put_device(char* w, bool first, const dimm_info& d) {
  if (!first) *w++ = ',';
  w = put_literal(w, "{\"slot\":\"");
  w = put_text(w, d.slot);
  if (d.size_mb <= 0) return put_literal(w, "\",\"size_mb\":0}");
  w = put_literal(w, "\",\"size_mb\":");
  w = put_int(w, d.size_mb);
  w = put_literal(w, ",\"type\":\"");
  w = put_text(w, d.type);
  w = put_literal(w, "\",\"speed_mts\":");
  w = put_int(w, d.speed_mts);
  w = put_literal(w, ",\"configured_speed_mts\":");
  w = put_int(w, d.configured_speed_mts);
  w = put_literal(w, ",\"manufacturer\":\"");
  w = put_text(w, d.manufacturer);
  w = put_literal(w, "\",\"part_number\":\"");
  w = put_text(w, d.part_number);
  w = put_literal(w, "\",\"serial\":\"");
  w = put_text(w, d.serial);
  w = put_literal(w, "\",\"voltage_mv\":");
  w = put_int(w, d.voltage_mv);
  w = put_literal(w, ",\"form_factor\":\"");
  w = put_text(w, d.form_factor);
  return put_literal(w, "\"}");
}

}  // namespace

const char* render_report(int32_t total_mb) {
  int n = 0;
  if (load_smbios() && g_tbl_len >= 4) n = count_memory_devices(smbios_cached_view());

  // The header is at most 33 bytes, so it always fits.
  char* w = put_literal(g_json, "{\"total_mb\":");
  w = put_int(w, total_mb);
  w = put_literal(w, ",\"slots\":[");
  size_t len = static_cast<size_t>(w - g_json);

  dimm_info d;
  char scratch[kObjectRoom];
  for (int j = 0; j < n; ++j) {
    if (for_each_dimm(j, &d) != 1) continue;
    // Straight into the report while the longest object fits; near the end
    // through scratch, so that nothing is written past the buffer.
    const bool direct = JSON_CAP - len >= kObjectRoom;
    char* const at = direct ? g_json + len : scratch;
    const auto r = static_cast<size_t>(put_device(at, j == 0, d) - at);
    // An object that would leave no room for the closing is dropped whole and
    // the list is closed, so the text is always complete JSON.
    if (r + kClose > JSON_CAP - len) break;
    if (!direct) std::memcpy(g_json + len, scratch, r);
    len += r;
    if (len >= kStopAt) break;
  }
  std::memcpy(g_json + len, "]}", kClose);
  return g_json;
}
