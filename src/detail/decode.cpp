// Decodes Physical Memory Arrays (type 16) and Memory Devices (type 17) field
// by field, through src/smbios/'s walk, its reading of a structure's fields
// and its memory device layout and size rule.
#include <string>
#include <utility>
#include <vector>

#include "detail/detail.h"
#include "detail/fields.h"
#include "detail/setup.h"
#include "names/names.h"
#include "smbios/memory_device.h"
#include "text/text.h"

namespace raminfo_detail {

namespace {

constexpr uint8_t kMemoryArray = 16;

// Physical Memory Array offsets, DSP0134 7.17.
memory_array decode_array(smbios_view t, const smbios_struct& st) {
  const fields f(t, st);
  memory_array a;
  a.handle = static_cast<uint16_t>(smbios_read(t, st.pos + 2, 2));
  a.length = st.length;
  a.location = f.code(0x04, 1, array_location_name);
  a.use = f.code(0x05, 1, array_use_name);
  a.error_correction = f.code(0x06, 1, error_correction_name);
  if (a.error_correction) a.ecc = a.error_correction->code == 5 || a.error_correction->code == 6;
  a.maximum_capacity_raw = f.dword(0x07);
  a.error_information_handle = f.word(0x0B);
  a.declared_devices = f.word(0x0D);
  a.extended_maximum_capacity_raw = f.qword(0x0F);
  if (a.maximum_capacity_raw) {
    // 0x80000000: the capacity is in the Extended Maximum Capacity, in bytes.
    if (*a.maximum_capacity_raw != 0x80000000u)
      a.maximum_capacity_bytes = static_cast<uint64_t>(*a.maximum_capacity_raw) << 10;
    else if (a.extended_maximum_capacity_raw)
      a.maximum_capacity_bytes = *a.extended_maximum_capacity_raw;
  }
  // Video, flash, non-volatile and cache memory arrays are not system memory.
  a.system_memory = !(a.use && a.use->code >= 4 && a.use->code <= 7);
  return a;
}

// An SMBIOS 3.3 speed: 0xFFFF defers to the 32-bit extended field (bit 31
// reserved); 0 is unknown.
opt<uint32_t> speed_of(opt<uint16_t> word, opt<uint32_t> extended) {
  if (!word || *word == 0) return std::nullopt;
  if (*word != 0xFFFF) return *word;
  if (!extended || (*extended & 0x7FFFFFFFu) == 0) return std::nullopt;
  return *extended & 0x7FFFFFFFu;
}

void decode_size(const fields& f, memory_device* d) {
  d->size_raw = f.word(memory_device_field::kSize);
  d->extended_size_raw = f.dword(memory_device_field::kExtendedSize);
  d->size_bytes = memory_device_size_bytes(d->size_raw, d->extended_size_raw);
  d->populated = d->size_bytes && *d->size_bytes > 0;
}

// The makers the first few distinct manufacturer strings named: a table's
// devices repeat a handful of strings, and reading a maker's name takes
// thousands of instructions.
struct maker_memo {
  static constexpr size_t kStrings = 16;
  std::vector<std::pair<std::string, opt<vendor_id>>> seen;

