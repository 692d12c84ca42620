#include <windows.h>

#include "platform/os.h"

namespace {
// 'RSMB': the raw SMBIOS firmware table provider.
constexpr DWORD kRsmb = 0x52534D42;
}  // namespace

uint32_t os_raw_smbios(void* buf, uint32_t size) {
  return GetSystemFirmwareTable(kRsmb, 0, buf, size);
}

// The DLL's status texts are the GetSystemFirmwareTable ones its hosts know.
const char* os_raw_smbios_failure() { return nullptr; }

// GlobalMemoryStatusEx checks dwLength against the 64-byte record it fills.
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX is not the 64-byte record");

bool os_total_memory(uint64_t* bytes) {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  *bytes = status.ullTotalPhys;
  return true;
}
