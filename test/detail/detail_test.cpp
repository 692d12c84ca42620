// The detail decoder on tables built byte by byte.
#include "detail/detail.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "table_builder.h"

namespace {

using nlohmann::json;
using namespace raminfo_detail;

void put(Bytes& b, size_t off, uint64_t v, size_t width) {
  for (size_t i = 0; i < width && off + i < b.size(); ++i)
    b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A type-17 structure of the given length with every byte of its formatted
// area non-zero, so that each covered field has a value.
Bytes device_of_length(uint8_t length) {
  Bytes b(length, 0x11);
  b[0] = 17;
  b[1] = length;
  put(b, 0x10, 1, 1);
  for (size_t off : {0x11, 0x17, 0x18, 0x19, 0x1A, 0x2B}) put(b, off, 1, 1);
  return b;
}

json doc_of(const Bytes& t) {
  return json::parse(detail_json(decode_detail(smbios_view{t.data(), t.size()})));
}

// Each device key and the length byte from which it is present.
const std::vector<std::pair<const char*, unsigned>> kFieldEnds = {
    {"array_handle", 0x06},
    {"error_information_handle", 0x08},
    {"total_width_bits", 0x0A},
    {"data_width_bits", 0x0C},
    {"size_raw", 0x0E},
    {"form_factor", 0x0F},
    {"device_set", 0x10},
    {"locator", 0x11},
    {"bank_locator", 0x12},
    {"memory_type", 0x13},
    {"type_detail", 0x15},
    {"speed_raw", 0x17},
    {"manufacturer", 0x18},
    {"serial_number", 0x19},
    {"asset_tag", 0x1A},
    {"part_number", 0x1B},
    {"attributes_raw", 0x1C},
    {"extended_size_raw", 0x20},
    {"configured_speed_raw", 0x22},
    {"minimum_voltage_mv", 0x24},
    {"maximum_voltage_mv", 0x26},
    {"configured_voltage_mv", 0x28},
    {"memory_technology", 0x29},
    {"operating_mode_capability", 0x2B},
    {"firmware_version", 0x2C},
    {"module_manufacturer_id", 0x2E},
    {"module_product_id", 0x30},
    {"subsystem_controller_manufacturer_id", 0x32},
    {"subsystem_controller_product_id", 0x34},
    {"non_volatile_size_bytes", 0x3C},
    {"volatile_size_bytes", 0x44},
    {"cache_size_bytes", 0x4C},
    {"logical_size_bytes", 0x54},
    {"extended_speed_raw", 0x58},
    {"extended_configured_speed_raw", 0x5C},
    {"pmic0_manufacturer_id", 0x5E},
    {"pmic0_revision_number", 0x60},
    {"rcd_manufacturer_id", 0x62},
    {"rcd_revision_number", 0x64},
};

TEST(DetailDecode, AFieldIsNullExactlyWhenTheLengthByteDoesNotCoverIt) {
  for (unsigned length = 4; length <= 0x70; ++length) {
    const Bytes t = table({structure(device_of_length(static_cast<uint8_t>(length)), {"x"})});
    const json d = doc_of(t)["devices"][0];
    ASSERT_EQ(d["length"], length);
    for (const auto& [key, end] : kFieldEnds)
      EXPECT_EQ(d[key].is_null(), length < end) << key << " at length " << length;
  }
}

TEST(DetailDecode, AFieldCutOffByTheTableEndIsNull) {
  Bytes t = structure(device_of_length(0x28), {"x"});
  t.resize(0x20);  // the length byte promises 0x28 bytes
  const json d = doc_of(t)["devices"][0];
  EXPECT_FALSE(d["extended_size_raw"].is_null());
  EXPECT_TRUE(d["configured_speed_raw"].is_null());
  EXPECT_TRUE(d["configured_voltage_mv"].is_null());
}

struct SizeSpeedCase {
  uint8_t length;
  uint16_t size;
  uint32_t extended_size;
  uint16_t speed;
  uint32_t extended_speed;
  json size_bytes, speed_mts;
};

TEST(DetailDecode, SizesAndSpeedsApplyTheirExtendedFields) {
  const json null;
  const SizeSpeedCase cases[] = {
      {0x5C, 16384, 0, 3200, 0, json(16384ull << 20), 3200},
      {0x5C, 0, 0, 0, 0, 0, null},                              // empty slot, unknown speed
      {0x5C, 0xFFFF, 0, 0xFFFF, 0, null, null},                 // both unknown
      {0x5C, 0x8000 | 512, 0, 0xFFFF, 8000, 512u << 10, 8000},  // KiB; extended speed
      {0x5C, 0x7FFF, 32768, 0xFFFF, 0x80001F40, json(32768ull << 20), 8000},  // bit 31 reserved
      {0x28, 0x7FFF, 65536, 0xFFFF, 8000, json(65536ull << 20), null},  // no extended speed field
      {0x1C, 0x7FFF, 65536, 1600, 0, json(32767ull << 20), 1600},       // no extended size field
  };
  for (const SizeSpeedCase& c : cases) {
    Bytes b = device_of_length(c.length);
    put(b, 0x0C, c.size, 2);
    put(b, 0x1C, c.extended_size, 4);
    put(b, 0x15, c.speed, 2);
    put(b, 0x54, c.extended_speed, 4);
    const json d = doc_of(structure(b, {"x"}))["devices"][0];
    EXPECT_EQ(d["size_bytes"], c.size_bytes) << c.size << " " << c.extended_size;
    EXPECT_EQ(d["populated"], c.size_bytes.is_number() && c.size_bytes != 0);
    EXPECT_EQ(d["speed_mts"], c.speed_mts) << c.speed << " " << c.extended_speed;
    EXPECT_EQ(d["speed_raw"], c.speed);
  }
}

TEST(DetailDecode, CodedFieldsKeepTheirRawCode) {
  Bytes b = device_of_length(0x5C);
  put(b, 0x12, 0x1A, 1);    // DDR4
  put(b, 0x0E, 0x77, 1);    // no such form factor
  put(b, 0x13, 0x2080, 2);  // Synchronous, Registered
  const json d = doc_of(structure(b, {"x"}))["devices"][0];
  EXPECT_EQ(d["memory_type"], (json{{"code", 0x1A}, {"name", "DDR4"}}));
  EXPECT_EQ(d["form_factor"], (json{{"code", 0x77}, {"name", nullptr}}));
  EXPECT_EQ(d["type_detail"],
            (json{{"raw", 0x2080}, {"names", {"Synchronous", "Registered (Buffered)"}}}));
}

TEST(DetailStrings, PlaceholdersAreToldFromRealValues) {
  for (const char* s :
       {"NO DIMM", "Not Specified", "Unknown", "0000", "00000000", "SerNum0", "PartNum0",
        "Array1_PartNumber0", "ABCD", "   ", "To Be Filled By O.E.M.", "unknown  "})
    EXPECT_TRUE(is_placeholder(s)) << s;
  for (const char* s : {"Samsung", "DIMM_A1", "0123ABCD", "M393A2K43BB1-CTD", "A1", "DIMM 0",
                        "Array1_", "PartNumber", "00AD00B300AD"})
    EXPECT_FALSE(is_placeholder(s)) << s;
}

TEST(DetailStrings, FirmwareBytesBecomeValidJsonStrings) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "\"abc\""},
      {"a\"b\\", "\"a\\\"b\\\\\""},
      {"\x01\x1F\x7F", "\"\\u0001\\u001f\\u007f\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"\xE9t\xE9", "\"\xEF\xBF\xBDt\xEF\xBF\xBD\""},                // Latin-1
      {"x\xC3", "\"x\xEF\xBF\xBD\""},                                // cut sequence
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // surrogate
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(json_string(in), out);
  // The firmware's bytes stay recoverable beside the replaced text.
  Bytes b = device_of_length(0x1B);
  put(b, 0x11, 2, 1);  // the bank locator is string 2
  const Bytes t = structure(b, {"x", "\xE9l\xE9"});
  const json d = doc_of(t)["devices"][0];
  EXPECT_EQ(d["bank_locator"]["bytes_hex"], "E96CE9");
  EXPECT_EQ(d["locator"]["bytes_hex"], nullptr);
}

