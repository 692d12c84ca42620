/* A DLL that gets everything wrong that check_dll.cmake looks at: its own
 * module name, two ordinals swapped, a data export and an import of
 * USER32.dll instead of the two kernel32 calls. Each check must reject it. */
#include <windows.h>

int decoy_data = 7;

const char* raminfo_get_json(void) {
  MessageBeep(0);
  return "{}";
}
const char* raminfo_last_error(void) { return ""; }
int raminfo_slot_count(void) { return 0; }
int raminfo_total_mb(void) { return 0; }
const char* raminfo_version(void) { return RAMINFO_EXPECTED_VERSION; }
