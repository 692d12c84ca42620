#include "smbios/block.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

bool starts_with(const uint8_t* bytes, size_t size, const char* anchor) {
  const size_t n = std::strlen(anchor);
  return size >= n && std::memcmp(bytes, anchor, n) == 0;
}

bool sums_to_zero(const uint8_t* bytes, size_t size, size_t from, size_t count) {
  if (from > size || count > size - from) return false;
  uint8_t sum = 0;
  for (size_t i = from; i < from + count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum == 0;
}

void say(char (&reason)[kBlockReasonCap], const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void say(char (&reason)[kBlockReasonCap], const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof reason, format, args);
  va_end(args);
}

table_verdict too_short(char (&reason)[kBlockReasonCap]) {
  say(reason, "%s", kBlockTooShort);
  return table_verdict::too_short;
}

// Why t is no SMBIOS structure table, into reason; true when it is one (see
// locate_table). cut: the layout says the table is cut short.
bool walk_sound(smbios_view t, bool cut, char (&reason)[kBlockReasonCap]) {
  const char* const no = "not an SMBIOS table";
  if (t.len == 0) {
    say(reason, "%s (the table in it is empty)", no);
    return false;
  }
  const uint8_t* header = smbios_bytes(t, 0, 4);
  if (header == nullptr) {
    say(reason, "%s (%u %s, fewer than a structure header)", no, static_cast<unsigned>(t.len),
        t.len == 1 ? "byte" : "bytes");
    return false;
  }
  const unsigned type = header[0];
  const unsigned length = header[1];
  if (length < 4) {
    say(reason, "%s (the first structure's length byte is %u, below 4)", no, length);
    return false;
  }
  if (type == 127) {
    if (length == 4) return true;
    say(reason, "%s (the first structure has the end-of-table type but %u bytes, not 4)", no,
        length);
    return false;
  }
  if (smbios_bytes(t, 0, length) == nullptr) {
    if (cut) return true;
    say(reason, "%s (the first structure's %u bytes run past the end)", no, length);
    return false;
  }
  for (size_t q = length; smbios_bytes(t, q, 2) != nullptr; ++q) {
    const uint8_t* pair = smbios_bytes(t, q, 2);
    if (pair[0] == 0 && pair[1] == 0) return true;
  }
  if (cut) return true;
  say(reason, "%s (the first structure's strings never end in two NUL bytes)", no);
  return false;
}

// What a dmidecode dump's entry point says of the table it points to.
struct entry_point {
  uint8_t major = 0, minor = 0, revision = 0;
  uint64_t address = 0;
  uint64_t length = 0;
  bool checksum_ok = false;
  // An SMBIOS 3 entry point gives only the table's maximum size, which the
  // table may fall short of; the older ones give its exact length.
  bool exact_length = true;
};

// Entry point layouts, DMTF DSP0134 sections 5.2.1 (32-bit), 5.2.2 (64-bit)
// and the legacy DMI one; false when the bytes open with none of them.
bool read_entry_point(const uint8_t* f, size_t size, entry_point* ep) {
  if (starts_with(f, size, "_SM3_") && size >= 0x18) {
    ep->major = f[7];
    ep->minor = f[8];
    ep->revision = f[9];
    ep->length = read_le(f + 0x0C, 4);
    ep->address = read_le(f + 0x10, 4) | static_cast<uint64_t>(read_le(f + 0x14, 4)) << 32;
    ep->checksum_ok = f[6] >= 0x18 && sums_to_zero(f, size, 0, f[6]);
    ep->exact_length = false;
  } else if (starts_with(f, size, "_SM_") && size >= 0x1F) {
    // Some SMBIOS 2.1 firmware writes an entry point length of 0x1E, which
    // dmidecode accepts too.
    ep->major = f[6];
    ep->minor = f[7];
    ep->revision = f[0x1E];
    ep->length = read_le(f + 0x16, 2);
    ep->address = read_le(f + 0x18, 4);
    ep->checksum_ok =
        f[5] >= 0x1E && sums_to_zero(f, size, 0, f[5]) && sums_to_zero(f, size, 0x10, 0x0F);
  } else if (starts_with(f, size, "_DMI_") && size >= 0x0F) {
    ep->revision = f[0x0E];
    ep->major = static_cast<uint8_t>(ep->revision >> 4);
    ep->minor = static_cast<uint8_t>(ep->revision & 0x0F);
    ep->length = read_le(f + 0x06, 2);
    ep->address = read_le(f + 0x08, 4);
    ep->checksum_ok = sums_to_zero(f, size, 0, 0x0F);
  } else {
    return false;
  }
  return true;
}

// The table a dmidecode dump's entry point names: what the bytes hold from
// its address, up to the length the entry point gives.
table_verdict locate_dmidecode(const uint8_t* bytes, size_t size, located_table* out,
                               char (&reason)[kBlockReasonCap]) {
  entry_point ep;
  if (!read_entry_point(bytes, size, &ep)) {
    say(reason, "not a dmidecode dump: no usable entry point at offset 0");
    return table_verdict::not_a_table;
  }
  // dmidecode refuses such a file; the table it points to may still be sound.
  out->checksum_wrong = !ep.checksum_ok;
  out->major = ep.major;
  out->minor = ep.minor;
  out->revision = ep.revision;
  out->claimed = ep.length;
  if (ep.address > size) {
    say(reason, "dmidecode dump: the table address lies past the end of the file");
    return table_verdict::not_a_table;
  }
  const uint64_t present = size - ep.address;
  out->cut = ep.exact_length && ep.length > present;
  const auto len = static_cast<size_t>(ep.length < present ? ep.length : present);
  out->table = smbios_view{bytes + ep.address, len};
  if (len == 0) return too_short(reason);
  return walk_sound(out->table, out->cut, reason) ? table_verdict::table
                                                  : table_verdict::not_a_table;
}

}  // namespace