// Every spelling of a maker seen in the field, and what it resolves to.
struct spelling {
  const char* raw;
  const char* name;  // "" for a code no line of the JEP106 list names
  const char* source;
  unsigned bank;  // 0: no JEDEC code
  unsigned code;
};

const spelling kSpellings[] = {
    // Count byte then ID byte, SPD's order, one pair or the module's,
    // register's and DRAM's makers of which the first counts.
    {"80AD", "SK Hynix", "jedec_code", 1, 0xAD},
    {"0x80AD", "SK Hynix", "jedec_code", 1, 0xAD},
    {"80ad", "SK Hynix", "jedec_code", 1, 0xAD},
    {"80AD000080AD", "SK Hynix", "jedec_code", 1, 0xAD},
    {"00AD00B300AD", "SK Hynix", "jedec_code", 1, 0xAD},
    {"80CE80B380CE", "Samsung", "jedec_code", 1, 0xCE},
    {"802C0000802C", "Micron Technology", "jedec_code", 1, 0x2C},
    {"JEDEC ID:80 AD", "SK Hynix", "jedec_code", 1, 0xAD},
    // The ID after its continuation codes, zero-padded to eight bytes.
    {"AD00000000000000", "SK Hynix", "jedec_code", 1, 0xAD},
    {"0xAD00000000000000", "SK Hynix", "jedec_code", 1, 0xAD},
    {"CE00000000000000", "Samsung", "jedec_code", 1, 0xCE},
    {"7F7F9E0000000000", "Corsair", "jedec_code", 3, 0x9E},
    // Bank count and ID as four digits, with or without parity bits.
    {"029E", "Corsair", "jedec_code", 3, 0x9E},
    {"859B", "Crucial Technology", "jedec_code", 6, 0x9B},
    {"859b", "Crucial Technology", "jedec_code", 6, 0x9B},
    {"059B", "Crucial Technology", "jedec_code", 6, 0x9B},
    {"04CD", "G Skill Intl", "jedec_code", 5, 0xCD},
    {"0198", "Kingston", "jedec_code", 2, 0x98},
    {"0x0198", "Kingston", "jedec_code", 2, 0x98},
    {"8198", "", "", 0, 0},  // 0x81 has even parity: no count byte
    {"0443", "Ramaxel Technology", "jedec_code", 5, 0x43},
    {"83 0B", "Nanya Technology", "jedec_code", 4, 0x0B},
    {"002D", "SK Hynix", "jedec_code", 1, 0xAD},  // the ID without its parity bit
    {"80AC", "", "", 0, 0},                       // bit 7 set, parity wrong
    {"0A92", "", "jedec_code", 11, 0x92},         // a code the list does not name
    // Readable names, however spelled.
    {"SK Hynix", "SK Hynix", "name", 1, 0xAD},
    {"Hynix", "SK Hynix", "name", 1, 0xAD},
    {"Hynix/Hyundai", "SK Hynix", "name", 1, 0xAD},
    {"Hynix Semiconductor           ", "SK Hynix", "name", 1, 0xAD},
    {"Hyundai", "SK Hynix", "name", 1, 0xAD},
    {"Micron", "Micron Technology", "name", 1, 0x2C},
    {"Micron Technology", "Micron Technology", "name", 1, 0x2C},
    {"Crucial", "Crucial Technology", "name", 6, 0x9B},
    {"CRUCIAL", "Crucial Technology", "name", 6, 0x9B},
    {"Crucial Technology", "Crucial Technology", "name", 6, 0x9B},
    {"G.Skill", "G Skill Intl", "name", 5, 0xCD},
    {"G-Skill", "G Skill Intl", "name", 5, 0xCD},
    {"G Skill Intl", "G Skill Intl", "name", 5, 0xCD},
    {"A-DATA Technology", "A-DATA Technology", "name", 5, 0xCB},
    {"ADATA", "A-DATA Technology", "name", 5, 0xCB},
    {"Kingston", "Kingston", "name", 2, 0x98},
    {"Samsung", "Samsung", "name", 1, 0xCE},
    {"Corsair", "Corsair", "name", 3, 0x9E},
    {"Nanya", "Nanya Technology", "name", 4, 0x0B},
    {"Elpida", "Elpida", "name", 2, 0xFE},
    {"Ramaxel", "Ramaxel Technology", "name", 5, 0x43},
    {"Transcend", "Transcend Information", "name", 2, 0x4F},
    {"Team Group", "Team Group Inc.", "name", 5, 0xEF},
    {"TEAMGROUP", "Team Group Inc.", "name", 5, 0xEF},
    {"Apacer", "Apacer Technology", "name", 2, 0x7A},
    {"Smart Modular", "Smart Modular", "name", 2, 0x94},
    {"SMART", "Smart Modular", "name", 2, 0x94},
    {"Qimonda", "Qimonda", "name", 6, 0x51},
    {"Infineon", "Infineon (Siemens)", "name", 1, 0xC1},
    {"Winbond", "Winbond Electronic", "name", 1, 0xDA},
    {"KIOXIA", "Kioxia Corporation", "name", 1, 0x98},
    {"Montage", "Montage Technology", "name", 7, 0x32},
    {"Patriot", "Patriot Memory", "name", 0, 0},
    {"Kingmax", "Kingmax", "name", 0, 0},
    {"Unifosa", "Unifosa", "name", 0, 0},
    {"Netlist", "Netlist", "name", 0, 0},
    {"Virtium", "Virtium", "name", 0, 0},
    // A maker JEP106 names, give or take its company words.
    {"Macronix International Co., Ltd.", "Macronix", "name", 1, 0xC2},
    {"Intel Corporation", "Intel", "name", 1, 0x89},
    // Machine makers' own labels: kept as written, no DRAM maker claimed.
    {"HP", "HP", "system_maker", 0, 0},
    {"Hewlett-Packard", "Hewlett-Packard", "system_maker", 0, 0},
    {"Dell", "Dell", "system_maker", 0, 0},
    {" Dell Inc. ", "Dell Inc.", "system_maker", 0, 0},
    {"Lenovo", "Lenovo", "system_maker", 0, 0},
    {"Apple", "Apple", "system_maker", 0, 0},
    // Placeholders and strings no rule knows stay unnamed.
    {"Unknown", "", "", 0, 0},
    {"Manufacturer0", "", "", 0, 0},
    {"0000", "", "", 0, 0},
    {"JEDEC ID:", "", "", 0, 0},
    {"", "", "", 0, 0},
    {"FFFF", "", "", 0, 0},
    {"807F", "", "", 0, 0},
    {"80C", "", "", 0, 0},
    {"80", "", "", 0, 0},
    {"Micronas", "", "", 0, 0},  // whole words only: not Micron
    {"Smartphone Parts Ltd", "", "", 0, 0},
};

