// Memory Array Mapped Addresses (type 19) and Memory Device Mapped
// Addresses (type 20), DSP0134 7.20 and 7.21: the firmware's own word on
// which addresses each array and device holds and how devices interleave.
#include "detail/fields.h"
#include "detail/setup.h"

namespace raminfo_detail {

namespace {

constexpr uint32_t kUseExtended = 0xFFFFFFFFu;

// The byte range of a structure's addresses: the 32-bit KiB addresses, or
// the 64-bit byte addresses when the starting one is all ones.
void decode_range(const fields& f, size_t extended_at, mapped_address* m) {
  m->starting_address_raw = f.dword(0x04);
  m->ending_address_raw = f.dword(0x08);
  m->extended_starting_address = f.qword(extended_at);
  m->extended_ending_address = f.qword(extended_at + 8);
  if (!m->starting_address_raw || !m->ending_address_raw) return;
  if (*m->starting_address_raw != kUseExtended) {
    // The ending address names the last KiB the range holds.
    m->starting_address_bytes = static_cast<uint64_t>(*m->starting_address_raw) << 10;
    m->ending_address_bytes = (static_cast<uint64_t>(*m->ending_address_raw) << 10) + 0x3FF;
  } else if (m->extended_starting_address && m->extended_ending_address) {
    m->starting_address_bytes = *m->extended_starting_address;
    m->ending_address_bytes = *m->extended_ending_address;
  }
  if (m->starting_address_bytes && *m->ending_address_bytes < *m->starting_address_bytes) {
    m->starting_address_bytes.reset();
    m->ending_address_bytes.reset();
  }
}

}  // namespace

mapped_address decode_mapped_address(smbios_view t, const smbios_struct& st) {
  const fields f(t, st);
  mapped_address m;
  m.type = st.type;
  m.handle = static_cast<uint16_t>(smbios_read(t, st.pos + 2, 2));
  m.length = st.length;
  if (st.type == 19) {
    m.array_handle = f.word(0x0C);
    m.partition_width = f.byte(0x0E);
    decode_range(f, 0x0F, &m);
  } else {
    m.device_handle = f.word(0x0C);
    m.array_mapped_address_handle = f.word(0x0E);
    m.partition_row_position = f.byte(0x10);
    m.interleave_position = f.byte(0x11);
    m.interleaved_data_depth = f.byte(0x12);
    decode_range(f, 0x13, &m);
  }
  return m;
}

}  // namespace raminfo_detail
