// The detail decoder on tables built byte by byte.
#include "detail/detail.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "little_endian.h"
#include "table_builder.h"

namespace {

using nlohmann::json;
using namespace raminfo_detail;

// A type-17 structure of the given length with every byte of its formatted
// area non-zero, so that each covered field has a value.
Bytes device_of_length(uint8_t length) {
  Bytes b(length, 0x11);
  b[0] = 17;
  b[1] = length;
  put_le(b, 0x10, 1, 1);
  for (size_t off : {0x11, 0x17, 0x18, 0x19, 0x1A, 0x2B}) put_le(b, off, 1, 1);
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
    put_le(b, 0x0C, c.size, 2);
    put_le(b, 0x1C, c.extended_size, 4);
    put_le(b, 0x15, c.speed, 2);
    put_le(b, 0x54, c.extended_speed, 4);
    const json d = doc_of(structure(b, {"x"}))["devices"][0];
    EXPECT_EQ(d["size_bytes"], c.size_bytes) << c.size << " " << c.extended_size;
    EXPECT_EQ(d["populated"], c.size_bytes.is_number() && c.size_bytes != 0);
    EXPECT_EQ(d["speed_mts"], c.speed_mts) << c.speed << " " << c.extended_speed;
    EXPECT_EQ(d["speed_raw"], c.speed);
  }
}

TEST(DetailDecode, CodedFieldsKeepTheirRawCode) {
  Bytes b = device_of_length(0x5C);
  put_le(b, 0x12, 0x1A, 1);    // DDR4
  put_le(b, 0x0E, 0x77, 1);    // no such form factor
  put_le(b, 0x13, 0x2080, 2);  // Synchronous, Registered
  const json d = doc_of(structure(b, {"x"}))["devices"][0];
  EXPECT_EQ(d["memory_type"], (json{{"code", 0x1A}, {"name", "DDR4"}}));
  EXPECT_EQ(d["form_factor"], (json{{"code", 0x77}, {"name", nullptr}}));
  EXPECT_EQ(d["type_detail"],
            (json{{"raw", 0x2080}, {"names", {"Synchronous", "Registered (Buffered)"}}}));
}

