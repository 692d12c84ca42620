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

TEST(DetailVendors, JedecCodesFromTheModuleIdOrTheManufacturerString) {
  const std::pair<const char*, const char*> strings[] = {
      {"80CE", "Samsung"},
      {"00AD00B300AD", "SK Hynix"},
      {"JEDEC ID:80 AD", "SK Hynix"},
      {"859B", "Crucial Technology"},
      {"0198", "Kingston"},
      {"802C0000802C", "Micron Technology"},
  };
  for (const auto& [s, name] : strings) {
    const auto v = vendor_from_string(s);
    ASSERT_TRUE(v) << s;
    EXPECT_STREQ(v->name, name) << s;
  }
  for (const char* s : {"0000", "Samsung", "80C", "80", "FFFF", "807F", ""})
    EXPECT_FALSE(vendor_from_string(s)) << s;
  // A valid code outside the table stays a code.
  const auto unknown = vendor_from_string("80AB");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->name, nullptr);
  EXPECT_EQ(unknown->bank, 1u);
  EXPECT_EQ(unknown->code, 0xAB);

  EXPECT_STREQ(vendor_from_module_id(0x9B85)->name, "Crucial Technology");
  EXPECT_FALSE(vendor_from_module_id(0));
  // The module ID outranks the string.
  Bytes b = device_of_length(0x34);
  put(b, 0x2C, 0xCE80, 2);
  put(b, 0x17, 2, 1);  // the manufacturer is string 2
  const json d = doc_of(structure(b, {"x", "00AD00B300AD"}))["devices"][0];
  EXPECT_EQ(d["vendor"]["name"], "Samsung");
  EXPECT_EQ(d["vendor"]["source"], "module_manufacturer_id");
  EXPECT_EQ(d["manufacturer"]["raw"], "00AD00B300AD");
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
                                       "80AB", "SerNum0", "PN-1"})});
  const std::string text = detail_table(decode_detail(smbios_view{t.data(), t.size()}));
  EXPECT_NE(text.find("DIMM?A  -     8 GiB  DDR4"), std::string::npos) << text;
  EXPECT_NE(text.find("JEDEC 1:0xAB  PN-1         -"), std::string::npos) << text;
  EXPECT_NE(text.find(" 2     -    "), std::string::npos) << text;  // rank, no array: ECC unknown
}

}  // namespace
