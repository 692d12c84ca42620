#include "raminfo.h"

#include <climits>

#include "core/dimm.h"
#include "core/json.h"
#include "core/loader.h"
#include "platform/platform.h"
#include "raminfo_build_version.h"

namespace {

int32_t query_total_mb() {
  uint64_t bytes = 0;
  if (!platform_total_memory(&bytes)) return -1;
  const uint64_t mb = bytes >> 20;
  // Beyond 2 PiB a plain 32-bit conversion would wrap to a wrong, possibly
  // negative, figure; the largest representable one is the honest answer.
  return mb > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(mb);
}

}  // namespace

extern "C" {

const char* RAMINFO_CALL raminfo_get_json(void) {
  g_err[0] = '\0';
  return render_report(query_total_mb());
}

const char* RAMINFO_CALL raminfo_last_error(void) { return g_err; }

int32_t RAMINFO_CALL raminfo_slot_count(void) { return for_each_dimm(-1, nullptr); }

int32_t RAMINFO_CALL raminfo_total_mb(void) { return query_total_mb(); }

const char* RAMINFO_CALL raminfo_version(void) { return RAMINFO_VERSION_TEXT; }

}  // extern "C"
