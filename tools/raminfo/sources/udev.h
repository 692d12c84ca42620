// The memory devices that systemd's udev decoded at boot (its dmi_memory_id
// helper), read back from udev's database, which anyone may read, and rebuilt
// into SMBIOS Memory Device structures. The rebuilt block goes through the
// same loader and decoder as the firmware's own table.
#ifndef RAMINFO_TOOLS_SOURCES_UDEV_H
#define RAMINFO_TOOLS_SOURCES_UDEV_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/input.h"

// udev's database entry of the dmi device.
constexpr const char* kUdevEntryPath = "/run/udev/data/+dmi:id";

// An entry is a few KiB; anything past this is not udev's.
constexpr size_t kUdevEntryLimit = size_t{1} << 20;

struct udev_rebuild {
  // Raw SMBIOS block (8-byte header, then the table): one Memory Device per
  // device in the entry, in udev's order, then the end-of-table structure.
  std::vector<uint8_t> block;
  size_t devices = 0;
  // What the rebuilt structures hold only approximately or not at all, one
  // short phrase each, without repeats.
  std::vector<std::string> notes;
  // udev's entry ends before its last device: devices are missing.
  bool incomplete = false;
};

// Rebuilds the devices described by the MEMORY_DEVICE_<n>_* properties of a
// database entry (lines "E:KEY=VALUE"; every other line is skipped). Values
// udev does not give reliably are left absent, never guessed. False when the
// entry holds no memory device property.
bool udev_entry_to_block(const std::string& entry, udev_rebuild* out);

#endif
