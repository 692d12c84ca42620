// Which instruction set the library's device walk runs with. Kept apart from
// the walks themselves, so that the benchmarks can link a build that measures
// one of them in its place (bench/walk_sse2_only.cpp).
#include "smbios/smbios.h"

namespace {

// The widest instruction set available, found on the first walk (0 until
// then): the library runs nothing at load.
int g_best_isa = 0;

walk_isa best_isa() {
  if (g_best_isa == 0) {
    walk_isa best = walk_isa::portable;
    if (walk_isa_available(walk_isa::sse2)) best = walk_isa::sse2;
    if (walk_isa_available(walk_isa::avx2)) best = walk_isa::avx2;
    g_best_isa = static_cast<int>(best) + 1;
  }
  return static_cast<walk_isa>(g_best_isa - 1);
}

}  // namespace

bool smbios_next_device(smbios_view t, smbios_walk* w, size_t* skip, smbios_struct* out) {
  return smbios_next_device_with(best_isa(), t, w, skip, out);
}
