// Test double for the platform seam and the heap: serves any raw block and
// can fail each call.
#ifndef RAMINFO_TEST_FAKE_PLATFORM_H
#define RAMINFO_TEST_FAKE_PLATFORM_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct FakePlatform {
  std::vector<uint8_t> block;
  // What the size query and the read return instead of the block's size.
  std::optional<uint32_t> size_answer;
  std::optional<uint32_t> read_answer;
  // What the platform says about its failures; nullopt: nothing.
  std::optional<std::string> failure_text;
  // The total memory query; nullopt makes it fail.
  std::optional<uint64_t> total_bytes = uint64_t{16} << 30;
  // The allocation with this 1-based number fails; 0 fails none.
  int fail_alloc_number = 0;

  int size_queries = 0;
  int reads = 0;
  int allocs = 0;
  int frees = 0;
};

// The double's state, read by the seam on every call.
FakePlatform& fake();

// Serves this raw block from now on, forgets any cached table and status
// text, so the library behaves as freshly loaded.
void fresh_library(std::vector<uint8_t> block);

#endif
