// The exported frame: version, status text and total memory.
#include <gtest/gtest.h>

#include <cstdint>

#include "fake_platform.h"
#include "raminfo.h"
#include "table_builder.h"

namespace {

TEST(Exports, LastErrorIsEmptyBeforeAnyCall) {
  fresh_library({});
  EXPECT_STREQ(raminfo_last_error(), "");
}

TEST(Exports, VersionIsTheSameConstantEveryCall) {
  const char* first = raminfo_version();
  EXPECT_STREQ(first, RAMINFO_EXPECTED_VERSION);
  EXPECT_EQ(raminfo_version(), first);
}

TEST(Exports, OnlyGetJsonClearsTheStatusText) {
  fresh_library({});
  ASSERT_EQ(raminfo_slot_count(), -1);
  ASSERT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed");
  const char* pointer = raminfo_last_error();

  raminfo_total_mb();
  raminfo_version();
  raminfo_last_error();
  EXPECT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed");
  EXPECT_EQ(raminfo_last_error(), pointer) << "the buffer itself, not a copy";

  fake().block = raw_block(table({Dimm{.size = 8}.with({})}));
  EXPECT_EQ(raminfo_slot_count(), 1);
  EXPECT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed")
      << "success writes nothing";

  raminfo_get_json();
  EXPECT_STREQ(pointer, "");
}

TEST(Exports, NoHeapUseOnceTheTableIsCached) {
  fresh_library(raw_block(table({Dimm{.size = 8}.with({}), Dimm{.size = 0}.with({})})));
  ASSERT_EQ(raminfo_slot_count(), 1);
  const int allocs = fake().allocs;
  for (int i = 0; i < 3; ++i) {
    raminfo_get_json();
    raminfo_slot_count();
    raminfo_total_mb();
  }
  EXPECT_EQ(fake().allocs, allocs);
}

TEST(Exports, TotalMemoryNeverLoadsTheTable) {
  fresh_library(raw_block(table({Dimm{.size = 8}.with({})})));
  raminfo_total_mb();
  EXPECT_EQ(fake().size_queries, 0);
}

struct TotalCase {
  const char* name;
  std::optional<uint64_t> bytes;
  int32_t mb;
};

const TotalCase kTotals[] = {
    {"16_gib", uint64_t{16} << 30, 16384},
    {"one_and_a_half_mib_rounds_down", (uint64_t{3} << 20) / 2, 1},
    {"under_1_mib", 1023 * 1024, 0},
    {"query_fails", std::nullopt, -1},
    {"largest_that_fits", uint64_t{INT32_MAX} << 20, INT32_MAX},
    {"beyond_32_bits_does_not_wrap", uint64_t{1} << 52, INT32_MAX},
};

class TotalMb : public testing::TestWithParam<TotalCase> {};

TEST_P(TotalMb, IsBytesShiftedTo_MiB) {
  fresh_library({});
  fake().total_bytes = GetParam().bytes;
  EXPECT_EQ(raminfo_total_mb(), GetParam().mb);
  EXPECT_STREQ(raminfo_last_error(), "") << "a failed memory query writes no text";
}

INSTANTIATE_TEST_SUITE_P(Bytes, TotalMb, testing::ValuesIn(kTotals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
