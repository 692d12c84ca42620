#include "platform/platform.h"

#include "platform/os.h"

uint32_t platform_raw_smbios(void* buf, uint32_t size) { return os_raw_smbios(buf, size); }

const char* platform_raw_smbios_failure() { return os_raw_smbios_failure(); }

bool platform_total_memory(uint64_t* bytes) { return os_total_memory(bytes); }
