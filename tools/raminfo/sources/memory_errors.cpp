#include "sources/memory_errors.h"

#include <cstdio>
#include <utility>
#include <vector>

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
  const smbios_view t = smbios_cached_view();
  raminfo_detail::document doc = raminfo_detail::decode_detail(t);
  add_memory_errors(req, t, &doc);
  inv->memory_errors = std::move(doc.errors);
  inv->errors.clear();
  for (size_t k : inv->detail_index)
    inv->errors.push_back(k < doc.devices.size() ? doc.devices[k].errors : std::nullopt);
}
