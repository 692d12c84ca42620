// How the memory is set up: positions from locators and type 20, the mapped
// addresses, the configuration and the findings, on tables built byte by
// byte and on the real tables.
#include "detail/setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "detail_source.h"
#include "little_endian.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

using nlohmann::json;
using namespace raminfo_detail;

constexpr uint16_t kArray = 0x1000;

// A Physical Memory Array: multi-bit ECC, the given capacity in KiB.
Bytes array_of(uint32_t capacity_kib = 64u << 20, uint16_t handle = kArray) {
  Bytes b(0x17, 0);
  b[0] = 16;
  b[1] = 0x17;
  put_le(b, 2, handle, 2);
  b[4] = 3;  // system board
  b[5] = 3;  // system memory
  b[6] = 6;  // multi-bit ECC
  put_le(b, 0x07, capacity_kib, 4);
  put_le(b, 0x0D, 4, 2);
  return structure(b);
}

// A module of the array: size in MiB (0: an empty slot), its locators,
// part number and speeds.
struct Module {
  uint16_t handle;
  const char* locator;
  const char* bank = "BANK 0";
  uint16_t size_mib = 8192;
  const char* part = "PART-1";
  uint16_t speed = 3200, configured = 3200;
  uint16_t array = kArray;
};

Bytes device_of(const Module& m) {
  Dimm d = ddr4_dimm();
  d.size = m.size_mib;
  d.locator = 1;
  d.bank = 2;
  d.manufacturer = 0;
  d.serial = 0;
  d.part = 3;
  d.speed = m.size_mib ? m.speed : 0;
  d.configured_speed = m.size_mib ? m.configured : 0;
  Bytes b = d.formatted();
  put_le(b, 2, m.handle, 2);
  put_le(b, 4, m.array, 2);
  put_le(b, 0x1B, 1, 1);  // rank 1
  return structure(b, {m.locator, m.bank, m.part});
}

// A Memory Device Mapped Address of the device at interleave position and
// depth, in 0x23 bytes with KiB addresses.
Bytes device_mapped_area(uint16_t handle, uint16_t device, uint8_t position, uint8_t depth) {
  Bytes b(0x23, 0);
  b[0] = 20;
  b[1] = 0x23;
  put_le(b, 2, handle, 2);
  put_le(b, 0x04, 0, 4);
  put_le(b, 0x08, (8u << 20) - 1, 4);
  put_le(b, 0x0C, device, 2);
  put_le(b, 0x0E, 0x2000, 2);
  b[0x10] = 0xFF;
  b[0x11] = position;
  b[0x12] = depth;
  return b;
}

Bytes device_mapped(uint16_t handle, uint16_t device, uint8_t position, uint8_t depth) {
  return structure(device_mapped_area(handle, device, position, depth));
}

document doc_of(const std::vector<Bytes>& pieces) {
  std::vector<Bytes> all = pieces;
  all.push_back(end_of_table());
  const Bytes t = table(all);
  return decode_detail(smbios_view{t.data(), t.size()});
}

std::string text(const std::optional<unsigned>& n) {
  return n ? std::to_string(*n) : std::string("-");
}

// A position as one line: socket/controller/channel/slot source; "null".
std::string shown(const std::optional<position>& p) {
  if (!p) return "null";
  return text(p->socket) + "/" + text(p->controller) + "/" + p->channel.value_or("-") + "/" +
         text(p->slot) + " " + p->source;
}

struct LocatorCase {
  const char* locator;
  const char* bank;  // null: no string
  const char* expected;
};

