#include "smbios/memory_device.h"

std::optional<uint64_t> memory_device_size_bytes(std::optional<uint32_t> size,
                                                 std::optional<uint32_t> extended_size) {
  if (!size || *size == 0xFFFF) return std::nullopt;  // unknown
  const uint32_t w = *size;
  // Extended Size: MiB in bits 30:0 (bit 31 is reserved).
  if (w == 0x7FFF && extended_size)
    return static_cast<uint64_t>(*extended_size & 0x7FFFFFFFu) << 20;
  if (w & 0x8000) return static_cast<uint64_t>(w & 0x7FFF) << 10;  // KiB
  return static_cast<uint64_t>(w) << 20;
}
