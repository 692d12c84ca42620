#include "sources/memory_errors.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/loader.h"
#include "text/text.h"

void add_memory_errors(const memory_errors_request& req, smbios_view t,
                       raminfo_detail::document* doc) {
  std::vector<memory_errors_message> messages;
  add_memory_errors(req, t, doc, &messages);
  for (const memory_errors_message& m : messages) {
    if (m.labels_unreadable)
      std::fprintf(stderr, "raminfo: warning: --dimm-labels %s: %s\n",
                   printable_text(req.labels_path).c_str(), printable_text(m.text).c_str());
    else
      std::fprintf(stderr, "raminfo: note: %s\n", printable_text(m.text).c_str());
  }
}

void add_memory_errors(const memory_errors_request& req, inventory* inv) {
  // An unreadable table has no devices to join: every count joins none.
  // A readable one was decoded by read_inventory, whose document is joined.
  const smbios_view t = inv->readable ? smbios_cached_view() : smbios_view{nullptr, 0};
  if (!inv->readable) inv->detail = raminfo_detail::decode_detail(t);
  raminfo_detail::document& doc = inv->detail;
  add_memory_errors(req, t, &doc);
  inv->memory_errors = doc.errors;
  inv->errors.clear();
  std::vector<bool> listed(doc.devices.size(), false);
  for (size_t k : inv->detail_index) {
    inv->errors.push_back(k < doc.devices.size() ? doc.devices[k].errors : std::nullopt);
    if (k < listed.size()) listed[k] = true;
  }
  // A type 17 structure too short to be a device of these views (under 21
  // bytes) is one of the document's: counts joined to it would show in no
  // view but --detail, so they are shown as joining no listed device.
  for (size_t k = 0; k < doc.devices.size(); ++k) {
    if (listed[k] || !doc.devices[k].errors) continue;
    const raminfo_detail::module_errors& e = *doc.devices[k].errors;
    std::string names;
    for (const std::string& n : e.edac) names += (names.empty() ? "" : ",") + n;
    inv->memory_errors.unmatched.push_back(
        {names, std::nullopt, std::nullopt, e.corrected, e.uncorrected});
  }
}