TEST(SetupPosition, EachLocatorFamilyTellsItsPlaceAndMakersConventionsTellNoChannel) {
  const LocatorCase cases[] = {
      // The channel named in so many words.
      {"ChannelA-DIMM0", "BANK 0", "-/-/A/0 locator"},
      {"Controller1-ChannelA-DIMM0", "BANK 0", "-/1/A/0 locator"},
      {"DIMM 1", "P0 CHANNEL B", "0/-/B/1 locator_and_bank_locator"},
      {"P1-DIMMA1", "P1_Node1_Channel2_Dimm0", "1/1/2/0 bank_locator"},
      {"DIMM_A1", "NODE 0 CHANNEL 1 DIMM 0", "-/0/1/0 bank_locator"},
      {"DIMM000 J27", "SOCKET 0 CHANNEL 0 DIMM 0", "0/-/0/0 bank_locator"},
      {"Channel-1-DIMM-0", "BANK 0", "-/-/1/0 locator"},
      {"Bottom-Slot 1(left)", "ChannelB0", "-/-/B/- bank_locator"},
      // The slot from the other string where its letter names the same channel.
      {"ONBOARD DIMM_A2", "Channel A", "-/-/A/2 locator_and_bank_locator"},
      {"CPU0_DIMMB1", "P0 CHANNEL B", "0/-/B/1 locator_and_bank_locator"},
      {"DIMM_B1", "Channel A", "-/-/A/- bank_locator"},
      // The letter after DIMM is the channel, the number its slot.
      {"CPU1_DIMM_A1", "NODE 0", "1/-/A/1 locator"},
      {"DIMM_B2", nullptr, "-/-/B/2 locator"},
      {"P2-DIMMC1", "BANK 2", "2/-/C/1 locator"},
      {"DIMM_P1_G0", "NO DIMM", "1/-/G/0 locator"},
      // Channel and DIMM numbers glued together.
      {"CPU0_C1D0", "NODE 0", "0/-/1/0 locator"},
      // HP's letter after the slot number is an order of population.
      {"PROC 1 DIMM 2D", nullptr, "1/-/-/2 locator"},
      {"P1_DIMM1A", "BANK0", "1/-/-/1 locator"},
      {"DIMM 1A", nullptr, "null"},
      // Dell's letter names the processor; nothing says which.
      {"A1", nullptr, "null"},
      {"B12", nullptr, "null"},
      // No channel, no socket: nothing to tell.
      {"DIMM0", "BANK 0", "null"},
      {"DIMM A", "BANK 0", "null"},
      {"A1_DIMM0", "A1_BANK0", "null"},
      {"System Board Memory", nullptr, "null"},
      {"RAM slot #0", "RAM slot #0", "null"},
      // A socket alone is still told.
      {"PROC 2 DIMM 12", nullptr, "2/-/-/12 locator"},
      {"Node1_Dimm0", "Node1_Bank0", "-/1/-/0 locator"},
  };
  for (const LocatorCase& c : cases) {
    const std::string locator = c.locator;
    const std::string bank = c.bank != nullptr ? c.bank : "";
    EXPECT_EQ(shown(position_from_locators(&locator, c.bank != nullptr ? &bank : nullptr)),
              c.expected)
        << c.locator << " | " << (c.bank != nullptr ? c.bank : "(none)");
  }
}

struct TableCase {
  const char* name;
  std::vector<Module> modules;
  std::vector<Bytes> extra;
  std::vector<const char*> positions;  // one per module
  std::optional<unsigned> total, populated;
};

