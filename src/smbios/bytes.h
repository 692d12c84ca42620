// The byte layout shared by everything that reads SMBIOS data: the raw block's
// header and little-endian fields. No bounds are checked here; callers hand in
// a pointer to bytes they have checked (smbios_read does for table fields).
#ifndef RAMINFO_SMBIOS_BYTES_H
#define RAMINFO_SMBIOS_BYTES_H

#include <cstddef>
#include <cstdint>

// Raw SMBIOS block (Windows' RawSMBIOSData): 1 byte calling method, SMBIOS
// major and minor, DMI revision, the table length as a little-endian u32 at
// offset 4, then the structure table.
constexpr uint32_t RAW_HEADER_SIZE = 8;
constexpr size_t RAW_LENGTH_OFFSET = 4;

// The unsigned little-endian value of width (1 to 4) bytes at p, which need
// not be aligned.
inline uint32_t read_le(const uint8_t* p, size_t width) {
  uint32_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | p[i];
  return v;
}

#endif