TEST(DetailVendors, EverySpellingResolvesToItsMaker) {
  for (const spelling& c : kSpellings) {
    const auto v = vendor_from_string(c.raw);
    if (*c.source == '\0') {
      EXPECT_FALSE(v) << '"' << c.raw << "\" gave " << (v ? v->name : "");
      continue;
    }
    ASSERT_TRUE(v) << '"' << c.raw << '"';
    EXPECT_EQ(v->name, c.name) << c.raw;
    EXPECT_STREQ(v->source, c.source) << c.raw;
    EXPECT_EQ(v->bank, c.bank) << c.raw;
    EXPECT_EQ(v->code, c.code) << c.raw;
  }
  // A placeholder is flagged as such, whether or not it looks like a code.
  for (const char* s : {"Manufacturer0", "JEDEC ID:", "0000", "JEDEC ID:00 00"})
    EXPECT_TRUE(is_placeholder(s)) << s;
}

TEST(DetailVendors, TheModuleIdNamesTheModuleMaker) {
  EXPECT_EQ(vendor_from_module_id(0x9B85)->name, "Crucial Technology");
  EXPECT_EQ(vendor_from_module_id(0x9801)->name, "Kingston");
  for (uint16_t id : {0x0000, 0xFFFF, 0x7F80, 0xAD81})
    EXPECT_FALSE(vendor_from_module_id(id)) << id;

  // A Corsair module with Samsung's chips: both makers are known.
  Bytes b = device_of_length(0x34);
  put(b, 0x2C, 0x9E02, 2);
  put(b, 0x17, 2, 1);  // the manufacturer is string 2
  json d = doc_of(structure(b, {"x", "Samsung"}))["devices"][0];
  EXPECT_EQ(
      d["vendor"],
      (json{{"name", "Samsung"}, {"jedec_bank", 1}, {"jedec_code", 0xCE}, {"source", "name"}}));
  EXPECT_EQ(d["module_manufacturer"], (json{{"name", "Corsair"},
                                            {"jedec_bank", 3},
                                            {"jedec_code", 0x9E},
                                            {"source", "module_manufacturer_id"}}));
  EXPECT_EQ(d["manufacturer"]["raw"], "Samsung");

  // Without a usable string the module's code names the maker.
  d = doc_of(structure(b, {"x", "Unknown"}))["devices"][0];
  EXPECT_EQ(d["vendor"]["name"], "Corsair");
  EXPECT_EQ(d["vendor"]["source"], "module_manufacturer_id");

  // A machine maker's label has no code; an unknown string no vendor.
  d = doc_of(structure(b, {"x", "Dell"}))["devices"][0];
  EXPECT_EQ(d["vendor"], (json{{"name", "Dell"},
                               {"jedec_bank", nullptr},
                               {"jedec_code", nullptr},
                               {"source", "system_maker"}}));
  put(b, 0x2C, 0, 2);
  d = doc_of(structure(b, {"x", "Nobody Known"}))["devices"][0];
  EXPECT_EQ(d["vendor"], nullptr);
  EXPECT_EQ(d["module_manufacturer"], nullptr);
}

