// Linux source of the raw SMBIOS block: the kernel's copy of the firmware
// tables in sysfs.
#ifndef RAMINFO_PLATFORM_LINUX_SYSFS_H
#define RAMINFO_PLATFORM_LINUX_SYSFS_H

#include <cstdint>

// The raw SMBIOS block built from dir/DMI (the structure table) and
// dir/smbios_entry_point (the version bytes; zeros when unreadable), with the
// contract of platform_raw_smbios.
uint32_t sysfs_raw_smbios(const char* dir, void* buf, uint32_t size);

// Why the last sysfs_raw_smbios call gave no block, or one of another size
// than the buffer offered: the file and the reason (no table, readable by
// root only, empty, too short, changed while read). Empty text otherwise.
const char* sysfs_failure();

#endif
