// How the memory is set up, as the detail document tells it: where each
// module sits (socket, controller, channel, slot), the firmware's address
// mappings (SMBIOS types 19 and 20), the configuration they add up to and
// the findings drawn from it. Only what the table says unambiguously is
// told; anything else stays null.
#ifndef RAMINFO_DETAIL_LAYOUT_H
#define RAMINFO_DETAIL_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace raminfo_detail {

// Where one module sits. Numbers are as the firmware writes them (some
// count from 0, some from 1); the channel is its letter or number.
struct position {
  std::optional<unsigned> socket, controller, slot;
  std::optional<std::string> channel;
  // What told it: "locator", "bank_locator", "locator_and_bank_locator"
  // (the channel from one, the slot from the other) or
  // "memory_device_mapped_address" (a type 20 structure's interleave).
  const char* source = "";
  // The channel is a letter after "DIMM", which some makers use for the
  // processor instead; the table-wide rules decide. Not written out.
  bool letter_channel = false;
  // The channel is read from the Bank Locator rather than the Locator: two
  // strings number channels apart. Not written out.
  bool bank_channel = false;
};

// A Memory Array Mapped Address (type 19) or a Memory Device Mapped Address
// (type 20), field by field; a field the structure does not cover is null.
struct mapped_address {
  uint8_t type = 0;
  uint16_t handle = 0;
  uint8_t length = 0;
  std::optional<uint32_t> starting_address_raw, ending_address_raw;            // KiB
  std::optional<uint64_t> extended_starting_address, extended_ending_address;  // bytes
  // The first and last byte the range covers; null when unknown.
  std::optional<uint64_t> starting_address_bytes, ending_address_bytes;
  // Type 19: the Physical Memory Array and the devices a row holds.
  std::optional<uint16_t> array_handle;
  std::optional<uint8_t> partition_width;
  // Type 20: the Memory Device, its type 19 range and where it sits in it
  // (0 and 0xFF: unknown; interleave 0: not interleaved).
  std::optional<uint16_t> device_handle, array_mapped_address_handle;
  std::optional<uint8_t> partition_row_position, interleave_position, interleaved_data_depth;
};

// The configuration over system memory.
struct configuration {
  // Null unless every system memory slot's channel is told, named one way;
  // channels_populated null too when a slot's size is unknown.
  std::optional<unsigned> channels_total, channels_populated;
  unsigned free_slots = 0;  // slots the firmware calls empty
  uint64_t installed_bytes = 0;
  std::optional<uint64_t>
      maximum_capacity_bytes;  // the arrays' declared sum; null if any is unknown
  std::optional<bool> ecc;
};

// Something about the configuration worth a person's attention.
struct finding {
  const char* code = "";
  const char* severity = "info";  // "info" or "warning"
  std::string message;
  std::vector<size_t> devices;  // indexes into the document's devices
};

}  // namespace raminfo_detail

#endif
