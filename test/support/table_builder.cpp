#include "table_builder.h"

#include "little_endian.h"

Bytes structure(const Bytes& formatted, const std::vector<std::string>& strings) {
  Bytes b = formatted;
  for (const std::string& s : strings) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
  }
  if (strings.empty()) b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes end_of_table() { return structure({127, 4, 0xFF, 0xFE}); }

Bytes Dimm::formatted() const {
  Bytes b(length < 4 ? 4 : length, 0);
  b[0] = 17;
  b[1] = length;
  put_le(b, 2, 0x1100, 2);  // handle
  put_le(b, 0x0C, size, 2);
  put_le(b, 0x0E, form_factor, 1);
  put_le(b, 0x10, locator, 1);
  put_le(b, 0x11, bank, 1);
  put_le(b, 0x12, type, 1);
  put_le(b, 0x15, speed, 2);
  put_le(b, 0x17, manufacturer, 1);
  put_le(b, 0x18, serial, 1);
  put_le(b, 0x1A, part, 1);
  put_le(b, 0x1C, extended_size, 4);
  put_le(b, 0x20, configured_speed, 2);
  put_le(b, 0x26, voltage, 2);
  return b;
}

Bytes Dimm::with(const std::vector<std::string>& strings) const {
  return structure(formatted(), strings);
}

Dimm ddr4_dimm() {
  return Dimm{.length = 0x28,
              .size = 16384,
              .form_factor = 0x09,
              .locator = 1,
              .type = 0x1A,
              .speed = 3200,
              .manufacturer = 2,
              .serial = 3,
              .part = 4,
              .configured_speed = 2933,
              .voltage = 1200};
}

const std::vector<std::string>& ddr4_strings() {
  static const std::vector<std::string> strings = {"DIMM_A1", "Samsung", "0123ABCD",
                                                   "M393A2K43BB1-CTD"};
  return strings;
}

Bytes table(const std::vector<Bytes>& pieces) {
  Bytes t;
  for (const Bytes& p : pieces) t.insert(t.end(), p.begin(), p.end());
  return t;
}

Bytes raw_block_claiming(const Bytes& table, uint32_t length) {
  Bytes b = {0, 3, 2, 0, 0, 0, 0, 0};
  put_le(b, 4, length, 4);
  b.insert(b.end(), table.begin(), table.end());
  return b;
}

Bytes raw_block(const Bytes& table, uint8_t major, uint8_t minor) {
  Bytes b = raw_block_claiming(table, static_cast<uint32_t>(table.size()));
  b[1] = major;
  b[2] = minor;
  return b;
}
