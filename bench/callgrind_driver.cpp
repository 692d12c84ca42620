// Run under callgrind with --toggle-collect=raminfo_get_json. Each of the N
// calls is a first call: the library is made fresh (outside the collected
// function), so every call loads the table from the platform, caches it and
// walks it. The collected instructions divided by N are one first call's.
//
//   raminfo_callgrind CALLS DEVICES      a generated table (bench_tables.h)
//   raminfo_callgrind CALLS FILE.rsmb    a saved raw block
//   raminfo_callgrind --write DEVICES FILE.rsmb FILE.dmi
//                                        saves a generated table in both
//                                        layouts, for the whole-process runs
//
// Prints the table's size, its devices and the bytes one call walks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "bench_tables.h"
#include "fake_platform.h"
#include "raminfo.h"

namespace {

bool write_file(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The layout of `dmidecode --dump-bin`: a 64-bit (SMBIOS 3) entry point at
// offset 0 whose table address is 32, then the table (DMTF DSP0134 5.2.2).
Bytes dmidecode_dump(const Bytes& t) {
  Bytes d(32, 0);
  std::memcpy(d.data(), "_SM3_", 5);
  d[6] = 0x18;  // entry point length
  d[7] = 3;     // SMBIOS 3.2
  d[8] = 2;
  d[10] = 1;  // entry point revision
  const auto len = static_cast<uint32_t>(t.size());
  for (int i = 0; i < 4; ++i) d[0x0C + i] = static_cast<uint8_t>(len >> (8 * i));
  d[0x10] = 32;  // table address
  uint8_t sum = 0;
  for (size_t i = 0; i < 0x18; ++i) sum = static_cast<uint8_t>(sum + d[i]);
  d[5] = static_cast<uint8_t>(0x100 - sum);
  d.insert(d.end(), t.begin(), t.end());
  return d;
}

int usage() {
  std::fprintf(stderr,
               "usage: raminfo_callgrind CALLS DEVICES|FILE.rsmb\n"
               "       raminfo_callgrind --write DEVICES FILE.rsmb FILE.dmi\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--write") == 0) {
    const int devices = std::atoi(argv[2]);
    if (devices <= 0) return usage();
    const Bytes t = server_table(devices);
    return write_file(argv[3], raw_block(t)) && write_file(argv[4], dmidecode_dump(t)) ? 0 : 1;
  }
  if (argc != 3) return usage();
  const int calls = std::atoi(argv[1]);
  if (calls <= 0) return usage();
  Bytes block;
  const std::string what = argv[2];
  if (what.find_first_not_of("0123456789") == std::string::npos) {
    const int devices = std::atoi(what.c_str());
    if (devices <= 0) return usage();
    block = raw_block(server_table(devices));
  } else {
    std::ifstream in(what, std::ios::binary);
    block.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (block.empty()) {
      std::fprintf(stderr, "raminfo_callgrind: cannot read %s\n", what.c_str());
      return 1;
    }
  }
  const char* json = nullptr;
  for (int i = 0; i < calls; ++i) {
    fresh_library(block);
    json = raminfo_get_json();
  }
  if (raminfo_last_error()[0] != '\0') {
    std::fprintf(stderr, "raminfo_callgrind: the table did not load: %s\n", raminfo_last_error());
    return 1;
  }
  const Bytes t = table_of_block(block);
  const WalkProfile p = walk_profile(t);
  const size_t lookups = looked_up_devices(json, p.device_ends.size());
  std::printf("calls %d\ndevices %zu\nrendered %zu\ntable_bytes %zu\nbytes_walked %llu\n", calls,
              p.device_ends.size(), rendered_devices(json), t.size(),
              static_cast<unsigned long long>(json_bytes_walked(p, lookups)));
  return 0;
}
