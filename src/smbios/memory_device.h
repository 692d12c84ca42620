// A Memory Device (type 17, DMTF DSP0134 section 7.18): where its fields lie
// and the one size rule. The core library's devices (core/dimm.cpp) and the
// detail document (detail/decode.cpp) both read a device through these and
// smbios_fields (smbios/smbios.h).
#ifndef RAMINFO_SMBIOS_MEMORY_DEVICE_H
#define RAMINFO_SMBIOS_MEMORY_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "smbios/smbios.h"

// Field offsets from the structure's start, up to SMBIOS 3.7 (0x64 bytes).
namespace memory_device_field {
constexpr size_t kArrayHandle = 0x04;
constexpr size_t kErrorInformationHandle = 0x06;
constexpr size_t kTotalWidth = 0x08;
constexpr size_t kDataWidth = 0x0A;
constexpr size_t kSize = 0x0C;
constexpr size_t kFormFactor = 0x0E;
constexpr size_t kDeviceSet = 0x0F;
constexpr size_t kDeviceLocator = 0x10;
constexpr size_t kBankLocator = 0x11;
constexpr size_t kMemoryType = 0x12;
constexpr size_t kTypeDetail = 0x13;
constexpr size_t kSpeed = 0x15;
constexpr size_t kManufacturer = 0x17;
constexpr size_t kSerialNumber = 0x18;
constexpr size_t kAssetTag = 0x19;
constexpr size_t kPartNumber = 0x1A;
constexpr size_t kAttributes = 0x1B;
constexpr size_t kExtendedSize = 0x1C;
constexpr size_t kConfiguredSpeed = 0x20;
constexpr size_t kMinimumVoltage = 0x22;
constexpr size_t kMaximumVoltage = 0x24;
constexpr size_t kConfiguredVoltage = 0x26;
constexpr size_t kMemoryTechnology = 0x28;
constexpr size_t kOperatingModeCapability = 0x29;
constexpr size_t kFirmwareVersion = 0x2B;
constexpr size_t kModuleManufacturerId = 0x2C;
constexpr size_t kModuleProductId = 0x2E;
constexpr size_t kSubsystemControllerManufacturerId = 0x30;
constexpr size_t kSubsystemControllerProductId = 0x32;
constexpr size_t kNonVolatileSize = 0x34;
constexpr size_t kVolatileSize = 0x3C;
constexpr size_t kCacheSize = 0x44;
constexpr size_t kLogicalSize = 0x4C;
constexpr size_t kExtendedSpeed = 0x54;
constexpr size_t kExtendedConfiguredSpeed = 0x58;
constexpr size_t kPmic0ManufacturerId = 0x5C;
constexpr size_t kPmic0RevisionNumber = 0x5E;
constexpr size_t kRcdManufacturerId = 0x60;
constexpr size_t kRcdRevisionNumber = 0x62;
}  // namespace memory_device_field

// The size rule (DSP0134 7.18.5 and 7.18.12), in bytes, from the Size word
// and the Extended Size dword of a device, each read with read(offset,
// width), which gives a std::optional<uint32_t> (a reading of
// smbios_fields: get or versioned). Null when the size is unknown: no Size
// word, or 0xFFFF. 0x7FFF sends the size to the Extended Size (MiB in bits
// 30:0), which is read only then, and means 32767 MiB where there is none;
// bit 15 set counts KiB, clear MiB. 0 is an empty slot. A template, inlined
// with its reading: the core sizes every device it counts with it.
template <typename Read>
inline std::optional<uint64_t> memory_device_size_bytes(Read read) {
  const std::optional<uint32_t> size = read(memory_device_field::kSize, size_t{2});
  if (!size || *size == 0xFFFF) return std::nullopt;  // unknown
  const uint32_t w = *size;
  if (w == 0x7FFF) {
    const std::optional<uint32_t> extended = read(memory_device_field::kExtendedSize, size_t{4});
    // Bit 31 is reserved.
    if (extended) return static_cast<uint64_t>(*extended & 0x7FFFFFFFu) << 20;
  }
  if (w & 0x8000) return static_cast<uint64_t>(w & 0x7FFF) << 10;  // KiB
  return static_cast<uint64_t>(w) << 20;
}

// The same rule over the two fields as the caller read them already (null:
// not there).
inline std::optional<uint64_t> memory_device_size_bytes(std::optional<uint32_t> size,
                                                        std::optional<uint32_t> extended_size) {
  return memory_device_size_bytes(
      [&](size_t off, size_t) { return off == memory_device_field::kSize ? size : extended_size; });
}

#endif
