// The two questions the library asks the operating system. Production builds
// link the real answers from src/platform/<os>/; tests link a double instead.
#ifndef RAMINFO_PLATFORM_PLATFORM_H
#define RAMINFO_PLATFORM_PLATFORM_H

#include <cstdint>

// Behaves as GetSystemFirmwareTable('RSMB', 0, buf, size): with buf NULL and
// size 0 it returns the size of the raw SMBIOS block (8-byte header, then the
// structure table); with a buffer it returns the number of bytes written, or
// the size needed when the buffer is too small; 0 means failure.
uint32_t platform_raw_smbios(void* buf, uint32_t size);

// Why the last platform_raw_smbios call failed, in the platform's own words,
// or NULL or empty text when it has none and the loader's texts (those of
// GetSystemFirmwareTable) say it.
const char* platform_raw_smbios_failure();

// Stores the total physical memory in bytes and returns true, or returns false.
bool platform_total_memory(uint64_t* bytes);

#endif
