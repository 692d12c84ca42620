// The maker of a memory module from what the firmware says of it: a JEDEC
// JEP106 code, a readable name, a machine maker's label or the module's part
// number, resolved to one name per maker (vendors.cpp, over jep106.ids).
// Shared by the detail decoder and the command-line host's comparison.
#ifndef RAMINFO_NAMES_VENDORS_H
#define RAMINFO_NAMES_VENDORS_H

#include <cstdint>
#include <optional>
#include <string>

namespace raminfo_detail {

template <typename T>
using opt = std::optional<T>;

using opt_string = std::optional<std::string>;

// A module's maker: from a JEDEC JEP106 code, a readable name, a system
// maker's own label or the module's part number.
struct vendor_id {
  unsigned bank = 0;  // 1-based JEP106 bank (continuation codes + 1); 0 without a code
  uint8_t code = 0;   // the ID byte, parity bit included; with a bank only
  std::string name;   // one spelling per maker; empty when the code names none we know
  // "jedec_code" (the manufacturer string spells a code), "name" (it names a
  // maker), "system_maker" (a machine maker's label), "part_number" (the
  // module's part number follows a maker's scheme) or
  // "module_manufacturer_id" (the structure's SPD code).
  const char* source = "";
  // When the manufacturer string spelled a code and another source named
  // the maker instead: the name the code reads as ("" when JEP106 names no
  // maker for it).
  opt_string jedec_name;
  bool memory_maker = false;  // a maker of memory modules or DRAM, whose name stands
};

opt<vendor_id> vendor_from_module_id(uint16_t id);
// The maker a manufacturer string names; none for a placeholder or a string
// no rule knows.
opt<vendor_id> vendor_from_string(const std::string& raw);
// The maker a part number names by its maker's published scheme; none for
// a placeholder, a machine maker's own part number or one no rule knows.
opt<vendor_id> vendor_from_part_number(const std::string& raw);
// A module's maker from what the manufacturer string names, what the Module
// Manufacturer ID names and the part number: the first of them that names a
// maker of memory, else the first that names anything.
opt<vendor_id> choose_vendor(const opt<vendor_id>& from_string,
                             const opt<vendor_id>& from_module_id, const std::string* part_number);
// The maker of a code (parity bit included) as vendor names it; null when
// JEP106 lists none.
const char* jedec_vendor_name(unsigned bank, uint8_t code);

}  // namespace raminfo_detail

#endif
