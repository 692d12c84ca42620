#include "smbios/smbios.h"

int count_memory_devices(smbios_view t) {
  int n = 0;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  while (smbios_next(t, &w, &st)) {
    if (is_memory_device(st)) ++n;
  }
  return n;
}

int for_each_dimm(int index, dimm_info* out) {
  if (!load_smbios()) return -1;
  const smbios_view t = smbios_cached_view();
  if (t.len < 4) return index == -1 ? 0 : -2;

  int i = 0;
  int populated = 0;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  while (smbios_next(t, &w, &st)) {
    if (!is_memory_device(st)) continue;
    if (out != nullptr && index == i) {
      decode_dimm(t, st, out);
      return 1;
    }
    // Only the count needs each size; a lookup passes devices unread.
    if (index == -1 && dimm_size_mb(t, st) != 0) ++populated;
    ++i;
  }
  if (index == -1) return populated;
  return i <= index ? -2 : 0;
}
