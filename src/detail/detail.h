// The detail document: everything the firmware's SMBIOS table says about
// memory (Physical Memory Arrays, type 16, and Memory Devices, type 17), for
// the command-line host and the detail library (include/raminfo_detail.h),
// which give the same document from this one decoder. It reads the table
// through src/smbios/ (the walk, the bounds-checked reads and the one reading
// of a memory device), as the core library does; the core library never
// links it.
#ifndef RAMINFO_DETAIL_DETAIL_H
#define RAMINFO_DETAIL_DETAIL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detail/layout.h"
#include "names/names.h"
#include "names/vendors.h"
#include "smbios/smbios.h"

namespace raminfo_detail {

// The document's "schema" value. The number changes only when a consumer of
// the previous one could misread a document: a key removed or renamed, a
// type or unit changed, a meaning changed. New keys keep the number.
inline constexpr const char* kSchema = "raminfo-detail/1";

// A string field of a structure.
struct text_field {
  uint8_t number = 0;              // the string number the structure holds
  std::optional<std::string> raw;  // the firmware's bytes; none for number 0 or a missing string
  bool placeholder = true;         // no real value: absent, blank or a known filler
};

// A coded byte or word: the raw code and its DSP0134 name (null when the
// code has none that this version knows).
struct coded {
  uint32_t code = 0;
  const char* name = nullptr;
};

// A bit field: the raw word and the names of its set bits, lowest first.
struct flags {
  uint32_t raw = 0;
  std::vector<const char*> names;
};

struct memory_array {
  uint16_t handle = 0;
  uint8_t length = 0;
  opt<coded> location, use, error_correction;
  opt<bool> ecc;                                // error correction is single- or multi-bit ECC
  opt<uint32_t> maximum_capacity_raw;           // KiB; 0x80000000: see the extended field
  opt<uint64_t> extended_maximum_capacity_raw;  // bytes
  opt<uint64_t> maximum_capacity_bytes;         // null when the firmware does not know it
  opt<uint16_t> error_information_handle;
  opt<uint16_t> declared_devices;
  unsigned devices_found = 0;  // Memory Devices that name this array
  bool system_memory = true;   // use is not video, flash, non-volatile or cache memory
};

// Memory errors counted against one device by the operating system (Linux's
// EDAC), joined to it by the command-line host; the decoder never sets them.
struct module_errors {
  opt<uint64_t> corrected, uncorrected;  // null when a joined count is unknown
  std::vector<std::string> edac;         // the joined EDAC names, "mc0/dimm3"
  std::string matched_by;                // "label" or "label_file"
};

struct memory_device {
  uint16_t handle = 0;
  uint8_t length = 0;
  opt<uint16_t> array_handle, error_information_handle;
  opt<uint16_t> total_width_bits, data_width_bits;  // raw; 0xFFFF unknown
  opt<uint16_t> size_raw;
  opt<uint32_t> extended_size_raw;
  opt<uint64_t> size_bytes;  // 0 when no module is installed; null when unknown
  bool populated = false;
  opt<coded> form_factor;
  opt<uint8_t> device_set;  // 0 none, 0xFF unknown
  opt<text_field> locator, bank_locator;
  opt<coded> memory_type;
  opt<flags> type_detail;
  opt<uint16_t> speed_raw;
  opt<uint32_t> extended_speed_raw;
  opt<uint32_t> speed_mts;  // null when unknown
  opt<text_field> manufacturer, serial_number, asset_tag, part_number;
  opt<uint8_t> attributes_raw;
  opt<unsigned> rank;  // null when the firmware says unknown (0)
  opt<uint16_t> configured_speed_raw;
  opt<uint32_t> extended_configured_speed_raw;
  opt<uint32_t> configured_speed_mts;
  opt<uint16_t> minimum_voltage_mv, maximum_voltage_mv, configured_voltage_mv;  // 0 unknown
  opt<coded> memory_technology;
  opt<flags> operating_mode_capability;
  opt<text_field> firmware_version;
  opt<uint16_t> module_manufacturer_id, module_product_id;
  opt<uint16_t> subsystem_controller_manufacturer_id, subsystem_controller_product_id;
  // Raw: 0 none, all ones unknown.
  opt<uint64_t> non_volatile_size_bytes, volatile_size_bytes, cache_size_bytes, logical_size_bytes;
  opt<uint16_t> pmic0_manufacturer_id, pmic0_revision_number;
  opt<uint16_t> rcd_manufacturer_id, rcd_revision_number;
  // Derived.
  opt<vendor_id> vendor;               // from the manufacturer string, else the module's ID
  opt<vendor_id> module_manufacturer;  // from the module's ID (SMBIOS 3.2+)
  opt<bool> ecc;                       // the ECC of the array this device names; null without one
  bool system_memory = true;
  const char* other_memory_reason = nullptr;  // why it is not system memory
  opt<module_errors> errors;                  // null when no counted module joins this device
  opt<position> where;                        // null when neither locator nor type 20 tells it
};

// A counted module that joined no device, listed rather than guessed.
struct unmatched_errors {
  std::string edac;
  opt<std::string> label, location;  // raw bytes as the kernel wrote them
  opt<uint64_t> corrected, uncorrected;
};

// Errors a memory controller could not place on a module.
struct unplaced_errors_count {
  std::string controller;
  opt<uint64_t> corrected, uncorrected;
};

// Where the per-module counts come from and whether there are any; unknown
// counts are never written as 0.
struct memory_errors {
  bool available = false;
  std::string reason = "not read";  // why not, for people; empty when available
  std::vector<unmatched_errors> unmatched;
  std::vector<unplaced_errors_count> unplaced;
};

struct totals {
  unsigned arrays = 0;     // system memory arrays
  unsigned slots = 0;      // system memory devices
  unsigned populated = 0;  // of those, the ones with a known size above 0
  uint64_t installed_bytes = 0;
  opt<bool> ecc;  // every system memory array reports ECC; null without arrays
};

struct document {
  bool readable = false;
  std::string reason;  // why the table could not be read; written only then
  std::vector<memory_array> arrays;
  std::vector<memory_device> devices;
  totals sum;
  memory_errors errors;
  std::vector<mapped_address> mapped;  // types 19 and 20 in table order
  configuration setup;
  std::vector<finding> findings;
};

// How much decode_detail tells: the whole document, or its arrays, devices
// and totals only, for a reader that compares modules and needs no mapped
// addresses, positions, configuration or findings.
enum class decode_scope { whole, devices };

// Decodes every type 16, 17, 19 and 20 structure the walk reaches in t, and
// tells the configuration and its findings from them.
document decode_detail(smbios_view t, decode_scope scope = decode_scope::whole);

// The document as JSON text (indented, ending in a newline).
std::string detail_json(const document& doc);

// The reason of the document a program gets when no memory can be had for
// its answer.
inline constexpr const char* kOutOfMemory = "out of memory";

// detail_json's text for an unreadable table whose reason is kOutOfMemory,
// written without allocating, once, into static storage: the detail
// library's answer when it cannot allocate one. The same pointer every call.
const char* out_of_memory_json();

// The document for people: the arrays line, then one row per device.
// populated_only leaves out the rows of empty slots; the summary still counts them.
std::string detail_table(const document& doc, bool populated_only = false);

// The line closing a table when some counted errors are on no listed device
// (modules that joined none, errors the controllers could not place); empty
// when there are none.
std::string memory_errors_line(const memory_errors& e);

// Pieces shared with the tests (is_placeholder and the makers' rules come
// with names/).
// Firmware bytes as a JSON string literal, quotes included: valid UTF-8 is
// kept, '"' and '\' are escaped, control bytes become \u00XX and every byte
// that is not part of valid UTF-8 becomes U+FFFD.
std::string json_string(const std::string& bytes);
// The same literal appended to *out, with no string made for it.
void append_json_string(std::string* out, const char* bytes, size_t size);

}  // namespace raminfo_detail

#endif
