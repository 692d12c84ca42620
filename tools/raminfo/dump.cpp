#include "dump.h"

#include <cstring>

namespace {

uint32_t le(const std::vector<uint8_t>& f, size_t off, size_t width) {
  uint32_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | f[off + i];
  return v;
}

bool starts_with(const std::vector<uint8_t>& f, const char* anchor) {
  const size_t n = std::strlen(anchor);
  return f.size() >= n && std::memcmp(f.data(), anchor, n) == 0;
}

std::vector<uint8_t> raw_block(uint8_t major, uint8_t minor, uint8_t revision, const uint8_t* table,
                               size_t len) {
  std::vector<uint8_t> b = {0, major, minor, revision};
  const auto n = static_cast<uint32_t>(len);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(n >> (8 * i)));
  b.insert(b.end(), table, table + len);
  return b;
}

}  // namespace

bool parse_dump_format(const std::string& name, dump_format* out) {
  if (name == "rsmb")
    *out = dump_format::rsmb;
  else if (name == "dmidecode")
    *out = dump_format::dmidecode;
  else if (name == "table")
    *out = dump_format::table;
  else
    return false;
  return true;
}

dump_format detect_dump_format(const std::vector<uint8_t>& file) {
  if (starts_with(file, "_SM3_") || starts_with(file, "_SM_") || starts_with(file, "_DMI_"))
    return dump_format::dmidecode;
  // A raw block opens with a calling-method byte of 0 or 1 and an SMBIOS major
  // version of 2 or 3, where a bare table has a length byte of 4 or more.
  if (file.size() >= 8 && file[0] <= 1 && (file[1] == 2 || file[1] == 3)) return dump_format::rsmb;
  return dump_format::table;
}

bool dump_to_raw_block(const std::vector<uint8_t>& file, dump_format format,
                       std::vector<uint8_t>* block, std::string* error) {
  if (format == dump_format::automatic) format = detect_dump_format(file);
  if (format == dump_format::rsmb) {
    *block = file;
    return true;
  }
  if (format == dump_format::table) {
    *block = raw_block(0, 0, 0, file.data(), file.size());
    return true;
  }

  // Entry point layouts, DMTF DSP0134 sections 5.2.1 (32-bit), 5.2.2 (64-bit)
  // and the legacy DMI one.
  uint8_t major = 0, minor = 0, revision = 0;
  uint64_t address = 0;
  uint64_t length = 0;
  if (starts_with(file, "_SM3_") && file.size() >= 0x18) {
    major = file[7];
    minor = file[8];
    revision = file[9];
    length = le(file, 0x0C, 4);  // the table's maximum size
    address = le(file, 0x10, 4) | static_cast<uint64_t>(le(file, 0x14, 4)) << 32;
  } else if (starts_with(file, "_SM_") && file.size() >= 0x1F) {
    major = file[6];
    minor = file[7];
    revision = file[0x1E];
    length = le(file, 0x16, 2);
    address = le(file, 0x18, 4);
  } else if (starts_with(file, "_DMI_") && file.size() >= 0x0F) {
    revision = file[0x0E];
    major = static_cast<uint8_t>(revision >> 4);
    minor = static_cast<uint8_t>(revision & 0x0F);
    length = le(file, 0x06, 2);
    address = le(file, 0x08, 4);
  } else {
    *error = "not a dmidecode dump: no usable entry point at offset 0";
    return false;
  }
  if (address > file.size()) {
    *error = "dmidecode dump: the table address lies past the end of the file";
    return false;
  }
  // The table is what the file holds from its address, up to the length the
  // entry point gives.
  const uint64_t present = file.size() - address;
  const uint64_t len = length < present ? length : present;
  *block = raw_block(major, minor, revision, file.data() + address, static_cast<size_t>(len));
  return true;
}
