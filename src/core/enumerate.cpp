#include "core/dimm.h"
#include "core/loader.h"

int count_memory_devices(smbios_view t) {
  // Pass every device: the walk ends first, leaving how many it passed.
  const size_t all = ~size_t{0};
  size_t skip = all;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  smbios_next_device(t, &w, &skip, &st);
  return static_cast<int>(all - skip);
}

int for_each_dimm(int index, dimm_info* out) {
  if (!load_smbios()) return -1;
  const smbios_view t = smbios_cached_view();
  if (t.len < 4) return index == -1 ? 0 : -2;

  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  if (index == -1) {
    int populated = 0;
    size_t skip = 0;
    while (smbios_next_device(t, &w, &skip, &st)) {
      if (dimm_size_mb(t, st) != 0) ++populated;
    }
    return populated;
  }
  // No index below -1 names a device; walking would find none.
  if (index < -1) return 0;
  // Walk from the table start past the devices before this one, unread.
  size_t skip = static_cast<size_t>(index);
  if (!smbios_next_device(t, &w, &skip, &st)) return -2;
  if (out == nullptr) return 0;
  decode_dimm(t, st, out);
  return 1;
}
