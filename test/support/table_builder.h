// Builds SMBIOS tables byte by byte, so that each test shows the bytes it is
// about.
#ifndef RAMINFO_TEST_TABLE_BUILDER_H
#define RAMINFO_TEST_TABLE_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A structure: its formatted area as given (type and length byte included)
// followed by its string set; no strings gives the two closing NULs.
Bytes structure(const Bytes& formatted, const std::vector<std::string>& strings = {});

// The end-of-table structure (type 127, length 4).
Bytes end_of_table();

// A Memory Device (type 17) formatted area. Fields land at their DMTF offsets
// only where the length byte leaves room for them.
struct Dimm {
  uint8_t length = 0x28;
  uint16_t size = 0;
  uint8_t form_factor = 0x09;
  uint8_t locator = 0;
  uint8_t bank = 0;
  uint8_t type = 0x1A;
  uint16_t speed = 0;
  uint8_t manufacturer = 0;
  uint8_t serial = 0;
  uint8_t part = 0;
  uint32_t extended_size = 0;
  uint16_t configured_speed = 0;
  uint16_t voltage = 0;

  Bytes formatted() const;
  // The formatted area followed by these strings.
  Bytes with(const std::vector<std::string>& strings) const;
};

// A 16 GiB DDR4 DIMM, 3200 MT/s configured at 2933, 1.2 V, with every string
// set: DIMM_A1, Samsung, serial 0123ABCD, part M393A2K43BB1-CTD.
Dimm ddr4_dimm();
const std::vector<std::string>& ddr4_strings();

// Concatenates pieces into one table.
Bytes table(const std::vector<Bytes>& pieces);

// The raw block the platform returns: calling method, version bytes, the
// table length (by default the real one), then the table.
Bytes raw_block(const Bytes& table, uint8_t major = 3, uint8_t minor = 2);
Bytes raw_block_claiming(const Bytes& table, uint32_t length);

#endif
