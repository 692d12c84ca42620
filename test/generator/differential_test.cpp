// Generated well-formed tables, decoded by the library and by dmidecode: every
// device must agree field by field, up to the differences that are ours by
// design (named in dmidecode_compare.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dmidecode_compare.h"
#include "fake_platform.h"
#include "generator.h"
#include "raminfo.h"
#include "table_builder.h"

namespace {

constexpr uint64_t kTablesPerBatch = 40;

class DmidecodeAgrees : public testing::TestWithParam<uint64_t> {
 protected:
  void SetUp() override {
    if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  }
};

TEST_P(DmidecodeAgrees, OnGeneratedWellFormedTables) {
  const std::string path = testing::TempDir() + "raminfo-differential-" + std::to_string(getpid()) +
                           "-" + std::to_string(GetParam()) + ".dmi";
  raminfo_gen::GeneratorOptions options;
  options.mode = raminfo_gen::Mode::well_formed;
  for (uint64_t i = 0; i < kTablesPerBatch; ++i) {
    const uint64_t seed = GetParam() * kTablesPerBatch + i;
    const raminfo_gen::Bytes t = raminfo_gen::generate_table(seed, options);
    // Some tables with an old entry point, as firmware of SMBIOS 2.x writes.
    const uint8_t major = seed % 4 == 0 ? 2 : 3;
    const uint8_t minor = seed % 4 == 0 ? 8 : 2;
    write_dmidecode_dump(t, path, major, minor);
    fresh_library(raw_block(t, major, minor));
    const std::string report = raminfo_get_json();
    for (const std::string& d : compare_with_dmidecode(report, path)) {
      ADD_FAILURE() << "seed " << seed << ": " << d;
    }
  }
  std::remove(path.c_str());
}

// Eight batches: 320 tables, spread over parallel test processes.
INSTANTIATE_TEST_SUITE_P(Seeds, DmidecodeAgrees, testing::Range<uint64_t>(0, 8));

}  // namespace