TEST(DetailStrings, PlaceholdersAreToldFromRealValues) {
  for (const char* s : {"NO DIMM", "Not Specified", "Unknown", "0000", "00000000", "SerNum0",
                        "PartNum0", "Array1_PartNumber0", "ModulePartNumber01", "ABCD", "   ",
                        "To Be Filled By O.E.M.", "unknown  "})
    EXPECT_TRUE(is_placeholder(s)) << s;
  for (const char* s : {"Samsung", "DIMM_A1", "0123ABCD", "M393A2K43BB1-CTD", "A1", "DIMM 0",
                        "Array1_", "PartNumber", "ModulePartNumber", "00AD00B300AD"})
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
  put_le(b, 0x11, 2, 1);  // the bank locator is string 2
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
    {"0000000080AD", "SK Hynix", "jedec_code", 1, 0xAD},  // the first known pair
    {"000000000000", "", "", 0, 0},
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
    {"859B", "Crucial", "jedec_code", 6, 0x9B},
    {"859b", "Crucial", "jedec_code", 6, 0x9B},
    {"059B", "Crucial", "jedec_code", 6, 0x9B},
    {"04CD", "G.Skill", "jedec_code", 5, 0xCD},
    {"0198", "Kingston", "jedec_code", 2, 0x98},
    {"0x0198", "Kingston", "jedec_code", 2, 0x98},
    {"8198", "", "", 0, 0},  // 0x81 has even parity: no count byte
    {"0443", "Ramaxel", "jedec_code", 5, 0x43},
    {"83 0B", "Nanya", "jedec_code", 4, 0x0B},
    {"002D", "SK Hynix", "jedec_code", 1, 0xAD},  // the ID without its parity bit
    {"80AC", "", "", 0, 0},                       // bit 7 set, parity wrong
    {"0A92", "Guangzhou Xinyi Heng Computer Trading Firm", "jedec_code", 11, 0x92},
    {"1001", "Shenzhen JIEQING Technology Co Ltd", "jedec_code", 17, 0x01},
    {"9101", "Shenzhen Xinruiyun Storage Technology", "jedec_code", 18, 0x01},  // bank 18
    {"1164", "", "jedec_code", 18, 0x64},  // a code the list does not name
    {"1201", "", "", 0, 0},                // no bank 19
    // The structure's ID word, ID byte first, after "Unknown".
    {"Unknown - [0x9B85]", "Crucial", "jedec_code", 6, 0x9B},
    {"Unknown ID:0x5D07", "Goodram", "jedec_code", 8, 0x5D},
    {"Unknown - [0x9B8]", "", "", 0, 0},
    // Readable names, however spelled.
    {"SK Hynix", "SK Hynix", "name", 1, 0xAD},
    {"Hynix", "SK Hynix", "name", 1, 0xAD},
    {"Hynix/Hyundai", "SK Hynix", "name", 1, 0xAD},
    {"Hynix Semiconductor           ", "SK Hynix", "name", 1, 0xAD},
    {"Hyundai", "SK Hynix", "name", 1, 0xAD},
    {"Micron", "Micron Technology", "name", 1, 0x2C},
    {"Micron Technology", "Micron Technology", "name", 1, 0x2C},
    {"Crucial", "Crucial", "name", 6, 0x9B},
    {"CRUCIAL", "Crucial", "name", 6, 0x9B},
    {"Crucial", "Crucial", "name", 6, 0x9B},
    {"G.Skill", "G.Skill", "name", 5, 0xCD},
    {"G-Skill", "G.Skill", "name", 5, 0xCD},
    {"G Skill Intl", "G.Skill", "name", 5, 0xCD},
    {"A-DATA Technology", "ADATA", "name", 5, 0xCB},
    {"ADATA", "ADATA", "name", 5, 0xCB},
    {"Kingston", "Kingston", "name", 2, 0x98},
    {"Samsung", "Samsung", "name", 1, 0xCE},
    {"Corsair", "Corsair", "name", 3, 0x9E},
    {"Nanya", "Nanya", "name", 4, 0x0B},
    {"Elpida", "Elpida", "name", 3, 0xFE},
    {"Ramaxel", "Ramaxel", "name", 5, 0x43},
    {"Transcend", "Transcend", "name", 2, 0x4F},
    {"Team Group", "Team Group", "name", 5, 0xEF},
    {"TEAMGROUP", "Team Group", "name", 5, 0xEF},
    {"Apacer", "Apacer", "name", 2, 0x7A},
    {"Smart Modular", "Smart Modular", "name", 2, 0x94},
    {"SMART", "Smart Modular", "name", 2, 0x94},
    {"Qimonda", "Qimonda", "name", 6, 0x51},
    {"Infineon", "Infineon", "name", 1, 0xC1},
    {"Winbond", "Winbond", "name", 1, 0xDA},
    {"KIOXIA", "Kioxia", "name", 1, 0x98},
    {"Montage", "Montage Technology", "name", 7, 0x32},
    {"Patriot", "Patriot Memory", "name", 6, 0x02},
    {"Kingmax", "Kingmax", "name", 4, 0x25},
    {"Unifosa", "Unifosa", "name", 8, 0x07},
    {"Netlist", "Netlist", "name", 4, 0x16},
    {"Virtium", "Virtium", "name", 6, 0xBA},
    // Names that start with a maker's name, truncated company words and all.
    {"Hynix Semiconduc", "SK Hynix", "name", 1, 0xAD},
    {"Micron_Technolog", "Micron Technology", "name", 1, 0x2C},
    {"Samsung-00CE", "Samsung", "name", 1, 0xCE},
    {"Smart Brazil", "Smart Modular", "name", 2, 0x94},
    {"SK_Hynix", "SK Hynix", "name", 1, 0xAD},
    {"Patriot Memory (PDP Systems)", "Patriot Memory", "name", 6, 0x02},
    {"ChangXin Memory Technologies Inc", "CXMT", "name", 11, 0x91},
    {"Changxin Memory Technology (Shanghai)", "CXSH", "name", 16, 0x01},
    // Misspellings the field shows, of one maker only.
    {"Kinston", "Kingston", "name", 2, 0x98},
    {"Mircon", "Micron Technology", "name", 1, 0x2C},
    // Earlier names JEDEC records for a code name its present holder.
    {"Hyundai Electronics", "SK Hynix", "name", 1, 0xAD},
    {"Toshiba", "Kioxia", "name", 1, 0x98},
    {"FUJITSU", "RAMXEED", "name", 1, 0x04},
    {"Western Digital", "SanDisk", "name", 1, 0x45},
    // A maker JEP106 names, give or take its company words.
    {"Macronix International Co., Ltd.", "Macronix", "name", 1, 0xC2},
    {"Intel Corporation", "Intel", "name", 1, 0x89},
    {"Gold Key Technology Co Ltd", "Gold Key", "name", 10, 0x45},
    {"Silicon Power Computer & Communications", "Silicon Power", "name", 7, 0xD3},
    {"Shenzhen Longsys Electronics Co Ltd", "Longsys", "name", 10, 0xCD},
    // Machine makers' own labels: one name each, no DRAM maker claimed.
    {"HP", "HP", "system_maker", 0, 0},
    {"Hewlett-Packard", "HP", "system_maker", 0, 0},
    {"HP Smart Memory", "HP", "system_maker", 0, 0},  // not Smart Modular
    {"HPE", "HPE", "system_maker", 0, 0},
    {"Dell", "Dell", "system_maker", 0, 0},
    {" Dell Inc. ", "Dell", "system_maker", 0, 0},
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
    {"Dream Team", "", "", 0, 0},  // a maker's name must start the string
    {"Unknown (ce00)", "", "", 0, 0},
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

TEST(DetailStrings, EveryPlaceholderFamilyIsFlagged) {
  // One case or more per family of filler firmware writes; beside each, a
  // real value of the same shape that is no filler.
  const std::pair<const char*, const char*> families[] = {
      {"Unknown", "Unknown - [0x9B85]"},      // a word for no value
      {"UNKNOWN", "Unknow Tech"},             //
      {"Unknow", "Kingston"},                 // cut short
      {"Unde", "Undertow"},                   //
      {"Undefined", "Samsung-00CE"},          //
      {"Not Specified", "Not Elpida"},        //
      {"N/A", "NA1"},                         //
      {"None", "Nonesuch"},                   //
      {"NULL", "NULLA"},                      //
      {"Other", "Others Memory"},             //
      {"NO DIMM", "DIMM 0"},                  //
      {"To be filled by O.E.M", "OEM"},       //
      {"ABCD", "0123ABCD"},                   //
      {"Unknown (0)", "Unknown - [0xCD04]"},  // "Unknown" with a note
      {"Unknown (ce00)", "Unknown ID:0x9B05"},
      {"Undefined (00)", "Undefined-00FE"},
      {"Mfg 0", "Mfg Corp"},  // template text with a number
      {"Manufacturer00", "Manufacturer"},
      {"Manufacturer12", "ManufacturerX"},
      {"A1_Manufacturer0", "A1_Maker0"},
      {"Dimm3_Manufacturer", "Dimm3_"},
      {"ChannelB_DIMM0_Manufacturer0", "ChannelB_DIMM0"},
      {"SerNum0", "PartNumber"},
      {"Array1_PartNumber0", "Array1_"},
      {"A1_AssetTagNum0", "A1_Tag0"},
      {"0x0000", "0x0198"},  // zeros, with or without a label
      {"0000", "0198"},
      {"0", "80AD"},
      {"0000000000000000", "AD00000000000000"},
      {"JEDEC ID:", "JEDEC ID:80 AD"},
      {"JEDEC ID:00 00 00 00 00 00 00 00", "JEDEC ID:AD 00 00 00 00 00 00 00"},
      {"Unknown - [0x0000]", "Unknown - [0x0285]"},
      {"FFFF", "FF02"},  // erased bytes
      {"FFFFFFFFFFFFFFFF", "7F7F9E0000000000"},
      {"[Empty]", "[Samsung]"},  // bracketed words
      {"<none>", "<Kingston>"},
      {"<BAD INDEX>", "BAD1"},
      {"-", "A-1"},  // punctuation alone
      {"", "A"},
      {"   ", "DIMM_A1"},
      {"48spaces", "48GB"},               // the count of spaces meant
      {"123456789012345678", "1234567"},  // a counting run
      {"012345678901234567890123456789012345", "9905701-017.A00G"},
      {"DDDDDDDDDDDDDDDDDD", "DDR4 3200"},  // one or two characters repeated
      {"EAEAEAEAEAEAEAEAEAEA", "EBJ41UF8BDU0-GN-F"},
  };
  for (const auto& [filler, real] : families) {
    EXPECT_TRUE(is_placeholder(filler)) << '"' << filler << '"';
    EXPECT_FALSE(is_placeholder(real)) << '"' << real << '"';
  }
}

// A part number and the maker its scheme names ("" for none).
struct part_case {
  const char* part;
  const char* maker;
};

const part_case kPartNumbers[] = {
    // Samsung modules and DRAM.
    {"M471A1G44AB0-CWE", "Samsung"},
    {"M393A2K43BB1-CTD", "Samsung"},
    {"M378B5273DH0-CH9", "Samsung"},
    {"M3 78T2863QZS-CF7", "Samsung"},
    {"M323R2GA3BB0-CQKOL", "Samsung"},
    {"K4A8G165WC-BCTD", "Samsung"},
    {"K3UH5H50MM-NGCJ", "Samsung"},
    {"UBE3D4AA-MGCR", "Samsung"},  // K4U without its first two characters
    {"M4U16S682LJJJ43-12", ""},    // M4 then a letter: not Samsung's
    // SK Hynix modules and DRAM.
    {"HMA81GS6AFR8N-UH", "SK Hynix"},
    {"HMT351S6CFR8C-PB", "SK Hynix"},
    {"HMP125U6EFR8C-S6", "SK Hynix"},
    {"HMCG78AEBSA092N", "SK Hynix"},
    {"HYMP112S64CR6-S6", "SK Hynix"},
    {"H5AN8G6NDJR-XNC", "SK Hynix"},
    {"H9HCNNNBKUMLHR-NME", "SK Hynix"},
    {"HCNNNCPMMLXR-NEE", "SK Hynix"},  // H9 without its first two characters
    {"H58G66BK7BX067", "SK Hynix"},
    // Micron and Crucial.
    {"MT16KTF1G64HZ-1G6E1", "Micron Technology"},
    {"MTA8ATF1G64HZ-2G6E1", "Micron Technology"},
    {"MTC8C1084S1SC48BA1", "Micron Technology"},
    {"18KSF51272PZ-1G4K", "Micron Technology"},
    {"4ATF51264HZ-3G2J1", "Micron Technology"},
    {"53E1G32D2NP-046", "Micron Technology"},  // MT53 without its first two
    {"CT8G4SFS824A.C8FBD1", "Crucial"},
    {"CT102464BF160B.M16", "Crucial"},
    {"BLS8G3D1609DS1S00.", "Crucial"},
    {"BL8G32C16U4B.M8FE1", "Crucial"},
    {"CB8GS2666.C8JT", "Crucial"},
    {"CP32G4DFRA32A.M16FF", "Crucial"},
    {"ST51264BA1339.16FM", "Crucial"},
    // Kingston.
    {"KVR16S11/8", "Kingston"},
    {"KHX1600C10D3/8G", "Kingston"},
    {"KF432C16BB/8", "Kingston"},
    {"HX432C16FB3/8", "Kingston"},
    {"KCP426SS8/16", "Kingston"},
    {"ACR26D4S9S8ME-8", "Kingston"},
    {"9905701-017.A00G", "Kingston"},
    {"9965516-189.A00LF", "Kingston"},
    {"99U5471-012.A00LF", "Kingston"},
    {"KINGSTON", "Kingston"},  // the maker's name as the part number
    // Corsair, G.Skill, ADATA, Team Group, Patriot.
    {"CMK16GX4M2B3200C16", "Corsair"},
    {"CM4X16GC3200C16K2E", "Corsair"},
    {"VS2GB1333D4", "Corsair"},
    {"F4-3200C16-8GVKB", "G.Skill"},
    {"F3-12800CL9-4GBRL", "G.Skill"},
    {"F5-6000J3636F16G", "G.Skill"},
    {"AD4S320038G22-SGN", "ADATA"},
    {"AX4U320038G16A-ST50", "ADATA"},
    {"AO1P26KC8T1-BXPS", "ADATA"},
    {"TED416G2666C19BK", "Team Group"},
    {"TEAMGROUP-UD4-3200", "Team Group"},
    {"Team-Elite-1600", "Team Group"},
    {"PSD48G266681", "Patriot Memory"},
    {"PV416G320C6K", "Patriot Memory"},
    {"3200 C16 Series", "Patriot Memory"},
    // Ramaxel, Nanya, Elpida, Smart Modular, Apacer, Transcend, Kingmax,
    // Goodram, Gold Key.
    {"RMSA3260MB78HAF2400", "Ramaxel"},
    {"RMT3170ME68F9F1600", "Ramaxel"},
    {"NT8GA64D88CX3S-JR", "Nanya"},
    {"M2S4G64CB8HG5N-CG", "Nanya"},
    {"EBJ41UF8BDU0-GN-F", "Elpida"},
    {"EDFB232A1MA-JD-F", "Elpida"},
    {"SH564128FH8NZPHSCR", "Smart Modular"},
    {"SF4641G8CK8IEHLSBG", "Smart Modular"},
    {"SMS4TDC3C0K0446SCG", "Smart Modular"},
    {"78.D2GFH.4030B", "Apacer"},
    {"TS512MSK64V6N", "Transcend"},
    {"JM1600KSH-4G", "Transcend"},
    {"FLFF65F-C8KL9", "Kingmax"},
    {"GR2400D464L17S/8G", "Goodram"},
    {"IR2666D464L16S/8G", "Goodram"},
    {"GKE800SO102408-2666A", "Gold Key"},
    // The ASCII bytes in hex, as some firmware writes them.
    {"0x484D54343147533641465238412D50422020", "SK Hynix"},
    {"4D332037385435363633515A332D43463720", "Samsung"},
    // Machine makers' own part numbers and others: no maker.
    {"HP647647-071-HYE", ""},
    {"HP24D4S7S8MBP-8", ""},
    {"SNPMGY5TC/8G", ""},
    {"01AG712", ""},
    {"LV32D4S2S8HD-8", ""},
    {"DDR4 3200", ""},
    {"R748G2400S2S", ""},
    {"RM25", ""},
    // Placeholders.
    {"Not Specified", ""},
    {"PartNum0", ""},
    {"123456789012345678", ""},
    {"0x000000000000000000", ""},
};

TEST(DetailVendors, EveryPartNumberSchemeNamesItsMaker) {
  for (const part_case& c : kPartNumbers) {
    const auto v = vendor_from_part_number(c.part);
    if (*c.maker == '\0') {
      EXPECT_FALSE(v) << '"' << c.part << "\" gave " << (v ? v->name : "");
      continue;
    }
    ASSERT_TRUE(v) << '"' << c.part << '"';
    EXPECT_EQ(v->name, c.maker) << c.part;
    EXPECT_STREQ(v->source, "part_number") << c.part;
  }
}

// What the string, the module's code and the part number name together.
TEST(DetailVendors, ThePartNumberNamesTheMakerWhereTheStringCannot) {
  struct combined {
    const char* maker;
    const char* part;
    const char* name;  // "" for none
    const char* source;
    const char* jedec_name;  // nullptr: no key; "": a code that names nobody
  };
  const combined cases[] = {
      // A maker of memory named by the string stands, whatever the part.
      {"Samsung", "HMT351S6CFR8C-PB", "Samsung", "name", nullptr},
      {"80AD", "M471A1G44AB0-CWE", "SK Hynix", "jedec_code", nullptr},
      // A code of a maker of no memory gives way to the part number, and
      // stays readable beside it.
      {"0215", "CMZ8GX3M2A1600C9", "Corsair", "part_number", "Symagery Microsystems"},
      {"0420", "F3-1600C9-8GXM", "G.Skill", "part_number", "Legend Silicon Corp"},
      {"1164", "KHX1600C10D3/8G", "Kingston", "part_number", ""},
      // A string that decodes to nothing, or a placeholder.
      {"1315", "CT102464BF160B.M16", "Crucial", "part_number", nullptr},
      {"Unknown", "HMA81GS6AFR8N-UH", "SK Hynix", "part_number", nullptr},
      {"Unknown (ce00)", "MT53E512M32D2NP", "Micron Technology", "part_number", nullptr},
      {"Manufacturer0", "PartNum0", "", "", nullptr},
      // A machine maker's label or a maker of no DRAM modules.
      {"HP", "M471B5273DH0-CH9", "Samsung", "part_number", nullptr},
      {"HP", "HP647647-071-HYE", "HP", "system_maker", nullptr},
      {"Toshiba", "KHX1600C10D3/8G", "Kingston", "part_number", nullptr},
      {"Toshiba", "8HTF12864HDY-800G1", "Micron Technology", "part_number", nullptr},
      // A code of a maker of no memory with no part to go by stays.
      {"0215", "<none>", "Symagery Microsystems", "jedec_code", nullptr},
  };
  for (const combined& c : cases) {
    const std::string part = c.part;
    const auto v = choose_vendor(vendor_from_string(c.maker), std::nullopt, &part);
    if (*c.name == '\0') {
      EXPECT_FALSE(v) << c.maker << " / " << c.part;
      continue;
    }
    ASSERT_TRUE(v) << c.maker << " / " << c.part;
    EXPECT_EQ(v->name, c.name) << c.maker << " / " << c.part;
    EXPECT_STREQ(v->source, c.source) << c.maker << " / " << c.part;
    ASSERT_EQ(v->jedec_name.has_value(), c.jedec_name != nullptr) << c.maker << " / " << c.part;
    if (c.jedec_name != nullptr) {
      EXPECT_EQ(*v->jedec_name, c.jedec_name) << c.maker;
    }
  }

  // In the document: the part number's maker, with the code's own reading.
  Bytes b = device_of_length(0x1B);
  put_le(b, 0x17, 2, 1);
  put_le(b, 0x1A, 3, 1);
  json d = doc_of(structure(b, {"x", "0215", "CMZ8GX3M2A1600C9"}))["devices"][0];
  EXPECT_EQ(d["vendor"], (json{{"name", "Corsair"},
                               {"jedec_bank", 3},
                               {"jedec_code", 0x9E},
                               {"source", "part_number"},
                               {"jedec_name", "Symagery Microsystems"}}));
  d = doc_of(structure(b, {"x", "Unknown", "F4-3200C16-8GVKB"}))["devices"][0];
  EXPECT_EQ(d["vendor"], (json{{"name", "G.Skill"},
                               {"jedec_bank", 5},
                               {"jedec_code", 0xCD},
                               {"source", "part_number"}}));
  EXPECT_EQ(d["manufacturer"]["placeholder"], true);
}

TEST(DetailVendors, TheModuleIdNamesTheModuleMaker) {
  EXPECT_EQ(vendor_from_module_id(0x9B85)->name, "Crucial");
  EXPECT_EQ(vendor_from_module_id(0x9801)->name, "Kingston");
  for (uint16_t id : {0x0000, 0xFFFF, 0x7F80, 0xAD81})
    EXPECT_FALSE(vendor_from_module_id(id)) << id;

  // A Corsair module with Samsung's chips: both makers are known.
  Bytes b = device_of_length(0x34);
  put_le(b, 0x2C, 0x9E02, 2);
  put_le(b, 0x17, 2, 1);  // the manufacturer is string 2
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

  // A machine maker's label names no maker of memory: the module's code
  // does. Without one, the label stays, with no code.
  d = doc_of(structure(b, {"x", "Dell"}))["devices"][0];
  EXPECT_EQ(d["vendor"]["name"], "Corsair");
  EXPECT_EQ(d["vendor"]["source"], "module_manufacturer_id");
  put_le(b, 0x2C, 0, 2);
  d = doc_of(structure(b, {"x", "Dell"}))["devices"][0];
  EXPECT_EQ(d["vendor"], (json{{"name", "Dell"},
                               {"jedec_bank", nullptr},
                               {"jedec_code", nullptr},
                               {"source", "system_maker"}}));
  d = doc_of(structure(b, {"x", "Nobody Known"}))["devices"][0];
  EXPECT_EQ(d["vendor"], nullptr);
  EXPECT_EQ(d["module_manufacturer"], nullptr);
}

Bytes memory_array(uint16_t handle, uint8_t use, uint8_t ecc) {
  Bytes b(0x17, 0);
  b[0] = 16;
  b[1] = 0x17;
  put_le(b, 2, handle, 2);
  put_le(b, 4, 3, 1);
  put_le(b, 5, use, 1);
  put_le(b, 6, ecc, 1);
  put_le(b, 7, 0x80000000u, 4);
  put_le(b, 0x0D, 2, 2);
  put_le(b, 0x0F, uint64_t{1} << 40, 8);
  return structure(b);
}

Bytes device(uint16_t array, uint16_t size_mb, uint8_t type) {
  Bytes b = device_of_length(0x28);
  put_le(b, 4, array, 2);
  put_le(b, 0x0C, size_mb, 2);
  put_le(b, 0x12, type, 1);
  put_le(b, 0x13, 0x0080, 2);
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

// The detail library's answer when it cannot allocate one: the writer's own
// document of an unreadable table, written without allocating.
TEST(DetailJson, TheOutOfMemoryDocumentIsTheWritersUnreadableOne) {
  document doc;
  doc.reason = kOutOfMemory;
  EXPECT_EQ(std::string(out_of_memory_json()), detail_json(doc));
  EXPECT_EQ(out_of_memory_json(), out_of_memory_json());
  EXPECT_EQ(json::parse(out_of_memory_json())["reason"], "out of memory");
}

TEST(DetailTable, RowsShowVendorsRanksAndFillers) {
  Bytes b = device_of_length(0x28);
  put_le(b, 0x0C, 8192, 2);
  put_le(b, 0x12, 0x1A, 1);
  put_le(b, 0x1B, 0x02, 1);  // rank 2
  put_le(b, 0x10, 1, 1);
  put_le(b, 0x11, 0, 1);  // no bank locator
  put_le(b, 0x17, 2, 1);
  put_le(b, 0x18, 3, 1);
  put_le(b, 0x1A, 4, 1);
  const Bytes t = table({structure(b, {"DIMM\x01"
                                       "A",
                                       "1164", "SerNum0", "PN-1"})});
  const std::string text = detail_table(decode_detail(smbios_view{t.data(), t.size()}));
  EXPECT_NE(text.find("DIMM?A  -     8 GiB  DDR4"), std::string::npos) << text;
  EXPECT_NE(text.find("JEDEC 18:0x64  PN-1         -"), std::string::npos) << text;
  EXPECT_NE(text.find(" 2     -    "), std::string::npos) << text;  // rank, no array: ECC unknown
}

}  // namespace
