#include <cstdio>

#include "json/json.h"

char g_json[JSON_CAP];

namespace {

// Room kept for the closing "]}" and its NUL.
constexpr size_t kClose = 3;
// Once the text reaches this length no further object is added.
constexpr size_t kStopAt = JSON_CAP - 256;

int print_device(char* dst, size_t room, const char* prefix, const dimm_info& d) {
  if (d.size_mb > 0) {
    return std::snprintf(dst, room,
                         "%s{\"slot\":\"%s\",\"size_mb\":%d,\"type\":\"%s\",\"speed_mts\":%d,"
                         "\"configured_speed_mts\":%d,\"manufacturer\":\"%s\","
                         "\"part_number\":\"%s\",\"serial\":\"%s\",\"voltage_mv\":%d,"
                         "\"form_factor\":\"%s\"}",
                         prefix, d.slot, static_cast<int>(d.size_mb), d.type,
                         static_cast<int>(d.speed_mts), static_cast<int>(d.configured_speed_mts),
                         d.manufacturer, d.part_number, d.serial, static_cast<int>(d.voltage_mv),
                         d.form_factor);
  }
  return std::snprintf(dst, room, "%s{\"slot\":\"%s\",\"size_mb\":0}", prefix, d.slot);
}

}  // namespace

const char* render_report(int32_t total_mb) {
  const char* const header = "{\"total_mb\":%d,\"slots\":[";
  int n = 0;
  if (load_smbios() && g_tbl_len >= 4) n = count_memory_devices(smbios_cached_view());

  // The header is at most 38 bytes, so it always fits.
  size_t len =
      static_cast<size_t>(std::snprintf(g_json, JSON_CAP, header, static_cast<int>(total_mb)));
  dimm_info d;
  for (int j = 0; j < n; ++j) {
    if (for_each_dimm(j, &d) != 1) continue;
    const int r = print_device(g_json + len, JSON_CAP - len, j > 0 ? "," : "", d);
    // An object that would leave no room for the closing is dropped whole and
    // the list is closed, so the text is always complete JSON.
    if (r < 0 || static_cast<size_t>(r) + kClose > JSON_CAP - len) {
      g_json[len] = '\0';
      break;
    }
    len += static_cast<size_t>(r);
    if (len >= kStopAt) break;
  }
  std::snprintf(g_json + len, JSON_CAP - len, "]}");
  return g_json;
}