Bytes memory_array(uint16_t handle, uint8_t use, uint8_t ecc) {
  Bytes b(0x17, 0);
  b[0] = 16;
  b[1] = 0x17;
  put(b, 2, handle, 2);
  put(b, 4, 3, 1);
  put(b, 5, use, 1);
  put(b, 6, ecc, 1);
  put(b, 7, 0x80000000u, 4);
  put(b, 0x0D, 2, 2);
  put(b, 0x0F, uint64_t{1} << 40, 8);
  return structure(b);
}

Bytes device(uint16_t array, uint16_t size_mb, uint8_t type) {
  Bytes b = device_of_length(0x28);
  put(b, 4, array, 2);
  put(b, 0x0C, size_mb, 2);
  put(b, 0x12, type, 1);
  put(b, 0x13, 0x0080, 2);
  return structure(b, {"x"});
}

TEST(DetailTotals, CountSystemMemoryAndMarkTheRest) {
  const Bytes t =
      table({memory_array(0x10, 3, 6), memory_array(0x11, 5, 3), device(0x10, 16384, 0x1A),
             device(0x10, 0, 0x02), device(0x11, 2, 0x09), end_of_table()});
  const json doc = doc_of(t);
  EXPECT_EQ(doc["totals"], (json{{"arrays", 1},
                                 {"slots", 2},
                                 {"populated", 1},
                                 {"installed_bytes", 16384ull << 20},
                                 {"ecc", true}}));
  EXPECT_EQ(doc["arrays"][0]["maximum_capacity_bytes"], uint64_t{1} << 40);
  EXPECT_EQ(doc["arrays"][0]["devices_found"], 2);
  EXPECT_EQ(doc["devices"][2]["system_memory"], false);
  EXPECT_EQ(doc["devices"][2]["other_memory_reason"], "read-only or flash memory type");
  EXPECT_EQ(doc["devices"][0]["ecc"], true);
  EXPECT_EQ(detail_table(decode_detail(smbios_view{t.data(), t.size()})).substr(0, 44),
            "1 array, 2 slots, 1 populated, 16 GiB, ECC\nS");

  // One system array without ECC makes the whole machine non-ECC; no array
  // leaves it unknown.
  const Bytes mixed = table({memory_array(0x10, 3, 6), memory_array(0x11, 3, 3), end_of_table()});
  EXPECT_EQ(doc_of(mixed)["totals"]["ecc"], false);
  EXPECT_EQ(doc_of(table({device(0x10, 8192, 0x1A)}))["totals"]["ecc"], nullptr);
}

TEST(DetailTable, RowsShowVendorsRanksAndFillers) {
  Bytes b = device_of_length(0x28);
  put(b, 0x0C, 8192, 2);
  put(b, 0x12, 0x1A, 1);
  put(b, 0x1B, 0x02, 1);  // rank 2
  put(b, 0x10, 1, 1);
  put(b, 0x11, 0, 1);  // no bank locator
  put(b, 0x17, 2, 1);
  put(b, 0x18, 3, 1);
  put(b, 0x1A, 4, 1);
  const Bytes t = table({structure(b, {"DIMM\x01"
                                       "A",
                                       "0A92", "SerNum0", "PN-1"})});
  const std::string text = detail_table(decode_detail(smbios_view{t.data(), t.size()}));
  EXPECT_NE(text.find("DIMM?A  -     8 GiB  DDR4"), std::string::npos) << text;
  EXPECT_NE(text.find("JEDEC 11:0x92  PN-1         -"), std::string::npos) << text;
  EXPECT_NE(text.find(" 2     -    "), std::string::npos) << text;  // rank, no array: ECC unknown
}

}  // namespace
