// The detail document for people: a summary line over the arrays, then one
// aligned row per memory device.
#include <algorithm>
#include <cstdio>

#include "detail/detail.h"
#include "text/printable.h"

namespace raminfo_detail {

namespace {

std::string bytes_text(uint64_t bytes) {
  constexpr uint64_t kKiB = 1024, kMiB = kKiB << 10, kGiB = kMiB << 10, kTiB = kGiB << 10;
  struct unit {
    uint64_t size;
    const char* name;
  };
  static const unit units[] = {{kTiB, "TiB"}, {kGiB, "GiB"}, {kMiB, "MiB"}, {kKiB, "KiB"}};
  for (const unit& u : units) {
    if (bytes < u.size) continue;
    if (bytes % u.size == 0) return std::to_string(bytes / u.size) + " " + u.name;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.1f %s", static_cast<double>(bytes) / u.size, u.name);
    return buf;
  }
  return std::to_string(bytes) + " B";
}

// Firmware text as it prints on a terminal (printable_text), trailing spaces
// dropped; "-" for a filler.
std::string shown(const opt<text_field>& f) {
  if (!f || !f->raw || f->placeholder) return "-";
  std::string out = printable_text(*f->raw);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "-" : out;
}

std::string vendor_text(const memory_device& d) {
  if (d.vendor && d.vendor->name != nullptr) return d.vendor->name;
  if (d.vendor) {
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

}  // namespace

std::string detail_table(const document& doc) {
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
  for (const memory_device& d : doc.devices) {
    const std::string note = d.system_memory ? "" : "not system memory";
    if (!d.populated) {
      rows.push_back({shown(d.locator), shown(d.bank_locator), d.size_bytes ? "empty" : "unknown",
                      "-", "-", "-", "-", yes_no(d.ecc), "-", "-", "-", note});
      continue;
    }
    const char* type = d.memory_type && d.memory_type->name ? d.memory_type->name : "-";
    rows.push_back({shown(d.locator), shown(d.bank_locator), bytes_text(*d.size_bytes), type,
                    speed_text(d.speed_mts), speed_text(d.configured_speed_mts),
                    d.rank ? std::to_string(*d.rank) : "-", yes_no(d.ecc), vendor_text(d),
                    shown(d.part_number), shown(d.serial_number), note});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      line.append(widths[c] - display_width(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace raminfo_detail
