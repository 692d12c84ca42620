// Where the command-line tool takes its table from: the firmware's, or the
// devices udev decoded from it when the firmware's cannot be read.
#ifndef RAMINFO_TOOLS_SOURCES_TABLE_SOURCE_H
#define RAMINFO_TOOLS_SOURCES_TABLE_SOURCE_H

#include <string>

#include "sources/choice.h"
#include "sources/udev.h"

// Puts the devices rebuilt from udev's database entry in front of the
// library when the source asks for them: always for udev; for automatic only
// when this machine's firmware table cannot be read and the entry describes
// memory devices. Says so, and what is approximate, in one line on stderr.
// Returns 0, or 1 after telling why the entry cannot be used when udev was
// asked for. incomplete (when given) tells whether udev's entry lacks devices.
int select_table_source(table_source source, bool* incomplete = nullptr,
                        const std::string& entry_path = kUdevEntryPath);

// Whether udev's database entry can be read and describes memory devices:
// then --source udev answers where the firmware table cannot be read.
bool udev_has_memory_devices(const std::string& entry_path = kUdevEntryPath);

#endif
