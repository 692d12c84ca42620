// Names of the coded fields of types 16 and 17 (DMTF DSP0134 3.7) and the
// filler strings firmware writes where it has no value: shared by the detail
// decoder and the command-line host's rebuild of udev's devices. The makers
// are in names/vendors.h.
#ifndef RAMINFO_NAMES_NAMES_H
#define RAMINFO_NAMES_NAMES_H

#include <cstdint>
#include <string>
#include <vector>

namespace raminfo_detail {

// Each returns null for a code DSP0134 gives no name (or reserves).
const char* array_location_name(uint32_t code);
const char* array_use_name(uint32_t code);
const char* error_correction_name(uint32_t code);
const char* form_factor_full_name(uint32_t code);
const char* memory_type_full_name(uint32_t code);
const char* memory_technology_name(uint32_t code);

// Names of the set bits (1 to 15) of Type Detail and of Memory Operating Mode
// Capability (1 to 5); other bits are reserved and have none.
std::vector<const char*> type_detail_names(uint32_t raw);
std::vector<const char*> operating_mode_names(uint32_t raw);

// Whether firmware text is no real value: blank, or a filler firmware writes
// in its place ("Not Specified", "Unknown", "0000", ...).
bool is_placeholder(const std::string& raw);

}  // namespace raminfo_detail

#endif
