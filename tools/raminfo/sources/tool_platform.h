// The command-line tool's platform: a saved table when one is given, the
// live operating system otherwise.
#ifndef RAMINFO_TOOLS_SOURCES_TOOL_PLATFORM_H
#define RAMINFO_TOOLS_SOURCES_TOOL_PLATFORM_H

#include <cstdint>
#include <vector>

// From now on the library reads this raw block instead of the live table,
// and the total memory is total_mb MiB, or unknown when total_mb is negative.
void use_saved_table(std::vector<uint8_t> block, int64_t total_mb);

#endif
