#include "core/loader.h"

#include <cstring>

#include "platform/heap.h"
#include "platform/platform.h"
#include "smbios/block.h"

static_assert(kBlockReasonCap <= ERR_CAP, "the status text holds a block's reason");

uint8_t* g_tbl = nullptr;
uint32_t g_tbl_len = 0;

// The status text lives with the loader, the only code that writes it.
char g_err[ERR_CAP];

void set_error(const char* msg) {
  const size_t n = std::strlen(msg);
  const size_t keep = n < ERR_CAP - 1 ? n : ERR_CAP - 1;
  std::memcpy(g_err, msg, keep);
  g_err[keep] = '\0';
}

namespace {

// The platform's own account of a failed call where it gives one (Linux names
// the file and the reason); otherwise the GetSystemFirmwareTable texts, which
// Windows hosts know.
void set_platform_error(const char* fallback) {
  const char* own = platform_raw_smbios_failure();
  set_error(own != nullptr && own[0] != '\0' ? own : fallback);
}

}  // namespace

int load_smbios() {
  if (g_tbl != nullptr) return 1;

  const uint32_t need = platform_raw_smbios(nullptr, 0);
  if (need == 0) {
    set_platform_error("GetSystemFirmwareTable size failed");
    return 0;
  }
  auto* scratch = static_cast<uint8_t*>(heap_alloc(need));
  if (scratch == nullptr) {
    set_error("oom");
    return 0;
  }
  const uint32_t got = platform_raw_smbios(scratch, need);
  if (got != need) {
    heap_free(scratch);
    set_platform_error("GetSystemFirmwareTable read failed");
    return 0;
  }
  // A length field that claims more than the block holds is cut to the bytes
  // present, so g_tbl_len always equals what the copy holds. A header alone
  // holds no table.
  const smbios_view table = raw_block_table(scratch, got);
  if (table.base == nullptr) {
    heap_free(scratch);
    set_error(kBlockTooShort);
    return 0;
  }
  const auto len = static_cast<uint32_t>(table.len);
  g_tbl_len = len;

  // At least one byte, so that an empty table is cached rather than taken for
  // a failed allocation (malloc(0) may return NULL).
  auto* copy = static_cast<uint8_t*>(heap_alloc(len > 0 ? len : 1));
  if (copy == nullptr) {
    heap_free(scratch);
    set_error("oom");
    return 0;
  }
  std::memcpy(copy, table.base, len);
  heap_free(scratch);
  g_tbl = copy;
  return 1;
}

smbios_view smbios_cached_view() {
  if (g_tbl == nullptr) return smbios_view{nullptr, 0};
  return smbios_view{g_tbl, g_tbl_len};
}
