// Tables the benchmarks run on, and how many table bytes a call walks over
// them, so that a time or an instruction count can be put per byte.
#ifndef RAMINFO_BENCH_BENCH_TABLES_H
#define RAMINFO_BENCH_BENCH_TABLES_H

#include <cstdint>
#include <string>
#include <vector>

#include "table_builder.h"

// A server-like structure table with this many 0x5C-byte memory devices, each
// with four strings, between BIOS, system, processor, memory array and
// mapped-address structures, closed by an end-of-table structure. Every
// second slot is populated (the first always is), so that even 128 devices
// fit the 16 KiB report whole. Up to 8 devices are DDR4, more are DDR5.
Bytes server_table(int devices);

// The structure table inside a raw block (header dropped, length field
// honoured up to the bytes present).
Bytes table_of_block(const Bytes& block);

// What one walk of the library costs over a table, in bytes: the counting
// pass reads up to the end of the structure that stops it; each device's
// lookup reads from the table start to the end of that device's structure.
struct WalkProfile {
  uint64_t count_pass = 0;
  std::vector<uint64_t> device_ends;
};
WalkProfile walk_profile(const Bytes& table);

// Number of device objects in a report.
size_t rendered_devices(const char* json);

// Number of devices a raminfo_get_json call that returned json looked up:
// all of them, unless the 16 KiB report was cut short. Then the rendered
// ones, plus the one whose object did not fit, when the report did not stop
// on reaching its length limit.
size_t looked_up_devices(const char* json, size_t devices);

// Bytes one raminfo_get_json walks when it looks up the first `lookups`
// devices: the counting pass plus one walk from the table start per device.
uint64_t json_bytes_walked(const WalkProfile& p, size_t lookups);

// The raw blocks (.rsmb) in dir, by name; none when dir does not exist.
struct Dump {
  std::string name;
  Bytes block;
};
std::vector<Dump> real_dumps(const std::string& dir);

#endif
