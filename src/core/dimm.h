// The memory devices as the core library reports them: decoded from the
// table (smbios/memory_device.h) into fixed fields ready for its JSON, and
// enumerated over the cached table.
#ifndef RAMINFO_CORE_DIMM_H
#define RAMINFO_CORE_DIMM_H

#include <cstddef>
#include <cstdint>

#include "smbios/smbios.h"

constexpr size_t JSON_FIELD_CAP = 64;

// A decoded Memory Device (type 17). Text fields are JSON-escaped.
struct dimm_info {
  char slot[JSON_FIELD_CAP];
  char manufacturer[JSON_FIELD_CAP];
  char part_number[JSON_FIELD_CAP];
  char serial[JSON_FIELD_CAP];
  int32_t size_mb;
  int32_t speed_mts;
  int32_t configured_speed_mts;
  int32_t voltage_mv;
  const char* type;
  const char* form_factor;
};

// The device's size in MiB; 0 for an empty slot, an unknown size or less
// than 1 MiB.
int32_t dimm_size_mb(smbios_view t, const smbios_struct& st);

// Fills the whole of out from the memory device st.
void decode_dimm(smbios_view t, const smbios_struct& st, dimm_info* out);

// Names of the memory type and form factor codes; never NULL.
const char* mem_type_name(uint8_t code);
const char* form_factor_name(uint8_t code);

// Number of memory devices the walk yields, populated or not.
int count_memory_devices(smbios_view t);

// index -1: the number of populated devices. index >= 0 with out: decodes
// that device into out and returns 1. -2 when there is no such device, 0 for
// an index below -1 or a NULL out, -1 when the table cannot be loaded.
int for_each_dimm(int index, dimm_info* out);

#endif