TEST(SetupPosition, TheWholeTableDecidesRepeatsLettersAndInterleaves) {
  const TableCase cases[] = {
      {"letters with two slots each name channels",
       {{0x11, "DIMM_A1"}, {0x12, "DIMM_A2", "BANK 0", 0}, {0x13, "DIMM_B1"}, {0x14, "DIMM_B2"}},
       {},
       {"-/-/A/1 locator", "-/-/A/2 locator", "-/-/B/1 locator", "-/-/B/2 locator"},
       2,
       2},
      {"letters with four slots each name processors",
       {{0x11, "DIMM_A1"},
        {0x12, "DIMM_A2"},
        {0x13, "DIMM_A3"},
        {0x14, "DIMM_A4"},
        {0x15, "DIMM_B1"}},
       {},
       {"null", "null", "null", "null", "null"},
       std::nullopt,
       std::nullopt},
      {"a repeated pair of locators tells neither device's channel",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "ChannelA-DIMM0"}, {0x13, "ChannelB-DIMM0"}},
       {},
       {"null", "null", "-/-/B/0 locator"},
       std::nullopt,
       std::nullopt},
      {"two names of one place tell neither",
       {{0x11, "ChannelA-DIMM0", "BANK 0"}, {0x12, "ChannelA-DIMM0", "BANK 1"}},
       {},
       {"null", "null"},
       std::nullopt,
       std::nullopt},
      {"type 20 interleave positions tell channels the locators do not",
       {{0x11, "DIMM0"}, {0x12, "DIMM1"}},
       {device_mapped(0x21, 0x11, 1, 1), device_mapped(0x22, 0x12, 2, 1)},
       {"-/-/1/- memory_device_mapped_address", "-/-/2/- memory_device_mapped_address"},
       2,
       2},
      {"an empty slot's type 20 tells nothing",
       {{0x11, "DIMM0"}, {0x12, "DIMM1", "BANK 0", 0}},
       {device_mapped(0x21, 0x11, 1, 1), device_mapped(0x22, 0x12, 2, 1)},
       {"-/-/1/- memory_device_mapped_address", "null"},
       std::nullopt,
       std::nullopt},
      {"type 20 without interleave data tells nothing",
       {{0x11, "DIMM0"}, {0x12, "DIMM1"}},
       {device_mapped(0x21, 0x11, 0xFF, 0xFF), device_mapped(0x22, 0x12, 0, 0)},
       {"null", "null"},
       std::nullopt,
       std::nullopt},
      {"type 20 structures that disagree tell nothing",
       {{0x11, "DIMM0"}},
       {device_mapped(0x21, 0x11, 1, 1), device_mapped(0x22, 0x11, 2, 1)},
       {"null"},
       std::nullopt,
       std::nullopt},
      {"the locators' word stands over type 20's",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "ChannelB-DIMM0"}},
       {device_mapped(0x21, 0x11, 2, 1), device_mapped(0x22, 0x12, 1, 1)},
       {"-/-/A/0 locator", "-/-/B/0 locator"},
       2,
       2},
      {"channels told by two kinds of source are not counted",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "DIMM1"}},
       {device_mapped(0x22, 0x12, 2, 1)},
       {"-/-/A/0 locator", "-/-/2/- memory_device_mapped_address"},
       std::nullopt,
       std::nullopt},
      {"a Locator's letters and a Bank Locator's numbers are not counted together",
       {{0x11, "P1-DIMMA1", "P0_Node0_Channel0_Dimm0"},
        {0x12, "P1-DIMMA2", "NO DIMM", 0},
        {0x13, "P1-DIMMB1", "P0_Node0_Channel1_Dimm0"},
        {0x14, "P1-DIMMB2", "NO DIMM", 0}},
       {},
       {"0/0/0/0 bank_locator", "1/-/A/2 locator", "0/0/1/0 bank_locator", "1/-/B/2 locator"},
       std::nullopt,
       std::nullopt},
      {"a slot of unknown size leaves the populated channels untold",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "ChannelB-DIMM0", "BANK 0", 0xFFFF}},
       {},
       {"-/-/A/0 locator", "-/-/B/0 locator"},
       2,
       std::nullopt},
      {"an empty slot's channel counts in the total only",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "ChannelB-DIMM0", "BANK 0", 0}},
       {},
       {"-/-/A/0 locator", "-/-/B/0 locator"},
       2,
       1},
  };
  for (const TableCase& c : cases) {
    std::vector<Bytes> pieces = {array_of()};
    for (const Module& m : c.modules) pieces.push_back(device_of(m));
    pieces.insert(pieces.end(), c.extra.begin(), c.extra.end());
    const document doc = doc_of(pieces);
    ASSERT_EQ(doc.devices.size(), c.positions.size()) << c.name;
    for (size_t i = 0; i < c.positions.size(); ++i)
      EXPECT_EQ(shown(doc.devices[i].where), c.positions[i]) << c.name << ", device " << i;
    EXPECT_EQ(doc.setup.channels_total, c.total) << c.name;
    EXPECT_EQ(doc.setup.channels_populated, c.populated) << c.name;
  }
}

