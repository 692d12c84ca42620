// The configuration's findings in the views: --check's lines, the table's
// closing lines and the Prometheus gauges.
#include "detail/setup.h"

#include <string>

#include "views/views.h"

std::string render_check(const inventory& inv, bool* warning) {
  *warning = false;
  for (const raminfo_detail::finding& f : inv.detail.findings)
    *warning = *warning || std::string(f.severity) == "warning";
  return raminfo_detail::findings_text(inv.detail.findings);
}

std::string setup_families(const inventory& inv) {
  // Channels are left out when the table does not tell them for every slot,
  // so that an unknown count is never written as 0.
  std::string channels;
  const raminfo_detail::configuration& c = inv.detail.setup;
  if (c.channels_total && c.channels_populated)
    channels = "raminfo_memory_channels{state=\"total\"} " + std::to_string(*c.channels_total) +
               "\nraminfo_memory_channels{state=\"populated\"} " +
               std::to_string(*c.channels_populated) + "\n";
  std::string findings;
  for (const char* code : {"channels_unused", "channels_unbalanced", "below_rated_speed",
                           "mixed_modules", "free_slots"}) {
    size_t n = 0;
    for (const raminfo_detail::finding& f : inv.detail.findings) n += std::string(f.code) == code;
    findings +=
        std::string("raminfo_memory_findings{code=\"") + code + "\"} " + std::to_string(n) + "\n";
  }
  return "# HELP raminfo_memory_channels Memory channels of system memory in all and with a "
         "module, when the SMBIOS table tells the channel of every slot.\n"
         "# TYPE raminfo_memory_channels gauge\n" +
         channels +
         "# HELP raminfo_memory_findings Findings about how the memory is set up, by code "
         "(raminfo --check).\n"
         "# TYPE raminfo_memory_findings gauge\n" +
         findings;
}
