// The detail library as a host links it: its documents against the
// command-line host's for every real table, its answers for blocks that hold
// no table, and its buffers under several threads at once.
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"
#include "raminfo_detail.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

Bytes read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every real table in the RSMB layout, by file name.
std::vector<std::filesystem::path> rsmb_tables() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(kRealTablesDir))
    if (e.path().extension() == ".rsmb") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

std::string from(const Bytes& block) {
  return raminfo_detail_json_from(block.data(), block.size());
}

// ---- One decoder ------------------------------------------------------------

TEST(DetailLibrary, EveryRealTableGivesTheCliDocument) {
  for (const std::string& name : absent_real_tables())
    std::printf("[  NOTE    ] %s\n", absent_real_table_note(name).c_str());
  const auto tables = rsmb_tables();
  // The repository's eight are the least there is.
  ASSERT_GE(tables.size(), 8u) << kRealTablesDir;
  for (const auto& path : tables) {
    SCOPED_TRACE(path.filename().string());
    const CliResult cli = run_cli({"--detail", "--from-dump", path.string()});
    ASSERT_EQ(cli.exit_code, 0) << cli.err;
    EXPECT_EQ(from(read_bytes(path)), cli.out);
  }
}

// A table past every limit of the core library (its 16 KiB report) still
// gives every device, as the command-line host does.
TEST(DetailLibrary, ALargeTableGivesEveryDevice) {
  std::vector<Bytes> pieces;
  constexpr size_t kDevices = 3000;
  for (size_t i = 0; i < kDevices; ++i) {
    Dimm d = ddr4_dimm();
    d.locator = 1;
    pieces.push_back(structure(d.formatted(), {"DIMM_" + std::to_string(i)}));
  }
  pieces.push_back(end_of_table());
  const Bytes block = raw_block(table(pieces));
  ASSERT_GT(block.size(), size_t{1} << 17);
  const nlohmann::json doc = nlohmann::json::parse(from(block));
  EXPECT_TRUE(doc["readable"].get<bool>());
  ASSERT_EQ(doc["devices"].size(), kDevices);
  EXPECT_EQ(doc["devices"][kDevices - 1]["locator"]["raw"], "DIMM_" + std::to_string(kDevices - 1));

  TempDir dir;
  const CliResult cli = run_cli({"--detail", "--from-dump", dir.write("large.rsmb", block)});
  EXPECT_EQ(from(block), cli.out) << cli.err;
}

// ---- Blocks without a table -------------------------------------------------

TEST(DetailLibrary, NoTableGivesAnUnreadableDocumentWithItsReason) {
  const Bytes header_only = raw_block({});
  const Bytes seven(header_only.begin(), header_only.begin() + 7);
  struct Case {
    const char* name;
    const void* block;
    size_t size;
    const char* reason;
  } cases[] = {
      {"null block", nullptr, 0, "no SMBIOS block was given"},
      {"null block with a size", nullptr, 64, "no SMBIOS block was given"},
      {"empty block", header_only.data(), 0, "smbios too short"},
      {"seven bytes", seven.data(), seven.size(), "smbios too short"},
      {"header only", header_only.data(), header_only.size(), "smbios too short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* text = raminfo_detail_json_from(c.block, c.size);
    ASSERT_NE(text, nullptr);
    const nlohmann::json doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["schema"], "raminfo-detail/1");
    EXPECT_FALSE(doc["readable"].get<bool>());
    EXPECT_EQ(doc["reason"], c.reason);
    EXPECT_TRUE(doc["devices"].empty());
    EXPECT_TRUE(doc["arrays"].empty());
    EXPECT_EQ(doc["totals"]["installed_bytes"], 0);
  }
}

// The header's length is the firmware's word, and bytes past the block are
// not the caller's: the table is what both allow, as the core loader reads it.
TEST(DetailLibrary, TheHeaderLengthIsCutToTheBlock) {
  const Bytes t = table({structure(ddr4_dimm().formatted(), ddr4_strings()), end_of_table()});
  const std::string exact = from(raw_block(t));
  ASSERT_NE(nlohmann::json::parse(exact)["devices"].size(), 0u);
  EXPECT_EQ(from(raw_block_claiming(t, 0xFFFFFFFFu)), exact);
  // A length short of one structure header leaves nothing to walk.
  const nlohmann::json cut = nlohmann::json::parse(from(raw_block_claiming(t, 3)));
  EXPECT_TRUE(cut["readable"].get<bool>());
  EXPECT_TRUE(cut["devices"].empty());
}

// Bytes that are no table give a document all the same, never a crash; the
// schema test (detail_lib_schema_valid) checks their shape.
TEST(DetailLibrary, GarbageGivesADocument) {
  Bytes garbage(4096);
  uint32_t x = 0x12345678;
  for (uint8_t& b : garbage) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  for (size_t size : {size_t{9}, size_t{100}, garbage.size()}) {
    SCOPED_TRACE(size);
    const nlohmann::json doc =
        nlohmann::json::parse(raminfo_detail_json_from(garbage.data(), size));
    EXPECT_EQ(doc["schema"], "raminfo-detail/1");
  }
}

TEST(DetailLibrary, VersionIsTheProjectsAndStable) {
  const char* v = raminfo_detail_version();
  EXPECT_STREQ(v, RAMINFO_EXPECTED_VERSION);
  EXPECT_EQ(raminfo_detail_version(), v);
}

// This machine: readable or not, a document; when not, with a reason.
TEST(DetailLibrary, ThisMachineGivesADocument) {
  const nlohmann::json doc = nlohmann::json::parse(raminfo_detail_json());
  EXPECT_EQ(doc["schema"], "raminfo-detail/1");
  if (!doc["readable"].get<bool>()) {
    EXPECT_FALSE(doc["reason"].get<std::string>().empty());
  }
}

// ---- Buffers and threads ------------------------------------------------------

// Each thread's text stays as it was while the others call, and every thread
// gets what one thread alone gets, for tables and this machine alike.
TEST(DetailLibrary, ThreadsKeepTheirOwnTextAndAgree) {
  std::vector<Bytes> blocks;
  for (const auto& path : rsmb_tables()) blocks.push_back(read_bytes(path));
  blocks.push_back(Bytes(3));
  ASSERT_GE(blocks.size(), 2u);
  std::vector<std::string> expected;
  for (const Bytes& b : blocks) expected.push_back(from(b));
  const std::string live = raminfo_detail_json();

  constexpr int kThreads = 6;
  constexpr int kRounds = 4;
  std::barrier sync(kThreads);
  std::vector<std::vector<std::string>> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto& mine = problems[static_cast<size_t>(t)];
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < blocks.size(); ++i) {
          // Each thread starts at another table, so that different texts are
          // made at the same moment.
          const size_t k = (i + static_cast<size_t>(t)) % blocks.size();
          const char* text = raminfo_detail_json_from(blocks[k].data(), blocks[k].size());
          sync.arrive_and_wait();  // every thread has made its text
          if (expected[k] != text) mine.push_back("table " + std::to_string(k) + " differs");
        }
        if (live != raminfo_detail_json()) mine.push_back("this machine's document differs");
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (const std::string& p : problems[static_cast<size_t>(t)])
      ADD_FAILURE() << "thread " << t << ": " << p;
}

}  // namespace