TEST(SetupMapped, TypesNineteenAndTwentyDecodeFieldByField) {
  // Type 19 with KiB addresses: 0 to 16 GiB - 1 of array 0x1000, two wide.
  Bytes kib(0x1F, 0);
  kib[0] = 19;
  kib[1] = 0x1F;
  put_le(kib, 2, 0x0019, 2);
  put_le(kib, 0x04, 0, 4);
  put_le(kib, 0x08, (16u << 20) - 1, 4);
  put_le(kib, 0x0C, kArray, 2);
  kib[0x0E] = 2;
  // Type 19 past 4 TiB: the KiB fields all ones, the byte addresses extended.
  Bytes extended = kib;
  put_le(extended, 2, 0x0119, 2);
  put_le(extended, 0x04, 0xFFFFFFFF, 4);
  put_le(extended, 0x08, 0xFFFFFFFF, 4);
  put_le(extended, 0x0F, uint64_t{5} << 40, 8);
  put_le(extended, 0x17, (uint64_t{6} << 40) - 1, 8);
  // The same in the 0x0F bytes of SMBIOS 2.1: no extended fields to defer to.
  Bytes short_one(extended.begin(), extended.begin() + 0x0F);
  short_one[1] = 0x0F;
  put_le(short_one, 2, 0x0219, 2);
  const Bytes device = device_mapped(0x0020, 0x11, 2, 1);
  const document doc = doc_of({array_of(), device_of({0x11, "DIMM0"}), structure(kib),
                               structure(extended), structure(short_one), device});
  ASSERT_EQ(doc.mapped.size(), 4u);
  const mapped_address& a = doc.mapped[0];
  EXPECT_EQ(a.type, 19);
  EXPECT_EQ(a.array_handle, kArray);
  EXPECT_EQ(a.partition_width, 2);
  EXPECT_EQ(a.starting_address_bytes, 0u);
  EXPECT_EQ(a.ending_address_bytes, (uint64_t{16} << 30) - 1);
  EXPECT_EQ(doc.mapped[1].starting_address_bytes, uint64_t{5} << 40);
  EXPECT_EQ(doc.mapped[1].ending_address_bytes, (uint64_t{6} << 40) - 1);
  EXPECT_EQ(doc.mapped[2].starting_address_raw, 0xFFFFFFFFu);
  EXPECT_FALSE(doc.mapped[2].extended_starting_address);
  EXPECT_FALSE(doc.mapped[2].starting_address_bytes);
  const mapped_address& d = doc.mapped[3];
  EXPECT_EQ(d.type, 20);
  EXPECT_EQ(d.device_handle, 0x11);
  EXPECT_EQ(d.array_mapped_address_handle, 0x2000);
  EXPECT_EQ(d.partition_row_position, 0xFF);
  EXPECT_EQ(d.interleave_position, 2);
  EXPECT_EQ(d.interleaved_data_depth, 1);
  EXPECT_EQ(d.ending_address_bytes, (uint64_t{8} << 30) - 1);
  // Each type reads only its own fields; the other type's are null.
  const json j = json::parse(detail_json(doc));
  EXPECT_EQ(j["mapped_addresses"][0]["partition_width"], 2);
  EXPECT_TRUE(j["mapped_addresses"][0]["interleave_position"].is_null());
  EXPECT_EQ(j["mapped_addresses"][3]["interleave_position"], 2);
  EXPECT_TRUE(j["mapped_addresses"][3]["array_handle"].is_null());
}

TEST(SetupMapped, AFieldPastTheLengthByteIsNull) {
  // A type 20 of 0x12 bytes: the interleave position is in it, the depth
  // and the extended addresses are not, though the table holds bytes there.
  Bytes b = device_mapped_area(0x21, 0x11, 1, 1);
  b.resize(0x12);
  b[1] = 0x12;
  const document doc = doc_of({array_of(), device_of({0x11, "DIMM0"}), structure(b)});
  ASSERT_EQ(doc.mapped.size(), 1u);
  EXPECT_EQ(doc.mapped[0].interleave_position, 1);
  EXPECT_FALSE(doc.mapped[0].interleaved_data_depth);
  EXPECT_FALSE(doc.mapped[0].extended_starting_address);
  // Without a depth, the position tells no channel.
  EXPECT_FALSE(doc.devices[0].where);
}

struct FindingCase {
  const char* name;
  std::vector<Module> modules;
  uint32_t capacity_kib;
  // code, severity, devices and a piece of the message, for each finding.
  std::vector<std::tuple<const char*, const char*, std::vector<size_t>, const char*>> findings;
};

