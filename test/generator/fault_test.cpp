// Faults injected through the platform seam and the heap, as a host sees them
// through the exports: the report stays well-formed, the status text names
// the fault, and once the fault is gone the next call succeeds.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "fake_platform.h"
#include "raminfo.h"
#include "table_builder.h"

namespace {

using json = nlohmann::json;

// Two devices, one populated, so a recovered report is told from an empty one.
const Bytes kTable = table({Dimm{.size = 0, .locator = 1}.with({"DIMM_A0"}),
                            Dimm{.size = 4096, .locator = 1}.with({"DIMM_A1"}), end_of_table()});

struct Fault {
  const char* name;
  // Called before each call that should meet the fault.
  void (*inject)(FakePlatform&);
  void (*clear)(FakePlatform&);
  // The status text after raminfo_get_json; "" for faults outside the loader.
  const char* status;
  // Whether the table is still read while the fault lasts.
  bool table_read;
  // Allocations that fail per load (the double counts them as allocations).
  int failed_allocs = 0;
};

const Fault kFaults[] = {
    {"size_query_returns_0", [](FakePlatform& f) { f.size_answer = 0; },
     [](FakePlatform& f) { f.size_answer.reset(); }, "GetSystemFirmwareTable size failed", false},
    {"read_returns_fewer_bytes",
     [](FakePlatform& f) { f.read_answer = static_cast<uint32_t>(f.block.size() - 3); },
     [](FakePlatform& f) { f.read_answer.reset(); }, "GetSystemFirmwareTable read failed", false},
    {"read_returns_more_bytes_than_announced",
     [](FakePlatform& f) { f.size_answer = static_cast<uint32_t>(f.block.size() - 8); },
     [](FakePlatform& f) { f.size_answer.reset(); }, "GetSystemFirmwareTable read failed", false},
    // The double numbers allocations over its whole life: the load's first
    // allocation is the scratch block, its second the table copy.
    {"scratch_allocation_fails", [](FakePlatform& f) { f.fail_alloc_number = f.allocs + 1; },
     [](FakePlatform& f) { f.fail_alloc_number = 0; }, "oom", false, 1},
    {"table_copy_allocation_fails", [](FakePlatform& f) { f.fail_alloc_number = f.allocs + 2; },
     [](FakePlatform& f) { f.fail_alloc_number = 0; }, "oom", false, 1},
    {"memory_status_query_fails", [](FakePlatform& f) { f.total_bytes.reset(); },
     [](FakePlatform& f) { f.total_bytes = uint64_t{16} << 30; }, "", true},
};

json parse_report() {
  const char* text = raminfo_get_json();
  // The NUL must lie within the 16 KiB buffer; strlen could not tell.
  const void* nul = std::memchr(text, '\0', 16384);
  EXPECT_NE(nul, nullptr) << "no NUL within the report buffer";
  if (nul == nullptr) return json();
  return json::parse(text);  // throws, and fails the test, when malformed
}

class InjectedFault : public testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, LeavesAWellFormedReportAndTheRightStatusThenRecovers) {
  const Fault& fault = GetParam();
  fresh_library(raw_block(kTable));
  fault.inject(fake());

  json r;
  ASSERT_NO_THROW(r = parse_report());
  EXPECT_STREQ(raminfo_last_error(), fault.status);
  if (fault.table_read) {
    EXPECT_EQ(r["total_mb"], -1);
    EXPECT_EQ(r["slots"].size(), 2u);
    EXPECT_EQ(raminfo_slot_count(), 1);
    EXPECT_EQ(raminfo_total_mb(), -1);
  } else {
    EXPECT_EQ(r, json::parse(R"({"total_mb":16384,"slots":[]})"));
    fault.inject(fake());
    EXPECT_EQ(raminfo_slot_count(), -1) << "the failed load is tried again, and fails again";
    EXPECT_STREQ(raminfo_last_error(), fault.status);
    EXPECT_EQ(fake().size_queries, 2);
  }
  // Two loads met the fault: raminfo_get_json's and raminfo_slot_count's.
  const int failed = fault.table_read ? 0 : 2 * fault.failed_allocs;
  EXPECT_EQ(fake().allocs - failed - fake().frees, fault.table_read ? 1 : 0)
      << "a failed load keeps no heap block";

  fault.clear(fake());
  ASSERT_NO_THROW(r = parse_report());
  EXPECT_STREQ(raminfo_last_error(), "");
  EXPECT_EQ(r["total_mb"], 16384);
  ASSERT_EQ(r["slots"].size(), 2u);
  EXPECT_EQ(r["slots"][0], json::parse(R"({"slot":"DIMM_A0","size_mb":0})"));
  EXPECT_EQ(r["slots"][1]["slot"], "DIMM_A1");
  EXPECT_EQ(r["slots"][1]["size_mb"], 4096);
  EXPECT_EQ(raminfo_slot_count(), 1);
  EXPECT_EQ(fake().allocs - failed - fake().frees, 1) << "only the table copy stays";
}

INSTANTIATE_TEST_SUITE_P(Seam, InjectedFault, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
