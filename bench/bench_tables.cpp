#include "bench_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/json.h"
#include "little_endian.h"
#include "smbios/smbios.h"

namespace {

// A formatted area of this type and length with a distinct handle; fields
// are set afterwards with put_le().
Bytes header(uint8_t type, uint8_t length, uint16_t handle) {
  Bytes b(length, 0);
  b[0] = type;
  b[1] = length;
  b[2] = static_cast<uint8_t>(handle);
  b[3] = static_cast<uint8_t>(handle >> 8);
  return b;
}

// Offsets below are DMTF SMBIOS (DSP0134) 3.x field offsets.
Bytes bios() {
  Bytes b = header(0, 0x1A, 0x0000);
  b[0x04] = 1;  // vendor
  b[0x05] = 2;  // version
  put_le(b, 0x06, 0xF000, 2);
  b[0x08] = 3;  // release date
  b[0x09] = 0xFF;
  put_le(b, 0x0A, 0x0D03'7FF9'8080ull, 8);
  return structure(b, {"Dell Inc.", "2.19.1", "06/14/2023"});
}

Bytes system_info() {
  Bytes b = header(1, 0x1B, 0x0100);
  b[0x04] = 1;  // manufacturer
  b[0x05] = 2;  // product
  b[0x06] = 3;  // version
  b[0x07] = 4;  // serial
  b[0x18] = 6;  // wake-up type: power switch
  b[0x19] = 5;  // SKU
  b[0x1A] = 6;  // family
  return structure(b, {"Dell Inc.", "PowerEdge R760", "Not Specified", "7XK2QZ3",
                       "SKU=0AC2;ModelName=PowerEdge R760", "PowerEdge"});
}

Bytes processor(int socket) {
  Bytes b = header(4, 0x30, static_cast<uint16_t>(0x0400 + socket));
  b[0x04] = 1;     // socket designation
  b[0x05] = 3;     // central processor
  b[0x06] = 0xB3;  // Xeon
  b[0x07] = 2;     // manufacturer
  b[0x10] = 3;     // version
  put_le(b, 0x14, 4800, 2);
  put_le(b, 0x16, 4800, 2);
  b[0x18] = 0x41;
  b[0x20] = 4;  // serial
  b[0x21] = 5;  // asset tag
  b[0x22] = 6;  // part number
  b[0x23] = 32;
  b[0x24] = 32;
  b[0x25] = 64;
  return structure(b, {"CPU" + std::to_string(socket + 1), "Intel", "Intel(R) Xeon(R) Gold 6430",
                       "Not Specified", "Not Specified", "Not Specified"});
}

Bytes memory_array(int socket, int slots) {
  Bytes b = header(16, 0x17, static_cast<uint16_t>(0x1000 + socket));
  b[0x04] = 3;  // system board
  b[0x05] = 3;  // system memory
  b[0x06] = 6;  // multi-bit ECC
  put_le(b, 0x07, 0x8000'0000u, 4);
  put_le(b, 0x0B, 0xFFFE, 2);
  put_le(b, 0x0D, static_cast<uint16_t>(slots), 2);
  put_le(b, 0x0F, uint64_t{4} << 40, 8);
  return structure(b);
}

Bytes mapped_address(int socket, uint64_t start_kib, uint64_t kib) {
  Bytes b = header(19, 0x1F, static_cast<uint16_t>(0x1300 + socket));
  put_le(b, 0x04, 0xFFFF'FFFFu, 4);
  put_le(b, 0x08, 0xFFFF'FFFFu, 4);
  put_le(b, 0x0C, static_cast<uint16_t>(0x1000 + socket), 2);
  b[0x0E] = 8;
  put_le(b, 0x0F, start_kib << 10, 8);
  put_le(b, 0x17, ((start_kib + kib) << 10) - 1, 8);
  return structure(b);
}

Bytes memory_device(int socket, int index, bool ddr5) {
  const int channel = index / 2;
  const std::string locator = "CPU" + std::to_string(socket + 1) + "_DIMM_" +
                              static_cast<char>('A' + channel % 26) + std::to_string(index % 2 + 1);
  const bool populated = index % 2 == 0;
  Dimm d;
  d.length = 0x5C;
  d.form_factor = 0x09;
  d.locator = 1;
  d.manufacturer = 2;
  d.serial = 3;
  d.part = 4;
  std::vector<std::string> strings;
  if (populated) {
    d.type = ddr5 ? 0x22 : 0x1A;
    // 32 GiB does not fit the 15-bit size field; firmware writes 0x7FFF and
    // the extended size.
    d.size = ddr5 ? 0x7FFF : 16384;
    d.extended_size = ddr5 ? 32768 : 0;
    d.speed = ddr5 ? 4800 : 3200;
    d.configured_speed = ddr5 ? 4400 : 2933;
    d.voltage = ddr5 ? 1100 : 1200;
    static const char* const kVendors[][2] = {{"Samsung", "M321R4GA3BB6-CQKET"},
                                              {"SK Hynix", "HMCG88AEBRA107N"},
                                              {"Micron Technology", "MTC20F2085S1RC48BA1"}};
    const auto& v = kVendors[(socket + channel) % 3];
    char serial[9];
    std::snprintf(serial, sizeof serial, "%08X", 0x8A3F21C0u + static_cast<unsigned>(index));
    strings = {locator, v[0], serial, v[1]};
  } else {
    d.type = 0x02;  // Unknown
    strings = {locator, "NO DIMM", "NO DIMM", "NO DIMM"};
  }
  Bytes b = d.formatted();
  put_le(b, 2, static_cast<uint16_t>(0x1100 + socket * 256 + index), 2);
  put_le(b, 0x04, static_cast<uint16_t>(0x1000 + socket), 2);  // its memory array
  put_le(b, 0x08, 72, 2);                                      // total width, with ECC
  put_le(b, 0x0A, 64, 2);                                      // data width
  b[0x0F] = 0;                                                 // device set
  b[0x13] = 0x80;                                              // synchronous
  if (populated) {
    b[0x1B] = 2;                                 // rank
    put_le(b, 0x22, d.voltage, 2);               // minimum voltage
    put_le(b, 0x24, d.voltage, 2);               // maximum voltage
    b[0x28] = 3;                                 // technology: DRAM
    put_le(b, 0x29, 0x0004, 2);                  // operating mode: volatile
    put_le(b, 0x2C, ddr5 ? 0x80CE : 0x80AD, 2);  // module manufacturer id
  }
  return structure(b, strings);
}

Bytes boot_info() {
  Bytes b = header(32, 0x0B, 0x2000);
  return structure(b);
}

}  // namespace

Bytes server_table(int devices) {
  const bool ddr5 = devices > 8;
  // One memory array per socket, at most 48 devices each, as on two- and
  // four-socket servers.
  const int sockets = devices <= 48 ? 1 : (devices + 47) / 48;
  std::vector<Bytes> pieces = {bios(), system_info()};
  for (int s = 0; s < sockets; ++s) pieces.push_back(processor(s));
  uint64_t start_kib = 0;
  for (int s = 0; s < sockets; ++s) {
    const int first = devices * s / sockets;
    const int slots = devices * (s + 1) / sockets - first;
    pieces.push_back(memory_array(s, slots));
    for (int i = 0; i < slots; ++i) pieces.push_back(memory_device(s, i, ddr5));
    const uint64_t kib = static_cast<uint64_t>((slots + 1) / 2) * (ddr5 ? 32 : 16) << 20;
    pieces.push_back(mapped_address(s, start_kib, kib));
    start_kib += kib;
  }
  pieces.push_back(boot_info());
  pieces.push_back(end_of_table());
  return table(pieces);
}

Bytes table_of_block(const Bytes& block) {
  if (block.size() <= 8) return {};
  uint32_t len = 0;
  for (int i = 3; i >= 0; --i) len = len << 8 | block[4 + static_cast<size_t>(i)];
  len = std::min<uint32_t>(len, static_cast<uint32_t>(block.size() - 8));
  return Bytes(block.begin() + 8, block.begin() + 8 + len);
}

WalkProfile walk_profile(const Bytes& table) {
  const smbios_view t{table.data(), table.size()};
  WalkProfile p;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  uint64_t last_end = 0;
  while (smbios_next(t, &w, &st)) {
    last_end = w.done ? t.len : w.next;
    if (is_memory_device(st)) p.device_ends.push_back(last_end);
  }
  p.count_pass = last_end;
  // The structure that stops the walk (end-of-table, or a bad length byte)
  // is read too: its string set when its length is plausible.
  const size_t at = w.next;
  if (last_end < t.len && at + 1 < t.len) {
    size_t end = t.len;
    if (table[at + 1] > 3) {
      for (size_t i = at + table[at + 1]; i + 1 < t.len; ++i) {
        if (table[i] == 0 && table[i + 1] == 0) {
          end = i + 2;
          break;
        }
      }
    } else {
      end = at + 2;
    }
    p.count_pass = std::max<uint64_t>(p.count_pass, end);
  }
  return p;
}

uint64_t json_bytes_walked(const WalkProfile& p, size_t lookups) {
  uint64_t sum = p.count_pass;
  for (size_t i = 0; i < lookups && i < p.device_ends.size(); ++i) sum += p.device_ends[i];
  return sum;
}

size_t looked_up_devices(const char* json, size_t devices) {
  const size_t rendered = rendered_devices(json);
  if (rendered >= devices) return devices;
  // The report stops adding objects once its text, before the closing "]}",
  // reaches 256 bytes short of the 16 KiB buffer.
  const size_t body = std::strlen(json) - 2;
  return body >= JSON_CAP - 256 ? rendered : rendered + 1;
}

size_t rendered_devices(const char* json) {
  size_t n = 0;
  for (const char* s = json; (s = std::strstr(s, "{\"slot\":")) != nullptr; ++s) ++n;
  return n;
}

std::vector<Dump> real_dumps(const std::string& dir) {
  std::vector<Dump> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".rsmb") continue;
    std::ifstream in(e.path(), std::ios::binary);
    Bytes block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.push_back({e.path().stem().string(), std::move(block)});
  }
  std::sort(out.begin(), out.end(), [](const Dump& a, const Dump& b) { return a.name < b.name; });
  return out;
}
