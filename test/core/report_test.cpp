// The JSON report, parsed with a real JSON parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "core/json.h"
#include "fake_platform.h"
#include "raminfo.h"
#include "table_builder.h"

namespace {

using nlohmann::json;

json report() {
  const char* text = raminfo_get_json();
  // strlen would run past the buffer before it could fail; the NUL must lie
  // within it.
  const void* nul = std::memchr(text, '\0', JSON_CAP);
  EXPECT_NE(nul, nullptr) << "no NUL within the report buffer";
  if (nul == nullptr) return json();
  return json::parse(text);
}

TEST(Report, EmptySlotThenPopulatedDevice) {
  fresh_library(raw_block(table({Dimm{.length = 0x28, .size = 0, .locator = 1}.with({"DIMM_A0"}),
                                 ddr4_dimm().with(ddr4_strings()), end_of_table()})));
  const std::string text = raminfo_get_json();
  EXPECT_EQ(text,
            "{\"total_mb\":16384,\"slots\":[{\"slot\":\"DIMM_A0\",\"size_mb\":0},"
            "{\"slot\":\"DIMM_A1\",\"size_mb\":16384,\"type\":\"DDR4\",\"speed_mts\":3200,"
            "\"configured_speed_mts\":2933,\"manufacturer\":\"Samsung\",\"part_number\":"
            "\"M393A2K43BB1-CTD\",\"serial\":\"0123ABCD\",\"voltage_mv\":1200,\"form_factor\":"
            "\"DIMM\"}]}");
  EXPECT_EQ(raminfo_slot_count(), 1) << "the count leaves the empty slot out";
}

TEST(Report, PopulatedObjectHasEveryKeyEvenForTheShortestDevice) {
  fresh_library(
      raw_block(table({Dimm{.length = 0x15, .size = 384, .locator = 1}.with({"DIMM 0"})})));
  const json r = report();
  ASSERT_EQ(r["slots"].size(), 1u);
  EXPECT_EQ(r["slots"][0], json::parse(R"({"slot":"DIMM 0","size_mb":384,"type":"DDR4",
      "speed_mts":0,"configured_speed_mts":0,"manufacturer":"","part_number":"","serial":"",
      "voltage_mv":0,"form_factor":"DIMM"})"));
}

struct ShortFormCase {
  const char* name;
  uint16_t size;
};

const ShortFormCase kShortForms[] = {
    {"empty", 0}, {"unknown", 0xFFFF}, {"under_1_mib", 0x8000 | 512}};

class ShortForm : public testing::TestWithParam<ShortFormCase> {};

TEST_P(ShortForm, HoldsOnlySlotAndZeroSize) {
  fresh_library(raw_block(table({Dimm{.size = GetParam().size, .locator = 1}.with({"B1"})})));
  EXPECT_EQ(report()["slots"], json::parse(R"([{"slot":"B1","size_mb":0}])"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortForm, testing::ValuesIn(kShortForms),
                         [](const auto& info) { return std::string(info.param.name); });

// The report's numbers are written without stdio: each must read as %d
// prints it, at every digit count and at the ends of the range.
TEST(Report, NumbersReadAsPrintfWritesThem) {
  for (const uint32_t mb :
       {0u, 1u, 9u, 10u, 99u, 100u, 999u, 1000u, 65535u, 100000u, 2147483647u}) {
    Dimm d = ddr4_dimm();
    d.length = 0x28;
    d.size = 0x7FFF;  // the size in the Extended Size field
    d.extended_size = mb;
    fresh_library(raw_block(table({d.with(ddr4_strings())})));
    fake().total_bytes = uint64_t{mb} << 20;
    char want[64];
    std::snprintf(want, sizeof want, "{\"total_mb\":%d,\"slots\":[", static_cast<int>(mb));
    const std::string text = raminfo_get_json();
    EXPECT_EQ(text.rfind(want, 0), 0u) << text;
    std::snprintf(want, sizeof want, "\"size_mb\":%d", static_cast<int>(mb));
    EXPECT_NE(text.find(want), std::string::npos) << text;
  }
}

TEST(Report, NoDevicesGivesHeaderAndClosing) {
  fresh_library(raw_block(table({structure({16, 4, 0, 0}), end_of_table()})));
  EXPECT_STREQ(raminfo_get_json(), "{\"total_mb\":16384,\"slots\":[]}");
  EXPECT_STREQ(raminfo_last_error(), "");
}

TEST(Report, TableShorterThan4BytesGivesEmptyListAndNoError) {
  fresh_library(raw_block({17, 0x15, 0}));
  EXPECT_STREQ(raminfo_get_json(), "{\"total_mb\":16384,\"slots\":[]}");
  EXPECT_STREQ(raminfo_last_error(), "");
}

TEST(Report, QuoteInSlotNameIsEscaped) {
  fresh_library(raw_block(table({Dimm{.size = 8, .locator = 1}.with({"Bank \"7\""})})));
  EXPECT_EQ(report()["slots"][0]["slot"], "Bank \"7\"");
  EXPECT_NE(std::string(raminfo_get_json()).find(R"("slot":"Bank \"7\"")"), std::string::npos);
}

TEST(Report, LoaderFailureGivesEmptyListAndTheReason) {
  fresh_library(raw_block(table({Dimm{.size = 8}.with({})})));
  fake().block.resize(8);
  EXPECT_STREQ(raminfo_get_json(), "{\"total_mb\":16384,\"slots\":[]}");
  EXPECT_STREQ(raminfo_last_error(), "smbios too short");
}

TEST(Report, FailedMemoryQueryGivesMinusOneAndStillListsDevices) {
  fresh_library(raw_block(table({Dimm{.size = 8}.with({})})));
  fake().total_bytes.reset();
  const json r = report();
  EXPECT_EQ(r["total_mb"], -1);
  EXPECT_EQ(r["slots"].size(), 1u);
}

TEST(Report, BothQueriesFailing) {
  fresh_library({});
  fake().total_bytes.reset();
  EXPECT_STREQ(raminfo_get_json(), "{\"total_mb\":-1,\"slots\":[]}");
  EXPECT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed");
}

TEST(Report, SuccessAfterFailureClearsTheStatusText) {
  fresh_library(raw_block(table({Dimm{.size = 8}.with({})})));
  const Bytes good = fake().block;
  fake().size_answer = 0;
  raminfo_get_json();
  ASSERT_STREQ(raminfo_last_error(), "GetSystemFirmwareTable size failed");
  fake().size_answer.reset();
  EXPECT_EQ(report()["slots"].size(), 1u);
  EXPECT_STREQ(raminfo_last_error(), "");
}

TEST(Report, CountPassAndEnumerationAgreeOnACutFinalDevice) {
  // The last device's formatted area runs past the table end.
  fresh_library(raw_block(table({Dimm{.size = 8, .locator = 1}.with({"A"}),
                                 Bytes{17, 0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0}})));
  const json r = report();
  ASSERT_EQ(r["slots"].size(), 2u);
  EXPECT_EQ(r["slots"][1]["size_mb"], 4);
  EXPECT_EQ(r["slots"][1]["slot"], "");
}

// ---- The 16 KiB limit ------------------------------------------------------

// A populated device whose four text fields are each 63 bytes once escaped:
// the longest object there is.
Bytes longest_device() {
  const std::string s = std::string(61, 'x') + "\"";
  return Dimm{.length = 0x28,
              .size = 0x7FFE,
              .locator = 1,
              .type = 0x1E,
              .speed = 65535,
              .manufacturer = 2,
              .serial = 3,
              .part = 4,
              .configured_speed = 65535,
              .voltage = 65535}
      .with({s, s, s, s});
}

Bytes repeat(const Bytes& device, int n) {
  std::vector<Bytes> pieces(static_cast<size_t>(n), device);
  return table(pieces);
}

TEST(ReportLimit, ManyLongDevicesStopPastTheMarkAndStayComplete) {
  fresh_library(raw_block(repeat(longest_device(), 128)));
  const std::string text = raminfo_get_json();
  ASSERT_LT(text.size(), JSON_CAP);
  EXPECT_GE(text.size(), JSON_CAP - 256) << "objects are added until the mark is reached";
  const json r = json::parse(text);
  EXPECT_LT(r["slots"].size(), 128u);
  for (const json& slot : r["slots"]) EXPECT_EQ(slot["size_mb"], 0x7FFE);
}

// Short objects fill the report to just below the stop mark, then long
// objects follow. Near the limit a long object either still fits with the
// closing (and ends the list past the mark) or would not, and is left out.
TEST(ReportLimit, ObjectThatWouldNotLeaveRoomForTheClosingIsLeftOut) {
  const Bytes filler = Dimm{.size = 0, .locator = 1}.with({std::string(40, 'f')});
  int dropped = 0;
  int fitted = 0;
  for (int fillers = 240; fillers <= 256; ++fillers) {
    fresh_library(raw_block(table({repeat(filler, fillers), repeat(longest_device(), 3)})));
    const std::string text = raminfo_get_json();
    ASSERT_LT(text.size(), JSON_CAP) << fillers;
    json r;
    ASSERT_NO_THROW(r = json::parse(text)) << fillers;
    const auto listed = static_cast<int>(r["slots"].size());
    if (listed == fillers && text.size() < JSON_CAP - 256) ++dropped;
    if (listed == fillers + 1) ++fitted;
    for (int i = fillers; i < listed; ++i) EXPECT_EQ(r["slots"][i]["size_mb"], 0x7FFE);
  }
  EXPECT_GT(dropped, 0) << "some filler count leaves too little room for a long object";
  EXPECT_GT(fitted, 0) << "some filler count leaves just enough";
}

}  // namespace
