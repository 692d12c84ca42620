#include "sources/tool_platform.h"

#include <cstring>
#include <utility>

#include "platform/os.h"
#include "platform/platform.h"

namespace {

bool g_saved = false;
std::vector<uint8_t> g_block;
int64_t g_total_mb = -1;

}  // namespace

void use_saved_table(std::vector<uint8_t> block, int64_t total_mb) {
  g_saved = true;
  g_block = std::move(block);
  g_total_mb = total_mb;
}

// Serves the saved block with the same contract as the live source.
uint32_t platform_raw_smbios(void* buf, uint32_t size) {
  if (!g_saved) return os_raw_smbios(buf, size);
  const auto need = static_cast<uint32_t>(g_block.size());
  if (buf == nullptr || size < need) return need;
  std::memcpy(buf, g_block.data(), need);
  return need;
}

// A saved table fails only by its content, which the loader's texts describe.
const char* platform_raw_smbios_failure() { return g_saved ? nullptr : os_raw_smbios_failure(); }

bool platform_total_memory(uint64_t* bytes) {
  if (!g_saved) return os_total_memory(bytes);
  if (g_total_mb < 0) return false;
  *bytes = static_cast<uint64_t>(g_total_mb) << 20;
  return true;
}
