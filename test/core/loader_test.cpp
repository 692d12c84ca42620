// The loader: what it asks the platform, what it caches and what it reports.
#include "core/loader.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "smbios/smbios.h"
#include "table_builder.h"

namespace {

const Bytes kOneDimm = table({Dimm{.length = 0x15, .size = 512}.with({}), end_of_table()});

struct LoadFailure {
  const char* name;
  void (*arrange)(FakePlatform&);
  const char* message;
};

const LoadFailure kFailures[] = {
    {"size_query_returns_0", [](FakePlatform& f) { f.size_answer = 0; },
     "GetSystemFirmwareTable size failed"},
    {"scratch_allocation_fails", [](FakePlatform& f) { f.fail_alloc_number = 1; }, "oom"},
    {"table_allocation_fails", [](FakePlatform& f) { f.fail_alloc_number = 2; }, "oom"},
    {"read_returns_fewer_bytes",
     [](FakePlatform& f) { f.read_answer = static_cast<uint32_t>(f.block.size() - 1); },
     "GetSystemFirmwareTable read failed"},
    {"read_returns_more_bytes_than_announced",
     [](FakePlatform& f) { f.size_answer = static_cast<uint32_t>(f.block.size() - 4); },
     "GetSystemFirmwareTable read failed"},
    {"read_fails", [](FakePlatform& f) { f.read_answer = 0; },
     "GetSystemFirmwareTable read failed"},
    {"block_of_8_bytes", [](FakePlatform& f) { f.block.resize(8); }, "smbios too short"},
    {"block_of_1_byte", [](FakePlatform& f) { f.block.resize(1); }, "smbios too short"},
    // A platform with words of its own (Linux) says why the call failed; the
    // loader's texts remain for what only the loader finds.
    {"size_query_fails_in_the_platform_words",
     [](FakePlatform& f) {
       f.size_answer = 0;
       f.failure_text = "/t/DMI is readable by root only";
     },
     "/t/DMI is readable by root only"},
    {"read_fails_in_the_platform_words",
     [](FakePlatform& f) {
       f.read_answer = 0;
       f.failure_text = "/t/DMI changed while it was read";
     },
     "/t/DMI changed while it was read"},
    {"empty_platform_words_leave_the_loader_text",
     [](FakePlatform& f) {
       f.size_answer = 0;
       f.failure_text = "";
     },
     "GetSystemFirmwareTable size failed"},
    {"short_block_is_the_loader_finding_whatever_the_platform_says",
     [](FakePlatform& f) {
       f.block.resize(8);
       f.failure_text = "/t/DMI changed while it was read";
     },
     "smbios too short"},
    {"allocation_failure_is_the_loader_finding_whatever_the_platform_says",
     [](FakePlatform& f) {
       f.fail_alloc_number = 1;
       f.failure_text = "/t/DMI changed while it was read";
     },
     "oom"},
};

class LoaderFailure : public testing::TestWithParam<LoadFailure> {};

TEST_P(LoaderFailure, ReportsItsReasonCachesNothingAndFreesWhatItTook) {
  fresh_library(raw_block(kOneDimm));
  GetParam().arrange(fake());

  EXPECT_EQ(load_smbios(), 0);
  EXPECT_STREQ(g_err, GetParam().message);
  EXPECT_EQ(g_tbl, nullptr);
  EXPECT_EQ(fake().frees, fake().allocs - (fake().fail_alloc_number ? 1 : 0));
  EXPECT_EQ(fake().size_queries, 1) << "no failure is retried within a call";
}

TEST_P(LoaderFailure, IsRetriedOnTheNextCallAndKeepsItsMessageAfterSuccess) {
  fresh_library(raw_block(kOneDimm));
  const Bytes good = fake().block;
  GetParam().arrange(fake());
  ASSERT_EQ(load_smbios(), 0);

  const std::string message = g_err;
  fake() = FakePlatform{};
  fake().block = good;
  EXPECT_EQ(load_smbios(), 1);
  EXPECT_EQ(fake().size_queries, 1) << "the platform is asked anew";
  EXPECT_EQ(g_tbl_len, kOneDimm.size());
  EXPECT_EQ(g_err, message) << "success writes nothing to the status text";
}

INSTANTIATE_TEST_SUITE_P(All, LoaderFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Loader, CachesTheTableWithoutItsHeaderAndNeverAsksAgain) {
  fresh_library(raw_block(kOneDimm));
  ASSERT_EQ(load_smbios(), 1);
  ASSERT_EQ(g_tbl_len, kOneDimm.size());
  EXPECT_EQ(Bytes(g_tbl, g_tbl + g_tbl_len), kOneDimm);
  EXPECT_EQ(fake().frees, 1) << "the scratch block is released";

  fake().size_answer = 0;  // would fail if asked
  EXPECT_EQ(load_smbios(), 1);
  EXPECT_EQ(fake().size_queries, 1);
  EXPECT_EQ(fake().reads, 1);
  EXPECT_STREQ(g_err, "");
}

TEST(Loader, NineByteBlockCachesOneByteTable) {
  fresh_library({0, 3, 0, 0, 1, 0, 0, 0, 0xAB});
  ASSERT_EQ(load_smbios(), 1);
  ASSERT_EQ(g_tbl_len, 1u);
  EXPECT_EQ(g_tbl[0], 0xAB);
}

TEST(Loader, ZeroLengthTableIsCachedAsEmptyAndNotTakenForOom) {
  fresh_library(raw_block_claiming(kOneDimm, 0));
  ASSERT_EQ(load_smbios(), 1);
  EXPECT_NE(g_tbl, nullptr);
  EXPECT_EQ(g_tbl_len, 0u);
  EXPECT_STREQ(g_err, "");
  EXPECT_EQ(load_smbios(), 1);
  EXPECT_EQ(fake().size_queries, 1);
}

TEST(Loader, LengthFieldClaimingMoreThanTheBlockHoldsIsCutToTheBytesPresent) {
  fresh_library(raw_block_claiming(kOneDimm, 0xFFFFFFF0u));
  ASSERT_EQ(load_smbios(), 1);
  EXPECT_EQ(g_tbl_len, kOneDimm.size());
  EXPECT_EQ(Bytes(g_tbl, g_tbl + g_tbl_len), kOneDimm);
}

TEST(Loader, LengthFieldClaimingLessKeepsOnlyThatMuch) {
  fresh_library(raw_block_claiming(kOneDimm, 5));
  ASSERT_EQ(load_smbios(), 1);
  EXPECT_EQ(g_tbl_len, 5u);
}

TEST(Loader, FailureMessageReplacesTheWholePreviousOne) {
  fresh_library(raw_block(kOneDimm));
  fake().size_answer = 0;
  ASSERT_EQ(load_smbios(), 0);
  fake().size_answer.reset();
  fake().block.resize(8);
  ASSERT_EQ(load_smbios(), 0);
  EXPECT_STREQ(g_err, "smbios too short");
}

}  // namespace
