#include "fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/loader.h"
#include "platform/heap.h"
#include "platform/platform.h"
#include "smbios/smbios.h"

FakePlatform& fake() {
  static FakePlatform state;
  return state;
}

namespace {

// Drops the cached table, as the library itself never does, so that the next
// load asks the platform again.
void forget_table() {
  heap_free(g_tbl);
  g_tbl = nullptr;
  g_tbl_len = 0;
}

}  // namespace

void fresh_library(std::vector<uint8_t> block) {
  forget_table();
  g_err[0] = '\0';
  fake() = FakePlatform{};
  fake().block = std::move(block);
}

uint32_t platform_raw_smbios(void* buf, uint32_t size) {
  FakePlatform& f = fake();
  const auto have = static_cast<uint32_t>(f.block.size());
  if (buf == nullptr) {
    ++f.size_queries;
    return f.size_answer.value_or(have);
  }
  ++f.reads;
  std::memcpy(buf, f.block.data(), size < have ? size : have);
  return f.read_answer.value_or(have);
}

const char* platform_raw_smbios_failure() {
  return fake().failure_text ? fake().failure_text->c_str() : nullptr;
}

bool platform_total_memory(uint64_t* bytes) {
  if (!fake().total_bytes) return false;
  *bytes = *fake().total_bytes;
  return true;
}

void* heap_alloc(size_t size) {
  FakePlatform& f = fake();
  if (++f.allocs == f.fail_alloc_number) return nullptr;
  return std::malloc(size);
}

void heap_free(void* p) {
  if (p != nullptr) ++fake().frees;
  std::free(p);
}