  opt<vendor_id> vendor(const std::string& raw) {
    for (const auto& s : seen)
      if (s.first == raw) return s.second;
    opt<vendor_id> v = vendor_from_string(raw);
    if (seen.size() < kStrings) seen.emplace_back(raw, v);
    return v;
  }
};

memory_device decode_device(smbios_view t, const smbios_struct& st, maker_memo* memo) {
  using namespace memory_device_field;
  const fields f(t, st);
  memory_device d;
  d.handle = static_cast<uint16_t>(smbios_read(t, st.pos + 2, 2));
  d.length = st.length;
  d.array_handle = f.word(kArrayHandle);
  d.error_information_handle = f.word(kErrorInformationHandle);
  d.total_width_bits = f.word(kTotalWidth);
  d.data_width_bits = f.word(kDataWidth);
  decode_size(f, &d);
  d.form_factor = f.code(kFormFactor, 1, form_factor_full_name);
  d.device_set = f.byte(kDeviceSet);
  d.locator = f.text(kDeviceLocator);
  d.bank_locator = f.text(kBankLocator);
  d.memory_type = f.code(kMemoryType, 1, memory_type_full_name);
  d.type_detail = f.bits(kTypeDetail, type_detail_names);
  d.speed_raw = f.word(kSpeed);
  d.manufacturer = f.text(kManufacturer);
  d.serial_number = f.text(kSerialNumber);
  d.asset_tag = f.text(kAssetTag);
  d.part_number = f.text(kPartNumber);
  d.attributes_raw = f.byte(kAttributes);
  if (d.attributes_raw && (*d.attributes_raw & 0x0F) != 0) d.rank = *d.attributes_raw & 0x0Fu;
  d.configured_speed_raw = f.word(kConfiguredSpeed);
  d.minimum_voltage_mv = f.word(kMinimumVoltage);
  d.maximum_voltage_mv = f.word(kMaximumVoltage);
  d.configured_voltage_mv = f.word(kConfiguredVoltage);
  d.memory_technology = f.code(kMemoryTechnology, 1, memory_technology_name);
  d.operating_mode_capability = f.bits(kOperatingModeCapability, operating_mode_names);
  d.firmware_version = f.text(kFirmwareVersion);
  d.module_manufacturer_id = f.word(kModuleManufacturerId);
  d.module_product_id = f.word(kModuleProductId);
  d.subsystem_controller_manufacturer_id = f.word(kSubsystemControllerManufacturerId);
  d.subsystem_controller_product_id = f.word(kSubsystemControllerProductId);
  d.non_volatile_size_bytes = f.qword(kNonVolatileSize);
  d.volatile_size_bytes = f.qword(kVolatileSize);
  d.cache_size_bytes = f.qword(kCacheSize);
  d.logical_size_bytes = f.qword(kLogicalSize);
  d.extended_speed_raw = f.dword(kExtendedSpeed);
  d.extended_configured_speed_raw = f.dword(kExtendedConfiguredSpeed);
  d.pmic0_manufacturer_id = f.word(kPmic0ManufacturerId);
  d.pmic0_revision_number = f.word(kPmic0RevisionNumber);
  d.rcd_manufacturer_id = f.word(kRcdManufacturerId);
  d.rcd_revision_number = f.word(kRcdRevisionNumber);

  d.speed_mts = speed_of(d.speed_raw, d.extended_speed_raw);
  d.configured_speed_mts = speed_of(d.configured_speed_raw, d.extended_configured_speed_raw);

  // The string names the maker the firmware reports (often the DRAM's); the
  // module's SPD code, when present, its own maker. Where the string names
  // no maker of memory, the code or else the part number stands for both.
  if (d.module_manufacturer_id)
    d.module_manufacturer = vendor_from_module_id(*d.module_manufacturer_id);
  opt<vendor_id> from_string;
  if (d.manufacturer && d.manufacturer->raw) from_string = memo->vendor(*d.manufacturer->raw);
  const std::string* part = d.part_number && d.part_number->raw ? &*d.part_number->raw : nullptr;
  d.vendor = choose_vendor(from_string, d.module_manufacturer, part);
  return d;
}

// Why a device is not system memory, or null when it is.
const char* other_memory_reason(const memory_device& d, const memory_array* array) {
  if (d.memory_type) {
    const uint32_t c = d.memory_type->code;
    if (c >= 0x08 && c <= 0x0C) return "read-only or flash memory type";
    if (c == 0x1F) return "logical non-volatile device";
  }
  if (array != nullptr && !array->system_memory) return "array is not system memory";
  if (d.type_detail && (d.type_detail->raw & (1u << 12))) return "non-volatile type detail";
  if (d.memory_technology && d.memory_technology->code == 5) return "flash-only NVDIMM";
  // Persistent memory configured with no volatile part (SMBIOS 3.2 sizes).
  constexpr uint64_t kUnknown = ~uint64_t{0};
  if (d.non_volatile_size_bytes && d.volatile_size_bytes && *d.non_volatile_size_bytes != 0 &&
      *d.non_volatile_size_bytes != kUnknown && *d.volatile_size_bytes == 0)
    return "non-volatile memory only";
  return nullptr;
}

}  // namespace

document decode_detail(smbios_view t, decode_scope scope) {
  document doc;
  doc.readable = true;
  // The structures found first and decoded after, so that each record is
  // built once in its place rather than moved as the vectors grow.
  std::vector<smbios_struct> arrays, devices, mapped;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  while (smbios_next(t, &w, &st)) {
    if (st.type == kMemoryArray) arrays.push_back(st);
    if (st.type == kMemoryDeviceType) devices.push_back(st);
    if (st.type == 19 || st.type == 20) mapped.push_back(st);
  }
  doc.arrays.reserve(arrays.size());
  for (const smbios_struct& a : arrays) doc.arrays.push_back(decode_array(t, a));
  doc.devices.reserve(devices.size());
  maker_memo memo;
  for (const smbios_struct& d : devices) doc.devices.push_back(decode_device(t, d, &memo));
  for (memory_device& d : doc.devices) {
    const memory_array* array = nullptr;
    for (memory_array& a : doc.arrays) {
      if (d.array_handle && a.handle == *d.array_handle) {
        ++a.devices_found;
        if (array == nullptr) array = &a;
      }
    }
    if (array != nullptr) d.ecc = array->ecc;
    d.other_memory_reason = other_memory_reason(d, array);
    d.system_memory = d.other_memory_reason == nullptr;
  }
  totals& s = doc.sum;
  for (const memory_array& a : doc.arrays) {
    if (!a.system_memory) continue;
    ++s.arrays;
    const bool ecc = a.ecc.value_or(false);
    s.ecc = s.ecc.value_or(true) && ecc;
  }
  for (const memory_device& d : doc.devices) {
    if (!d.system_memory) continue;
    ++s.slots;
    if (!d.populated) continue;
    ++s.populated;
    s.installed_bytes = saturating_add(s.installed_bytes, *d.size_bytes);
  }
  if (scope == decode_scope::devices) return doc;
  doc.mapped.reserve(mapped.size());
  for (const smbios_struct& m : mapped) doc.mapped.push_back(decode_mapped_address(t, m));
  position_rules(&doc);
  tell_configuration(&doc);
  return doc;
}

}  // namespace raminfo_detail
