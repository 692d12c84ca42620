#include "edac/memory_errors.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "edac/edac.h"
#include "edac/edac_join.h"
#include "files/input.h"

namespace {

// A name in /sys/class/dmi/id is one short line.
constexpr size_t kDmiIdLimit = 4096;

void note(std::vector<memory_errors_message>* messages, const std::string& text) {
  messages->push_back({false, text});
}

// The notes kept of one kind, then how many more there were.
void notes(std::vector<memory_errors_message>* messages, const std::vector<std::string>& kept,
           size_t dropped, const char* about) {
  for (const std::string& n : kept) note(messages, n);
  if (dropped > 0)
    note(messages, "... and " + std::to_string(dropped) + " more notes about " + about);
}

std::string table_string(smbios_view t, const smbios_struct& st, size_t offset) {
  if (st.length <= offset) return "";
  const auto n = static_cast<uint8_t>(smbios_read(t, st.pos + offset, 1));
  const smbios_text s = smbios_string(t, st.strings, n);
  return s.len == 0 ? "" : std::string(reinterpret_cast<const char*>(s.data), s.len);
}

// One line of the kernel's copy of a DMI string; empty when absent.
std::string dmi_id(const std::string& sysfs_root, const char* name) {
  std::string text, error;
  if (!read_bounded_file(sysfs_root + "/class/dmi/id/" + name, kDmiIdLimit, &text, &error,
                         file_kind::regular_only))
    return "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string text_of(const raminfo_detail::opt<raminfo_detail::text_field>& f) {
  return f && f->raw ? *f->raw : "";
}

// Reads the counts and joins them to the devices; no joined devices (with
// the reason in out) when there are none to show.
edac_join_result read_and_join(const memory_errors_request& req, smbios_view t,
                               const raminfo_detail::document& doc,
                               raminfo_detail::memory_errors* out,
                               std::vector<memory_errors_message>* messages) {
  edac_join_result joined;
  *out = raminfo_detail::memory_errors{};
  if (!req.read) {
    out->reason = req.reason;
    return joined;
  }
  const edac_report report = read_edac(req.sysfs_root);
  notes(messages, report.notes, report.notes_dropped, "the EDAC tree");
  if (!report.available) {
    out->reason = report.reason;
    return joined;
  }

  dimm_label_db db;
  if (req.labels_given) {
    std::string error;
    if (!load_dimm_labels_file(req.labels_path, &db, &error)) messages->push_back({true, error});
  } else {
    load_default_dimm_labels(req.labels_root, &db);
  }
  notes(messages, db.notes, db.notes_dropped, "the DIMM label files");
  std::vector<std::string> label_notes;
  const std::vector<dimm_label_entry> labels =
      db.groups.empty() ? std::vector<dimm_label_entry>{}
                        : select_dimm_labels(db, machine_names(t, req), &label_notes);
  // The positions given two labels: as many as the files hold.
  const size_t kept = std::min(label_notes.size(), kDimmLabelMaxNotes);
  notes(messages, {label_notes.begin(), label_notes.begin() + static_cast<std::ptrdiff_t>(kept)},
        label_notes.size() - kept, "the label database's positions");

  std::vector<join_device> devices;
  for (size_t i = 0; i < doc.devices.size(); ++i)
    devices.push_back({i, text_of(doc.devices[i].bank_locator), text_of(doc.devices[i].locator)});
  joined = join_edac(report, devices, labels);
  notes(messages, joined.notes, joined.notes_dropped, "joining the EDAC modules");

  out->available = true;
  out->reason.clear();
  for (const unmatched_module& u : joined.unmatched)
    out->unmatched.push_back({u.edac, u.label, u.location, u.corrected, u.uncorrected});
  for (const unplaced_errors& u : joined.unplaced)
    out->unplaced.push_back({u.controller, u.corrected, u.uncorrected});
  return joined;
}

raminfo_detail::module_errors errors_of(const device_errors& d) {
  return {d.corrected, d.uncorrected, d.edac, d.matched_by};
}

}  // namespace

machine_identity machine_names(smbios_view t, const memory_errors_request& req) {
  machine_identity m;
  bool system = false, board = false;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  while (smbios_next(t, &w, &st)) {
    // The first of each: a second baseboard is an add-in card's.
    if (st.type == 1 && !system) {
      system = true;
      m.system_vendor = table_string(t, st, 4);
      m.system_product = table_string(t, st, 5);
    } else if (st.type == 2 && !board) {
      board = true;
      m.board_vendor = table_string(t, st, 4);
      m.board_product = table_string(t, st, 5);
    }
  }
  if (!system && !board && req.identity_from_sysfs) {
    m.system_vendor = dmi_id(req.sysfs_root, "sys_vendor");
    m.system_product = dmi_id(req.sysfs_root, "product_name");
    m.board_vendor = dmi_id(req.sysfs_root, "board_vendor");
    m.board_product = dmi_id(req.sysfs_root, "board_name");
  }
  return m;
}

void add_memory_errors(const memory_errors_request& req, smbios_view t,
                       raminfo_detail::document* doc,
                       std::vector<memory_errors_message>* messages) {
  const edac_join_result joined = read_and_join(req, t, *doc, &doc->errors, messages);
  for (size_t i = 0; i < doc->devices.size() && i < joined.devices.size(); ++i)
    if (joined.devices[i]) doc->devices[i].errors = errors_of(*joined.devices[i]);
}
