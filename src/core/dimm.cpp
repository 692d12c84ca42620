#include "core/dimm.h"

#include "core/json.h"

namespace {

// Memory Device offsets, DMTF SMBIOS (DSP0134) section 7.18.
constexpr size_t kSize = 0x0C;
constexpr size_t kFormFactor = 0x0E;
constexpr size_t kDeviceLocator = 0x10;
constexpr size_t kMemoryType = 0x12;
constexpr size_t kSpeed = 0x15;
constexpr size_t kManufacturer = 0x17;
constexpr size_t kSerialNumber = 0x18;
constexpr size_t kPartNumber = 0x1A;
constexpr size_t kExtendedSize = 0x1C;
constexpr size_t kConfiguredSpeed = 0x20;
constexpr size_t kConfiguredVoltage = 0x26;

// Fields read from a structure whose formatted area the table cuts short come
// back as 0: a missing field reads as absent.
uint32_t field(smbios_view t, const smbios_struct& st, size_t off, size_t width) {
  return smbios_read(t, st.pos + off, width);
}

}  // namespace

int32_t dimm_size_mb(smbios_view t, const smbios_struct& st) {
  const uint32_t w = field(t, st, kSize, 2);
  if (w == 0xFFFF) return 0;
  if (w == 0x7FFF) {
    if (st.length >= 32) return static_cast<int32_t>(field(t, st, kExtendedSize, 4) & 0x7FFFFFFFu);
    return 0x7FFF;
  }
  // Bit 15 set: the size is in KiB.
  if (w & 0x8000) return static_cast<int32_t>((w & 0x7FFF) >> 10);
  return static_cast<int32_t>(w);
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
  out->size_mb = dimm_size_mb(t, st);
  out->speed_mts = 0;
  out->configured_speed_mts = 0;
  out->voltage_mv = 0;
  out->type = mem_type_name(static_cast<uint8_t>(field(t, st, kMemoryType, 1)));
  out->form_factor = form_factor_name(static_cast<uint8_t>(field(t, st, kFormFactor, 1)));
  const uint8_t len = st.length;
  if (len > 22) {
    out->speed_mts = static_cast<int32_t>(field(t, st, kSpeed, 2));
    if (len >= 34) {
      out->configured_speed_mts = static_cast<int32_t>(field(t, st, kConfiguredSpeed, 2));
      if (len >= 40) out->voltage_mv = static_cast<int32_t>(field(t, st, kConfiguredVoltage, 2));
    }
  }
  // The Device Locator always; the three other strings only when the
  // structure reaches the Part Number byte, although Manufacturer and Serial
  // Number lie lower. All are found in one pass over the string set.
  constexpr size_t kStringFields[] = {kDeviceLocator, kManufacturer, kSerialNumber, kPartNumber};
  char* const fields[] = {out->slot, out->manufacturer, out->serial, out->part_number};
  const size_t count = len > 26 ? 4 : 1;
  uint8_t numbers[4];
  smbios_text texts[4];
  for (size_t i = 0; i < count; ++i)
    numbers[i] = static_cast<uint8_t>(field(t, st, kStringFields[i], 1));
  smbios_strings(t, st.strings, numbers, texts, count);
  for (size_t i = 0; i < 4; ++i) {
    if (i < count) {
      jesc(texts[i].data, texts[i].len, fields[i]);
    } else {
      fields[i][0] = '\0';
    }
  }
}
