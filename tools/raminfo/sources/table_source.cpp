#include "sources/table_source.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "output/output.h"
#include "platform/os.h"
#include "sources/tool_platform.h"

namespace {

// Reads udev's entry and rebuilds its devices; false, with why in error when
// the entry cannot be read, when it cannot or holds no memory device.
bool read_udev_devices(const std::string& entry_path, udev_rebuild* rebuilt, bool* read,
                       std::string* error) {
  std::string text;
  // A FIFO there would block the tool for ever: only a regular file is read.
  *read = read_bounded_file(entry_path, kUdevEntryLimit, &text, error, file_kind::regular_only);
  return *read && udev_entry_to_block(text, rebuilt);
}

}  // namespace

bool udev_has_memory_devices(const std::string& entry_path) {
  udev_rebuild rebuilt;
  bool read = false;
  std::string error;
  return read_udev_devices(entry_path, &rebuilt, &read, &error);
}

int select_table_source(table_source source, bool* incomplete, const std::string& entry_path) {
  if (incomplete != nullptr) *incomplete = false;
  if (source == table_source::firmware) return 0;
#if defined(_WIN32)
  // Windows gives every user the firmware table.
  if (source == table_source::automatic) return 0;
#else
  if (source == table_source::automatic && os_raw_smbios(nullptr, 0) != 0) return 0;
#endif
  std::string error;
  udev_rebuild rebuilt;
  bool read = false;
  if (!read_udev_devices(entry_path, &rebuilt, &read, &error)) {
    // Without udev's devices the firmware table stays the source, and its
    // failure is reported as usual.
    if (source == table_source::automatic) return 0;
    if (read) error = entry_path + " holds no memory device properties (MEMORY_DEVICE_*)";
    say("cannot read the memory devices from udev's database: " + error);
    return 1;
  }

  uint64_t bytes = 0;
  const int64_t total_mb = os_total_memory(&bytes) ? static_cast<int64_t>(bytes >> 20) : -1;
  use_saved_table(std::move(rebuilt.block), total_mb);
  if (incomplete != nullptr) *incomplete = rebuilt.incomplete;

  std::string caveats;
  for (const std::string& note : rebuilt.notes) caveats += (caveats.empty() ? "" : ", ") + note;
  say(std::string(source == table_source::automatic
                      ? "the firmware table cannot be read, so these devices come from"
                      : "these devices come from") +
      " udev's database (" + entry_path + "); " +
      (caveats.empty() ? "no field approximate or missing" : "approximate or missing: " + caveats));
  return 0;
}
