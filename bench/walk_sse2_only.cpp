// Linked into raminfo_callgrind_sse2 in place of the library's choice of
// instruction set (src/smbios/walk_choice.cpp): the device walk runs on SSE2,
// as on a processor without AVX2, whatever this machine has.
#include "smbios/smbios.h"

bool smbios_next_device(smbios_view t, smbios_walk* w, size_t* skip, smbios_struct* out) {
  return smbios_next_device_with(walk_isa::sse2, t, w, skip, out);
}