TEST(SetupFindings, EachFindingIsMadeFromWhatTheTableTells) {
  const FindingCase cases[] = {
      {"one module in two channels",
       {{0x11, "Controller0-ChannelA-DIMM0"}, {0x12, "Controller1-ChannelA-DIMM0", "BANK 0", 0}},
       64u << 20,
       {{"channels_unused", "warning", {1}, "1 of 2 memory channels holds no module"},
        {"free_slots", "info", {1}, "room for 56 GiB more"}}},
      {"two modules sharing a channel beside an empty one",
       {{0x11, "ChannelA-DIMM0"},
        {0x12, "ChannelA-DIMM1"},
        {0x13, "ChannelB-DIMM0", "BANK 0", 0},
        {0x14, "ChannelB-DIMM1", "BANK 0", 0}},
       16u << 20,
       {{"channels_unused", "warning", {2, 3}, "moving a module"},
        {"free_slots", "info", {2, 3}, "no more than is installed"}}},
      {"channels of different capacity",
       {{0x11, "ChannelA-DIMM0", "BANK 0", 16384}, {0x12, "ChannelB-DIMM0"}},
       64u << 20,
       {{"channels_unbalanced", "warning", {0, 1}, "A: 16 GiB, B: 8 GiB"},
        {"mixed_modules", "info", {0, 1}, "differ in size"}}},
      {"arrays of no named socket are processors apart",
       {{0x11, "ChannelA-DIMM0", "BANK 0", 16384},
        {0x12, "ChannelB-DIMM0", "BANK 0", 16384},
        {0x13, "ChannelA-DIMM0", "BANK 1", 8192, "PART-1", 3200, 3200, kArray + 1},
        {0x14, "ChannelB-DIMM0", "BANK 1", 8192, "PART-1", 3200, 3200, kArray + 1}},
       64u << 20,
       {}},
      {"a slot of unknown size: no channel finding",
       {{0x11, "ChannelA-DIMM0"},
        {0x12, "ChannelA-DIMM1"},
        {0x13, "ChannelB-DIMM0", "BANK 0", 0xFFFF}},
       64u << 20,
       {}},
      {"channels unknown: no channel finding",
       {{0x11, "A1"}, {0x12, "A2", "BANK 0", 0}},
       64u << 20,
       {{"free_slots", "info", {1}, "1 of 2 slots is empty (A2)"}}},
      {"all below their rating",
       {{0x11, "ChannelA-DIMM0", "BANK 0", 8192, "PART-1", 3200, 2933},
        {0x12, "ChannelB-DIMM0", "BANK 0", 8192, "PART-1", 3200, 2933}},
       16u << 20,
       {{"below_rated_speed", "info", {0, 1}, "2933 MT/s of 3200 MT/s"}}},
      {"the slowest module sets the speed",
       {{0x11, "ChannelA-DIMM0", "BANK 0", 8192, "PART-1", 3200, 2666},
        {0x12, "ChannelB-DIMM0", "BANK 0", 8192, "PART-2", 2666, 2666}},
       16u << 20,
       {{"below_rated_speed", "warning", {0, 1}, "the slowest (ChannelB-DIMM0)"},
        {"mixed_modules", "info", {0, 1}, "part number and rated speed"}}},
      {"template part numbers name no part",
       {{0x11, "ChannelA-DIMM0", "BANK 0", 8192, "ModulePartNumber00"},
        {0x12, "ChannelB-DIMM0", "BANK 0", 8192, "ModulePartNumber01"}},
       16u << 20,
       {}},
      {"matched modules at their rating",
       {{0x11, "ChannelA-DIMM0"}, {0x12, "ChannelB-DIMM0"}},
       16u << 20,
       {}},
  };
  for (const FindingCase& c : cases) {
    // Each array a module names, in the order first named.
    std::vector<Bytes> pieces;
    std::set<uint16_t> arrays;
    for (const Module& m : c.modules)
      if (arrays.insert(m.array).second) pieces.push_back(array_of(c.capacity_kib, m.array));
    for (const Module& m : c.modules) pieces.push_back(device_of(m));
    const document doc = doc_of(pieces);
    ASSERT_EQ(doc.findings.size(), c.findings.size()) << c.name << ":\n"
                                                      << findings_text(doc.findings);
    for (size_t k = 0; k < c.findings.size(); ++k) {
      const auto& [code, severity, devices, words] = c.findings[k];
      const finding& f = doc.findings[k];
      EXPECT_STREQ(f.code, code) << c.name;
      EXPECT_STREQ(f.severity, severity) << c.name;
      EXPECT_EQ(f.devices, devices) << c.name << ", " << code;
      EXPECT_NE(f.message.find(words), std::string::npos) << c.name << ": " << f.message;
    }
  }
}

