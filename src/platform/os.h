// The operating system's own answers to the platform questions, kept apart
// from the seam so that a host (the command-line tool) can put another source
// in front of them.
#ifndef RAMINFO_PLATFORM_OS_H
#define RAMINFO_PLATFORM_OS_H

#include <cstdint>

// The live raw SMBIOS block, with the contract of platform_raw_smbios.
uint32_t os_raw_smbios(void* buf, uint32_t size);

// The live source's own words for its last failure, with the contract of
// platform_raw_smbios_failure.
const char* os_raw_smbios_failure();

// The live total physical memory in bytes; false when it cannot be had.
bool os_total_memory(uint64_t* bytes);

#endif