smbios_view raw_block_table(const uint8_t* block, size_t size) {
  if (block == nullptr || size <= RAW_HEADER_SIZE) return smbios_view{nullptr, 0};
  size_t len = raw_header_length(block);
  if (len > size - RAW_HEADER_SIZE) len = size - RAW_HEADER_SIZE;
  return smbios_view{block + RAW_HEADER_SIZE, len};
}

block_layout block_layout_of(const uint8_t* bytes, size_t size) {
  if (starts_with(bytes, size, "_SM3_") || starts_with(bytes, size, "_SM_") ||
      starts_with(bytes, size, "_DMI_"))
    return block_layout::dmidecode;
  if (size < RAW_HEADER_SIZE) return block_layout::table;
  // A length field that counts exactly the bytes after the header is the
  // strongest sign of a raw block, whatever its version bytes say.
  if (raw_header_length(bytes) == size - RAW_HEADER_SIZE) return block_layout::rsmb;
  // A bare table opens with a structure whose length byte is 4 or more; a raw
  // block with a calling-method byte of 0 or 1 and an SMBIOS major version
  // (2 or 3, or 0 when left out) in that place.
  if (bytes[0] <= 1 && bytes[1] <= 3) return block_layout::rsmb;
  return block_layout::table;
}

table_verdict locate_table(const uint8_t* bytes, size_t size, block_layout layout,
                           located_table* out, char (&reason)[kBlockReasonCap]) {
  *out = located_table{};
  reason[0] = '\0';
  if (bytes == nullptr) size = 0;
  out->seen = block_layout_of(bytes, size);
  out->layout = layout == block_layout::automatic ? out->seen : layout;
  switch (out->layout) {
    case block_layout::dmidecode: return locate_dmidecode(bytes, size, out, reason);
    case block_layout::rsmb:
      if (size >= RAW_HEADER_SIZE) {
        out->major = bytes[1];
        out->minor = bytes[2];
        out->revision = bytes[3];
        out->claimed = raw_header_length(bytes);
        out->cut = out->claimed > size - RAW_HEADER_SIZE;
      }
      // A header alone holds no table: the loader's finding, for every source.
      if (size <= RAW_HEADER_SIZE) return too_short(reason);
      out->table = raw_block_table(bytes, size);
      break;
    default:
      // Nothing at all is as short as a block gets.
      if (size == 0) return too_short(reason);
      out->table = smbios_view{bytes, size};
      break;
  }
  return walk_sound(out->table, out->cut, reason) ? table_verdict::table
                                                  : table_verdict::not_a_table;
}