TEST(SetupFindings, CheckLinesPutWarningsFirst) {
  std::vector<finding> findings(2);
  findings[0] = {"free_slots", "info", "2 of 4 slots are empty", {}};
  findings[1] = {"channels_unused", "warning", "1 of 2 memory channels holds no module", {}};
  EXPECT_EQ(findings_text(findings),
            "warning channels_unused: 1 of 2 memory channels holds no module\n"
            "info free_slots: 2 of 4 slots are empty\n");
  EXPECT_EQ(findings_text({}), "no findings\n");
}

struct RealCase {
  const char* dump;
  std::optional<unsigned> total, populated;
  unsigned free_slots;
  std::set<std::string> codes;
  const char* first_channel;  // the first device's channel label ("" for none)
};

void PrintTo(const RealCase& c, std::ostream* os) { *os << c.dump; }

class SetupRealTables : public testing::TestWithParam<RealCase> {};

// Checked by hand against each table's locators (dmidecode -t 16,17,19,20).
const RealCase kRealCases[] = {
    // Controller0-ChannelA-DIMM0 holds the one module, Controller1's is empty.
    {"minipc-beelink-eq12-ddr5-sodimm-truncated-table",
     2,
     1,
     1,
     {"channels_unused", "below_rated_speed", "free_slots"},
     "MC0/A"},
    // DIMM 0 and DIMM 1 in P0 CHANNEL A and B; a module in each DIMM 1.
    {"server-asrockrack-x570d4u-ddr4-32g-extended-size", 2, 2, 2, {"free_slots"}, "S0/A"},
    // P0_Node0_Channel0..3 and P1_Node1_Channel0..3, two modules each; the
    // arrays mix two part numbers each.
    {"server-supermicro-x9drw-2s-16dimm-ddr3", 8, 8, 0, {"mixed_modules"}, "S0/MC0/0"},
    // A1..A12, B1..B12 name the processors, not channels.
    {"server-dell-poweredge-24slot-ddr4-smbios32",
     std::nullopt,
     std::nullopt,
     16,
     {"mixed_modules", "free_slots"},
     ""},
    {"vm-vmware-esxi-128slot", std::nullopt, std::nullopt, 127, {"free_slots"}, ""},
    {"laptop-microsoft-surface-laptop3-ddr4-native-rsmb", 2, 2, 0, {}, "S0/A"},
};

TEST_P(SetupRealTables, TellChannelsOnlyWhereTheLocatorsSayThem) {
  const RealCase& c = GetParam();
  const auto t = table_of_file((kRealTablesDir / (std::string(c.dump) + ".rsmb")).string());
  ASSERT_TRUE(t) << c.dump;
  const document doc = detail_of_table(*t);
  EXPECT_EQ(doc.setup.channels_total, c.total);
  EXPECT_EQ(doc.setup.channels_populated, c.populated);
  EXPECT_EQ(doc.setup.free_slots, c.free_slots);
  std::set<std::string> codes;
  for (const finding& f : doc.findings) codes.insert(f.code);
  EXPECT_EQ(codes, c.codes) << findings_text(doc.findings);
  ASSERT_FALSE(doc.devices.empty());
  EXPECT_EQ(channel_label(doc.devices[0].where), c.first_channel);
}

INSTANTIATE_TEST_SUITE_P(Tables, SetupRealTables, testing::ValuesIn(kRealCases),
                         [](const testing::TestParamInfo<RealCase>& info) {
                           std::string out;
                           for (const char* p = info.param.dump; *p != '\0'; ++p)
                             out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return out;
                         });

}  // namespace
