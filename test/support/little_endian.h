// Little-endian fields written into structures, entry points and blocks built
// byte by byte.
#ifndef RAMINFO_TEST_SUPPORT_LITTLE_ENDIAN_H
#define RAMINFO_TEST_SUPPORT_LITTLE_ENDIAN_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Writes the low width bytes of value at off, lowest first. A field that does
// not fit whole is left out, as a structure whose length byte ends before a
// field does not hold it.
inline void put_le(std::vector<uint8_t>& b, size_t off, uint64_t value, size_t width) {
  if (off > b.size() || width > b.size() - off) return;
  for (size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(value >> (8 * i));
}

#endif
