// Comparing the memory found now with a saved inventory: which modules went
// missing, which are new, which changed.
#ifndef RAMINFO_TOOLS_COMPARE_COMPARE_H
#define RAMINFO_TOOLS_COMPARE_COMPARE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detail/detail.h"
#include "views/views.h"

// One memory device as both a saved inventory and the present one describe
// it. Text is the firmware's; a number is -1 when the document lacks it.
struct module_state {
  std::string slot;
  uint64_t size_bytes = 0;  // 0 for an empty slot
  std::string type, manufacturer, part_number, serial, form_factor;
  int64_t speed_mts = -1, configured_speed_mts = -1, voltage_mv = -1;
  // Only a detail document has these; "" or -1 otherwise.
  std::string bank_locator;
  int64_t rank = -1;
  std::string vendor;  // the maker's one spelling (the document's vendor name)
  // False for flash, ROM and the like, which the total leaves out.
  bool system_memory = true;
};

struct memory_state {
  std::vector<module_state> modules;  // every device, populated or not
  bool detail = false;                // from a --detail document
  // Length of the document's text, trailing white space left out; 0 when
  // the state was not read from a text.
  size_t text_bytes = 0;
};

// Reads the state out of the text of a document raminfo wrote, its plain
// JSON report or its --detail document, checking the whole text as JSON.
// False with the reason for anything else, a detail document of another
// schema version included.
bool state_from_text(const std::string& text, memory_state* out, std::string* error);
// The same over size bytes at text (a file read whole), with no copy made.
bool state_from_text(const char* text, size_t size, memory_state* out, std::string* error);

// The present devices as the detail document gives them: the state
// state_from_text would read back from detail_json(doc), without writing and
// parsing it.
memory_state state_from_detail(const raminfo_detail::document& doc);

// The present devices as the library's report would list them if it had no
// length limit.
memory_state state_from_inventory(const inventory& inv);

// The library stops its report's list when the next device's object (at
// most 512 bytes) might not fit in 16 KiB, so a cut report is never shorter
// than this.
constexpr size_t kCutReportBytes = 16384 - 512;

// True when a plain baseline may be the library's report cut short by its
// 16 KiB limit: it lists fewer devices than the table has now, and its text
// is long enough for the limit to have stopped the list. Such a baseline
// cannot tell a module that went missing from one it never listed.
bool plain_baseline_may_be_cut(const memory_state& baseline, size_t present_devices);

struct comparison {
  std::vector<std::string> lines;  // one per difference, for people
  int missing = 0, changed = 0, added = 0;
};

// What changed from before to now. The order of the table, placeholder
// strings, and what udev's entry loses of the firmware's text (on either
// side) make no difference.
comparison compare_states(const memory_state& before, const memory_state& now);

#endif
