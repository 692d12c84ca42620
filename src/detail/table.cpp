// The detail document for people: a summary line over the arrays, then one
// aligned row per memory device.
#include <algorithm>
#include <cstdio>

#include "detail/detail.h"
#include "detail/setup.h"
#include "text/text.h"

namespace raminfo_detail {

namespace {

std::string bytes_text(uint64_t bytes) { return size_text(bytes, kTiB, "B"); }

// Firmware text as it prints on a terminal (printable_text), trailing spaces
// dropped; "-" for a filler.
std::string shown(const opt<text_field>& f) {
  if (!f || !f->raw || f->placeholder) return "-";
  std::string out = printable_text(*f->raw);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "-" : out;
}

std::string vendor_text(const memory_device& d) {
  if (d.vendor && !d.vendor->name.empty()) return printable_text(d.vendor->name);
  if (d.vendor && d.vendor->bank != 0) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "JEDEC %u:0x%02X", d.vendor->bank, d.vendor->code);
    return buf;
  }
  return shown(d.manufacturer);
}

std::string speed_text(const opt<uint32_t>& mts) {
  return mts ? std::to_string(*mts) + " MT/s" : "-";
}

std::string yes_no(const opt<bool>& v) { return v ? (*v ? "yes" : "no") : "-"; }

std::string count_text(const opt<uint64_t>& n) { return n ? std::to_string(*n) : "?"; }

// The corrected and uncorrected counts before the NOTE column: "-" when
// nothing joined the device, "?" for a count that could not be read.
void add_counts(const memory_device& d, std::vector<std::string>* row) {
  const std::string ce = d.errors ? count_text(d.errors->corrected) : "-";
  const std::string ue = d.errors ? count_text(d.errors->uncorrected) : "-";
  row->insert(row->end() - 1, {ce, ue});
}

void add_channel(const memory_device& d, std::vector<std::string>* row) {
  const std::string c = channel_label(d.where);
  row->insert(row->begin() + 2, c.empty() ? "-" : c);
}

}  // namespace

std::string memory_errors_line(const memory_errors& e) {
  // A sum is unknown ("?") when any of its counts is.
  opt<uint64_t> ce = 0, ue = 0, pce = 0, pue = 0;
  const auto add = [](opt<uint64_t>* sum, const opt<uint64_t>& n) {
    *sum = *sum && n ? opt<uint64_t>(saturating_add(**sum, *n)) : std::nullopt;
  };
  for (const unmatched_errors& u : e.unmatched) add(&ce, u.corrected), add(&ue, u.uncorrected);
  for (const unplaced_errors_count& u : e.unplaced)
    add(&pce, u.corrected), add(&pue, u.uncorrected);
  const bool unplaced = pce != opt<uint64_t>(0) || pue != opt<uint64_t>(0);
  if (e.unmatched.empty() && !unplaced) return "";
  std::string out;
  if (!e.unmatched.empty())
    out += std::to_string(e.unmatched.size()) +
           (e.unmatched.size() == 1 ? " EDAC module" : " EDAC modules") + " joined no device (CE " +
           count_text(ce) + ", UE " + count_text(ue) + ")";
  if (unplaced)
    out += std::string(out.empty() ? "" : "; ") + "errors the controllers could not place: CE " +
           count_text(pce) + ", UE " + count_text(pue);
  return out + "\n";
}

std::string detail_table(const document& doc, bool populated_only) {
  const totals& s = doc.sum;
  std::string out = std::to_string(s.arrays) + (s.arrays == 1 ? " array, " : " arrays, ") +
                    std::to_string(s.slots) + (s.slots == 1 ? " slot, " : " slots, ") +
                    std::to_string(s.populated) + " populated, " + bytes_text(s.installed_bytes) +
                    ", " +
                    (!s.ecc   ? "ECC unknown"
                     : *s.ecc ? "ECC"
                              : "no ECC") +
                    "\n";
  if (doc.devices.empty()) return out;

  std::vector<std::vector<std::string>> rows = {{"SLOT", "BANK", "SIZE", "TYPE", "SPEED",
                                                 "CONFIGURED", "RANK", "ECC", "VENDOR",
                                                 "PART NUMBER", "SERIAL", "NOTE"}};
  const bool counts = doc.errors.available;
  if (counts) rows[0].insert(rows[0].end() - 1, {"CE", "UE"});
  // CHANNEL after BANK, when the table tells a channel for some device.
  const bool channels = std::any_of(doc.devices.begin(), doc.devices.end(),
                                    [](const auto& d) { return !channel_label(d.where).empty(); });
  if (channels) rows[0].insert(rows[0].begin() + 2, "CHANNEL");
  for (const memory_device& d : doc.devices) {
    const std::string note = d.system_memory ? "" : "not system memory";
    if (!d.populated) {
      if (populated_only) continue;
      // An empty slot has no module whose ECC to show, as it has no type or speed.
      rows.push_back({shown(d.locator), shown(d.bank_locator), d.size_bytes ? "empty" : "unknown",
                      "-", "-", "-", "-", "-", "-", "-", "-", note});
      if (counts) add_counts(d, &rows.back());
      if (channels) add_channel(d, &rows.back());
      continue;
    }
    const char* type = d.memory_type && d.memory_type->name ? d.memory_type->name : "-";
    rows.push_back({shown(d.locator), shown(d.bank_locator), bytes_text(*d.size_bytes), type,
                    speed_text(d.speed_mts), speed_text(d.configured_speed_mts),
                    d.rank ? std::to_string(*d.rank) : "-", yes_no(d.ecc), vendor_text(d),
                    shown(d.part_number), shown(d.serial_number), note});
    if (counts) add_counts(d, &rows.back());
    if (channels) add_channel(d, &rows.back());
  }
  return out + aligned_rows(rows) + (counts ? memory_errors_line(doc.errors) : "") +
         (doc.findings.empty() ? "" : findings_text(doc.findings));
}

}  // namespace raminfo_detail
