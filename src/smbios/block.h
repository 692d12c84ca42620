// Blocks of SMBIOS bytes as they reach the project: the raw block that
// Windows' GetSystemFirmwareTable('RSMB') returns (and that the Linux platform
// layer builds from sysfs), the file `dmidecode --dump-bin` writes, or a bare
// structure table. Where the structure table lies in each, and whether what
// lies there is one: the one reading of a block that the loader, the
// command-line host's --from-dump and the detail library all use; and the
// one writing of a raw block's header, for the Linux platform layer and the
// command-line host's rebuilt blocks.
#ifndef RAMINFO_SMBIOS_BLOCK_H
#define RAMINFO_SMBIOS_BLOCK_H

#include <cstddef>
#include <cstdint>

#include "smbios/smbios.h"

// The layouts a block of SMBIOS bytes comes in; automatic tells it from the
// content.
enum class block_layout : uint8_t { automatic, rsmb, dmidecode, table };

// The table length a raw block's header gives; block holds at least
// RAW_HEADER_SIZE bytes.
inline uint32_t raw_header_length(const uint8_t* block) {
  return read_le(block + RAW_LENGTH_OFFSET, 4);
}

// Writes a raw block's header, RAW_HEADER_SIZE bytes, at out: calling method
// 0, the SMBIOS version (major, minor, DMI revision) and the length of the
// table that follows it.
inline void put_raw_header(uint8_t* out, uint8_t major, uint8_t minor, uint8_t revision,
                           uint32_t table_length) {
  out[0] = 0;
  out[1] = major;
  out[2] = minor;
  out[3] = revision;
  for (size_t i = 0; i < 4; ++i)
    out[RAW_LENGTH_OFFSET + i] = static_cast<uint8_t>(table_length >> 8 * i);
}

// The table of a raw block: the header's length, cut to the bytes present. An
// empty view (NULL base) when the block is no longer than its header.
smbios_view raw_block_table(const uint8_t* block, size_t size);

// The layout the content shows: a dmidecode dump opens with an entry point
// anchor; a raw block has a length field that counts exactly the bytes after
// its header, or version bytes no structure table can start with; anything
// else is taken as a bare structure table.
block_layout block_layout_of(const uint8_t* bytes, size_t size);

// Where a block's layout puts its table, and what the layout says of it.
struct located_table {
  block_layout layout = block_layout::table;  // the one read: the one asked for, or seen
  block_layout seen = block_layout::table;    // the one the content shows
  smbios_view table{nullptr, 0};              // the table's bytes, inside the block
  uint64_t claimed = 0;         // the length the raw block's header or the entry point gives
  bool cut = false;             // the block holds fewer bytes than claimed, of a known length
  bool checksum_wrong = false;  // a dmidecode entry point that sums to no 0
  uint8_t major = 0, minor = 0, revision = 0;  // the SMBIOS version the block gives
};

// The loader's status text for a block with no table byte at all, which
// every reader of a block gives alike.
constexpr const char* kBlockTooShort = "smbios too short";

enum class table_verdict : uint8_t {
  table,        // the first structure is sound (see locate_table)
  too_short,    // no byte of a table at all: the loader's "smbios too short"
  not_a_table,  // no SMBIOS table, for the reason given
};

// Room for a reason, its NUL included: the core loader's status text
// (core/loader.h) holds one.
constexpr size_t kBlockReasonCap = 256;

// Finds the table in the size bytes at bytes, laid out as layout says (or as
// the content shows, for automatic), into *out, and says whether it is one.
// The walk must find the first structure sound, as DMTF DSP0134 section 6.1
// lays one out: a 4-byte header whose length byte counts at least the
// header, then either the end-of-table type 127 of exactly 4 bytes (an empty
// table), or a formatted area and strings ended by two NUL bytes, inside the
// table; when the layout says the table is cut short, they may run to its
// end instead. A table whose walk breaks later (firmware that writes a bad
// length after some good structures) is a table: it is read up to the break.
// reason gets one line for too_short and not_a_table.
table_verdict locate_table(const uint8_t* bytes, size_t size, block_layout layout,
                           located_table* out, char (&reason)[kBlockReasonCap]);

#endif
