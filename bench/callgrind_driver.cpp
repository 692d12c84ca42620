// Run under callgrind with --toggle-collect=raminfo_get_json: caches the
// 96-device table through raminfo_slot_count (not collected), then calls
// raminfo_get_json N times, so the collected instructions divided by N are
// one call's. Prints the bytes one call walks, for the per-byte figure.
#include <cstdio>
#include <cstdlib>

#include "bench_tables.h"
#include "fake_platform.h"
#include "raminfo.h"

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 100;
  const int devices = argc > 2 ? std::atoi(argv[2]) : 96;
  if (calls <= 0 || devices <= 0) {
    std::fprintf(stderr, "usage: raminfo_callgrind [CALLS [DEVICES]]\n");
    return 2;
  }
  const Bytes t = server_table(devices);
  fresh_library(raw_block(t));
  if (raminfo_slot_count() < 0) {
    std::fprintf(stderr, "raminfo_callgrind: the table did not load\n");
    return 1;
  }
  const char* json = nullptr;
  for (int i = 0; i < calls; ++i) json = raminfo_get_json();
  const WalkProfile p = walk_profile(t);
  const size_t lookups = looked_up_devices(json, p.device_ends.size());
  std::printf("calls %d\ndevices %zu\nrendered %zu\ntable_bytes %zu\nbytes_walked %llu\n", calls,
              p.device_ends.size(), rendered_devices(json), t.size(),
              static_cast<unsigned long long>(json_bytes_walked(p, lookups)));
  return 0;
}
