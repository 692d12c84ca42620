// Enumeration of memory devices by index, and the populated count.
#include <gtest/gtest.h>

#include <cstring>

#include "core/dimm.h"
#include "fake_platform.h"
#include "raminfo.h"
#include "smbios/smbios.h"
#include "table_builder.h"

namespace {

const Bytes kEmptyThen512 =
    table({Dimm{.length = 0x15, .size = 0, .locator = 1}.with({"A"}),
           Dimm{.length = 0x15, .size = 512, .locator = 1}.with({"B"}), end_of_table()});

struct IndexCase {
  int index;
  bool with_out;
  int result;
};

const IndexCase kIndexCases[] = {
    {-1, false, 1},
    {-1, true, 1},
    {0, true, 1},
    {1, true, 1},
    {2, true, -2},
    {99, true, -2},
    {0, false, 0},
    {1, false, 0},
    {2, false, -2},
    {-2, true, 0},
    {-2147483647 - 1, true, 0},
};

class ForEachDimm : public testing::TestWithParam<IndexCase> {};

TEST_P(ForEachDimm, AnswersByIndex) {
  fresh_library(raw_block(kEmptyThen512));
  dimm_info d;
  std::memset(&d, 0x5A, sizeof d);
  const IndexCase& c = GetParam();
  EXPECT_EQ(for_each_dimm(c.index, c.with_out ? &d : nullptr), c.result);
  const bool fetched = c.index >= 0 && c.with_out && c.result == 1;
  if (!fetched) {
    EXPECT_EQ(d.size_mb, 0x5A5A5A5A) << "out is left untouched";
  }
}

INSTANTIATE_TEST_SUITE_P(Indices, ForEachDimm, testing::ValuesIn(kIndexCases));

TEST(ForEachDimm, FetchesDevicesInTableOrder) {
  fresh_library(raw_block(kEmptyThen512));
  dimm_info d;
  ASSERT_EQ(for_each_dimm(0, &d), 1);
  EXPECT_EQ(d.size_mb, 0);
  EXPECT_STREQ(d.slot, "A");
  ASSERT_EQ(for_each_dimm(1, &d), 1);
  EXPECT_EQ(d.size_mb, 512);
  EXPECT_STREQ(d.slot, "B");
}

TEST(ForEachDimm, ShortType17IsNoDeviceAndGetsNoIndex) {
  fresh_library(raw_block(table({Dimm{.length = 0x15, .size = 1, .locator = 1}.with({"first"}),
                                 Dimm{.length = 20, .size = 2}.with({}),
                                 Dimm{.length = 0x15, .size = 3, .locator = 1}.with({"second"})})));
  dimm_info d;
  ASSERT_EQ(for_each_dimm(1, &d), 1);
  EXPECT_STREQ(d.slot, "second");
  EXPECT_EQ(for_each_dimm(2, &d), -2);
  EXPECT_EQ(raminfo_slot_count(), 2);
}

struct CountCase {
  const char* name;
  Bytes table;
  int32_t count;
};

const CountCase kCounts[] = {
    {"empty_and_512", kEmptyThen512, 1},
    {"unknown_size_is_not_counted",
     table({Dimm{.size = 0xFFFF}.with({}), Dimm{.size = 8}.with({})}), 1},
    {"under_1_mib_is_not_counted", table({Dimm{.size = 0x8000 | 512}.with({})}), 0},
    {"extended_size_0_is_not_counted", table({Dimm{.size = 0x7FFF, .extended_size = 0}.with({})}),
     0},
    {"end_of_table_first_hides_every_device",
     table({end_of_table(), Dimm{.size = 8}.with({}), Dimm{.size = 8}.with({})}), 0},
    {"other_types_are_not_counted", table({structure({16, 4, 0, 0}), Dimm{.size = 8}.with({})}), 1},
    {"table_of_3_bytes", {17, 0x15, 0}, 0},
    {"cut_final_device_with_its_size_is_counted",
     table({Dimm{.size = 8}.with({}), Bytes{17, 0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0}}), 2},
};

class SlotCount : public testing::TestWithParam<CountCase> {};

TEST_P(SlotCount, CountsPopulatedDevices) {
  fresh_library(raw_block(GetParam().table));
  EXPECT_EQ(raminfo_slot_count(), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Tables, SlotCount, testing::ValuesIn(kCounts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SlotCount, TableShorterThan4BytesFetchesNothing) {
  fresh_library(raw_block({17, 0x15, 0}));
  dimm_info d;
  EXPECT_EQ(for_each_dimm(0, &d), -2);
  EXPECT_EQ(for_each_dimm(-1, nullptr), 0);
}

TEST(SlotCount, UnloadableTableGivesMinusOneAndTheReason) {
  fresh_library(raw_block(kEmptyThen512));
  fake().size_answer = 0;
  EXPECT_EQ(raminfo_slot_count(), -1);
  EXPECT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed");
  dimm_info d;
  EXPECT_EQ(for_each_dimm(0, &d), -1);
}

}  // namespace
