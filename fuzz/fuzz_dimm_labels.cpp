// Feeds any byte string to the DIMM label database parser as a label file,
// chooses its entries for the first machine it names, and joins modules at
// those positions to devices named by those labels. Built for libFuzzer, and
// linked with replay_main.cpp as an ordinary test of the committed corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "edac/edac.h"
#include "edac/edac_join.h"
#include "edac/edac_labels.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "dimm label fuzz check failed: %s\n%s\n", what, detail.c_str());
  std::abort();
}

#define CHECK(ok, ...)            \
  do {                            \
    if (!(ok)) fail(__VA_ARGS__); \
  } while (0)

void check_printable(const std::string& note) {
  for (char c : note) {
    const auto u = static_cast<unsigned char>(c);
    CHECK(u >= 0x20 && u != 0x7F, "control byte in a note", note);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  dimm_label_db db;
  parse_dimm_labels(text, "fuzz", &db);
  CHECK(db.notes.size() <= kDimmLabelMaxNotes, "notes past their bound");
  for (const std::string& n : db.notes) check_printable(n);

  machine_identity machine;
  if (!db.groups.empty()) {
    const dimm_label_group& g = db.groups.front();
    machine = {g.vendor, g.models.empty() ? "" : g.models.front(), g.vendor,
               g.products.empty() ? "" : g.products.front()};
  }
  std::vector<std::string> notes;
  const std::vector<dimm_label_entry> entries = select_dimm_labels(db, machine, &notes);
  for (const std::string& n : notes) check_printable(n);
  std::map<std::vector<unsigned>, std::string> positions;
  for (const dimm_label_entry& e : entries) {
    CHECK(!fold_name(e.label).empty(), "an entry without a label", e.origin);
    CHECK(e.label.find_first_of(";#\n") == std::string::npos, "a label across a separator",
          e.label);
    CHECK(e.position.size() >= kDimmLabelMinNumbers && e.position.size() <= kDimmLabelMaxNumbers,
          "a position of the wrong length", e.origin);
    CHECK(positions.emplace(e.position, e.label).second, "a position chosen twice", e.origin);
  }

  // One device per label, one module per position: every module either
  // joins exactly one device or is listed as unmatched.
  std::vector<join_device> devices;
  std::map<std::string, size_t> device_of;
  for (const dimm_label_entry& e : entries) {
    if (device_of.emplace(e.label, devices.size()).second) {
      devices.push_back({devices.size(), "", e.label});
    }
  }
  edac_report report;
  report.available = true;
  for (const auto& [position, label] : positions) {
    edac_module m;
    m.edac = "m" + std::to_string(report.modules.size());
    m.controller_index = position[0];
    m.location_numbers.assign(position.begin() + 1, position.end());
    m.label = "";
    m.ce = 1;
    m.ue = 0;
    report.modules.push_back(m);
  }
  const edac_join_result r = join_edac(report, devices, entries);
  CHECK(r.devices.size() == devices.size(), "one result per device");
  size_t joined = 0;
  for (const auto& d : r.devices) {
    if (!d) continue;
    CHECK(!d->edac.empty() && d->corrected == d->edac.size(), "a device's sum", d->matched_by);
    CHECK(d->matched_by == "label_file", "matched by", d->matched_by);
    joined += d->edac.size();
  }
  CHECK(joined + r.unmatched.size() == report.modules.size(), "a module lost or joined twice");
  for (const std::string& n : r.notes) check_printable(n);
  return 0;
}
