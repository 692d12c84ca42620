// The detail library as a host links it: its documents against the
// command-line host's for every real table, its answers for blocks that hold
// no table, and its buffers under several threads at once.
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"
#include "files.h"
#include "raminfo_detail.h"
#include "real_tables.h"
#include "table_builder.h"

namespace {

// Every real table in both layouts it is kept in (Windows' raw block and
// dmidecode's dump), by file name.
std::vector<std::filesystem::path> real_tables() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(kRealTablesDir))
    if (e.path().extension() == ".rsmb" || e.path().extension() == ".dmi") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

std::string from(const Bytes& block) {
  return raminfo_detail_json_from(block.data(), block.size());
}

// ---- One decoder ------------------------------------------------------------

// What the command-line host saves (dmidecode's layout on Linux, the raw
// block on Windows) and a bare table are read as raminfo --from-dump reads
// them, with the same document.
TEST(DetailLibrary, EveryRealTableInEveryLayoutGivesTheCliDocument) {
  for (const std::string& name : absent_real_tables())
    std::printf("[  NOTE    ] %s\n", absent_real_table_note(name).c_str());
  const auto tables = real_tables();
  // The repository's eight in both layouts are the least there is.
  ASSERT_GE(tables.size(), 16u) << kRealTablesDir;
  const TempDir dir;
  for (const auto& path : tables) {
    SCOPED_TRACE(path.filename().string());
    const CliResult cli = run_cli({"--detail", "--from-dump", path.string()});
    ASSERT_EQ(cli.exit_code, 0) << cli.err;
    const Bytes bytes = read_file(path).value_or(Bytes());
    EXPECT_EQ(from(bytes), cli.out);
    if (path.extension() != ".rsmb") continue;
    // The table alone, as /sys/firmware/dmi/tables/DMI holds it.
    const Bytes bare(bytes.begin() + 8, bytes.end());
    const CliResult bare_cli = run_cli({"--detail", "--from-dump", dir.write("DMI", bare)});
    ASSERT_EQ(bare_cli.out, cli.out) << bare_cli.err;
    EXPECT_EQ(from(bare), cli.out);
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

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A dmidecode dump: an SMBIOS 3 entry point whose table (of at most max
// bytes) is at address, zeros up to 32, then body.
Bytes dmidecode_dump(const Bytes& body, uint32_t max, uint32_t address = 32) {
  Bytes b = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 2, 0, 1, 0};
  for (uint32_t field : {max, address})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(field >> (8 * i)));
  b.resize(0x18, 0);  // the address's high half
  uint8_t sum = 0;
  for (uint8_t v : b) sum = static_cast<uint8_t>(sum + v);
  b[5] = static_cast<uint8_t>(-sum);
  b.resize(32, 0);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// What raminfo --detail --from-dump says of bytes that give no table: the
// reason in its document, or the line it refuses the file with.
std::string cli_reason(const TempDir& dir, const Bytes& bytes) {
  const std::string path = dir.write("block", bytes);
  const CliResult r = run_cli({"--detail", "--from-dump", path});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  if (!r.out.empty()) return nlohmann::json::parse(r.out)["reason"].get<std::string>();
  const std::string lead = "raminfo: cannot read " + path + ": ";
  EXPECT_EQ(r.err.rfind(lead, 0), 0u) << r.err;
  return r.err.substr(lead.size(), r.err.size() - lead.size() - 1);
}

TEST(DetailLibrary, NoTableGivesAnUnreadableDocumentWithTheCliReason) {
  const Bytes header_only = raw_block({});
  const Bytes seven(header_only.begin(), header_only.begin() + 7);
  const Bytes text_after_header = raw_block(text_bytes("not a table!"));
  const Bytes sound = table({structure(ddr4_dimm().formatted(), ddr4_strings()), end_of_table()});
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;
    // What --from-dump says where its words are its own: a file, not a block.
    const char* cli_reason = nullptr;
  } cases[] = {
      {"empty block", {}, "smbios too short", "not an SMBIOS table (the file is empty)"},
      {"header only", header_only, "smbios too short"},
      {"seven bytes", seven,
       "not an SMBIOS table (the first structure's length byte is 3, below 4)"},
      {"text after a raw block header", text_after_header,
       "not an SMBIOS table (the first structure's 111 bytes run past the end)"},
      {"first structure of length 0", raw_block({17, 0, 0, 0, 0, 0}),
       "not an SMBIOS table (the first structure's length byte is 0, below 4)"},
      {"first structure of length 1", raw_block({17, 1, 0, 0, 0, 0}),
       "not an SMBIOS table (the first structure's length byte is 1, below 4)"},
      {"bare table whose first structure is of length 1",
       {17, 1, 0, 0, 0, 0},
       "not an SMBIOS table (the first structure's length byte is 1, below 4)"},
      {"header length short of a structure header", raw_block_claiming(sound, 3),
       "not an SMBIOS table (3 bytes, fewer than a structure header)"},
      {"dmidecode dump of text", dmidecode_dump(text_bytes("not a table!\n\n"), 14),
       "not an SMBIOS table (the first structure's 111 bytes run past the end)"},
      {"dmidecode dump without its table", dmidecode_dump({}, 0), "smbios too short"},
      {"dmidecode table past the end", dmidecode_dump(sound, 0x100, 0xF0),
       "dmidecode dump: the table address lies past the end of the file"},
      {"dmidecode anchor alone", text_bytes("_SM3_"),
       "not a dmidecode dump: no usable entry point at offset 0"},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An empty vector may hold no storage; the block is empty, not NULL.
    const char* text = raminfo_detail_json_from(
        c.bytes.empty() ? header_only.data() : c.bytes.data(), c.bytes.size());
    ASSERT_NE(text, nullptr);
    const nlohmann::json doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["schema"], "raminfo-detail/1");
    EXPECT_FALSE(doc["readable"].get<bool>());
    EXPECT_EQ(doc["reason"], c.reason);
    EXPECT_TRUE(doc["devices"].empty());
    EXPECT_TRUE(doc["arrays"].empty());
    EXPECT_EQ(doc["totals"]["installed_bytes"], 0);
    EXPECT_EQ(cli_reason(dir, c.bytes), c.cli_reason != nullptr ? c.cli_reason : c.reason);
  }
  // A NULL block is the library's alone.
  for (size_t size : {size_t{0}, size_t{64}}) {
    const nlohmann::json doc = nlohmann::json::parse(raminfo_detail_json_from(nullptr, size));
    EXPECT_FALSE(doc["readable"].get<bool>());
    EXPECT_EQ(doc["reason"], "no SMBIOS block was given");
  }
}

// The header's length is the firmware's word, and bytes past the block are
// not the caller's: the table is what both allow, as the core loader reads it.
TEST(DetailLibrary, TheHeaderLengthIsCutToTheBlock) {
  const Bytes t = table({structure(ddr4_dimm().formatted(), ddr4_strings()), end_of_table()});
  const std::string exact = from(raw_block(t));
  ASSERT_NE(nlohmann::json::parse(exact)["devices"].size(), 0u);
  EXPECT_EQ(from(raw_block_claiming(t, 0xFFFFFFFFu)), exact);
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
  for (const auto& path : real_tables()) blocks.push_back(read_file(path).value_or(Bytes()));
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
