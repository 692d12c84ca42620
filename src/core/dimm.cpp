#include "core/dimm.h"

#include "core/json.h"
#include "smbios/memory_device.h"

using namespace memory_device_field;

// The fields a structure's version has are read as the table holds them: a
// field whose formatted area the table cuts short comes back as 0, so that a
// missing field reads as absent.
int32_t dimm_size_mb(smbios_view t, const smbios_struct& st) {
  const smbios_fields f(t, st);
  const auto bytes =
      memory_device_size_bytes([&f](size_t off, size_t width) { return f.versioned(off, width); });
  return bytes ? static_cast<int32_t>(*bytes >> 20) : 0;
}

const char* mem_type_name(uint8_t code) {
  switch (code) {
    case 0x0F: return "SDRAM";
    case 0x12: return "DDR";
    case 0x13: return "DDR2";
    case 0x18: return "DDR3";
    case 0x1A: return "DDR4";
    case 0x1E: return "LPDDR4";
    case 0x22: return "DDR5";
    case 0x23: return "LPDDR5";
    default: return "Unknown";
  }
}

const char* form_factor_name(uint8_t code) {
  switch (code) {
    case 0x03: return "SIMM";
    case 0x09: return "DIMM";
    case 0x0C: return "RIMM";
    case 0x0D: return "SODIMM";
    case 0x0E: return "SRIMM";
    case 0x0F: return "FB-DIMM";
    default: return "Other";
  }
}

void decode_dimm(smbios_view t, const smbios_struct& st, dimm_info* out) {
  // Every field is set below: what the structure does not supply reads as
  // empty text or 0 (clearing all 288 bytes first would cost more than the
  // rest of the decoding).
  const smbios_fields f(t, st);
  out->size_mb = dimm_size_mb(t, st);
  out->speed_mts = static_cast<int32_t>(f.versioned(kSpeed, 2).value_or(0));
  out->configured_speed_mts = static_cast<int32_t>(f.versioned(kConfiguredSpeed, 2).value_or(0));
  out->voltage_mv = static_cast<int32_t>(f.versioned(kConfiguredVoltage, 2).value_or(0));
  out->type = mem_type_name(static_cast<uint8_t>(f.versioned(kMemoryType, 1).value_or(0)));
  out->form_factor =
      form_factor_name(static_cast<uint8_t>(f.versioned(kFormFactor, 1).value_or(0)));
  // The Device Locator always; the three other strings only when the
  // structure reaches the Part Number byte, although Manufacturer and Serial
  // Number lie lower. All are found in one pass over the string set.
  constexpr size_t kStringFields[] = {kDeviceLocator, kManufacturer, kSerialNumber, kPartNumber};
  char* const fields[] = {out->slot, out->manufacturer, out->serial, out->part_number};
  const size_t count = f.has(kPartNumber, 1) ? 4 : 1;
  uint8_t numbers[4];
  smbios_text texts[4];
  for (size_t i = 0; i < count; ++i)
    numbers[i] = static_cast<uint8_t>(f.versioned(kStringFields[i], 1).value_or(0));
  smbios_strings(t, st.strings, numbers, texts, count);
  for (size_t i = 0; i < 4; ++i) {
    if (i < count) {
      jesc(texts[i].data, texts[i].len, fields[i]);
    } else {
      fields[i][0] = '\0';
    }
  }
}
