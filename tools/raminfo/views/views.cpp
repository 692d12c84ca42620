#include "views/views.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

#include "core/loader.h"
#include "detail/detail.h"
#include "detail/setup.h"
#include "raminfo.h"

namespace {

std::string format(const char* fmt, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

// A module's size in MiB or GiB.
std::string module_size(int32_t mb) {
  return mb <= 0 ? "empty" : size_text(static_cast<uint64_t>(mb) << 20, kGiB, "B");
}

// A sum in GiB, however small.
std::string gib_text(uint64_t bytes) { return size_in_unit(bytes, kGiB, "B"); }

// mb MiB in bytes; 0 for a size of none (0) or unknown (negative).
uint64_t mib_bytes(int32_t mb) { return mb > 0 ? static_cast<uint64_t>(mb) << 20 : 0; }

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

// A device's Bank Locator, printable; "" for none.
std::string bank_text(const inventory& inv, size_t i) {
  return i < inv.banks.size() ? printable_text(inv.banks[i]) : std::string();
}

// The maker as grouping wants it: its one spelling when the string (or the
// module's code) names a known maker, else the firmware's own string.
std::string maker_text(const inventory& inv, size_t i) {
  if (i < inv.makers.size() && !inv.makers[i].empty()) return printable_text(inv.makers[i]);
  return display_text(inv.devices[i].manufacturer);
}

// Label values: backslash, double quote and line feed are escaped.
std::string label(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string count_text(const std::optional<uint64_t>& n) { return n ? std::to_string(*n) : "?"; }

// CE and UE after FORM FACTOR (before NOTE): "-" for a device nothing
// joined, "?" for a count that could not be read.
// shown gives the device of each row after the heading.
void add_count_columns(const inventory& inv, const std::vector<size_t>& shown,
                       std::vector<std::vector<std::string>>* rows) {
  constexpr std::ptrdiff_t kAfterFormFactor = 10;
  (*rows)[0].insert((*rows)[0].begin() + kAfterFormFactor, {"CE", "UE"});
  for (size_t r = 0; r < shown.size(); ++r) {
    const size_t i = shown[r];
    const std::optional<raminfo_detail::module_errors> none;
    const auto& e = i < inv.errors.size() ? inv.errors[i] : none;
    std::vector<std::string>& row = (*rows)[r + 1];
    row.insert(row.begin() + kAfterFormFactor,
               {e ? count_text(e->corrected) : "-", e ? count_text(e->uncorrected) : "-"});
  }
}

// CHANNEL after SLOT (and BANK), when the table tells a channel for some
// device; shown gives the device of each row after the heading.
void add_channel_column(const inventory& inv, const std::vector<size_t>& shown,
                        std::vector<std::vector<std::string>>* rows) {
  // Each device's channel as its detail document tells it; "" when unknown.
  std::vector<std::string> channels;
  for (size_t i : shown) {
    const size_t k = i < inv.detail_index.size() ? inv.detail_index[i] : inv.detail.devices.size();
    channels.push_back(k < inv.detail.devices.size()
                           ? raminfo_detail::channel_label(inv.detail.devices[k].where)
                           : "");
  }
  if (std::all_of(channels.begin(), channels.end(), [](const auto& c) { return c.empty(); }))
    return;
  const auto at = static_cast<std::ptrdiff_t>((*rows)[0][1] == "BANK" ? 2 : 1);
  (*rows)[0].insert((*rows)[0].begin() + at, "CHANNEL");
  for (size_t r = 0; r < shown.size(); ++r)
    (*rows)[r + 1].insert((*rows)[r + 1].begin() + at, channels[r].empty() ? "-" : channels[r]);
}

std::string metric_family(const char* name, const char* type, const char* help,
                          const std::string& samples) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
         samples;
}

// The counters of the errors on no listed device, by kind; unknown counts
// are left out.
void unlisted_sample(std::string* out, const std::string& labels, const char* kind,
                     const std::optional<uint64_t>& n) {
  if (n) *out += labels + ",kind=\"" + kind + "\"} " + std::to_string(*n) + "\n";
}

// Whether counts are available, and the counters when they are.
std::string memory_error_families(const inventory& inv, const std::string& corrected,
                                  const std::string& uncorrected) {
  const raminfo_detail::memory_errors& m = inv.memory_errors;
  std::string out = metric_family(
      "raminfo_memory_errors_available", "gauge",
      "Whether per-module memory error counts (Linux EDAC) could be read (1) or not (0).",
      std::string("raminfo_memory_errors_available ") + (m.available ? "1" : "0") + "\n");
  if (!m.available) return out;
  out += metric_family("raminfo_module_corrected_errors_total", "counter",
                       "Corrected memory errors counted on the module in a slot since the count "
                       "was last reset, with its identity as labels (empty for a slot the table "
                       "calls empty).",
                       corrected);
  out += metric_family("raminfo_module_uncorrected_errors_total", "counter",
                       "Uncorrected memory errors counted on the module in a slot since the count "
                       "was last reset, with its identity as labels (empty for a slot the table "
                       "calls empty).",
                       uncorrected);
  std::string unmatched, unplaced;
  for (const raminfo_detail::unmatched_errors& u : m.unmatched) {
    const std::string labels = "raminfo_memory_errors_unmatched_total{edac=\"" +
                               label(printable_text(u.edac)) + "\",label=\"" +
                               label(printable_text(u.label.value_or(""))) + "\"";
    unlisted_sample(&unmatched, labels, "corrected", u.corrected);
    unlisted_sample(&unmatched, labels, "uncorrected", u.uncorrected);
  }
  for (const raminfo_detail::unplaced_errors_count& u : m.unplaced) {
    const std::string labels = "raminfo_memory_errors_unplaced_total{controller=\"" +
                               label(printable_text(u.controller)) + "\"";
    unlisted_sample(&unplaced, labels, "corrected", u.corrected);
    unlisted_sample(&unplaced, labels, "uncorrected", u.uncorrected);
  }
  out += metric_family("raminfo_memory_errors_unmatched_total", "counter",
                       "Memory errors counted on an EDAC module that joined no memory device.",
                       unmatched);
  out += metric_family("raminfo_memory_errors_unplaced_total", "counter",
                       "Memory errors a memory controller could not place on a module.", unplaced);
  return out;
}

// Appends every part to *to in turn.
void append_all(std::string* to, std::initializer_list<std::string_view> parts) {
  for (std::string_view p : parts) to->append(p.data(), p.size());
}

}  // namespace

bool read_inventory(inventory* out) {
  out->total_mb = raminfo_total_mb();
  out->devices.clear();
  out->other_memory.clear();
  out->detail_index.clear();
  out->banks.clear();
  out->decoded.clear();
  out->makers.clear();
  out->errors.clear();
  out->memory_errors = raminfo_detail::memory_errors{};
  out->detail = raminfo_detail::document{};
  out->readable = load_smbios() == 1;
  if (!out->readable) return false;
  // One walk for all devices: fetching each by index would walk from the
  // table start every time.
  const smbios_view t = smbios_cached_view();
  // What is system memory is decided once, by the detail decoder, whose
  // devices are every type 17 structure in the same walk order.
  out->detail = raminfo_detail::decode_detail(t);
  const raminfo_detail::document& doc = out->detail;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  dimm_info d;
  size_t detail_index = 0;
  while (smbios_next(t, &w, &st)) {
    if (st.type != kMemoryDeviceType) continue;
    const size_t k = detail_index++;
    if (!is_memory_device(st)) continue;
    decode_dimm(t, st, &d);
    out->devices.push_back(d);
    out->detail_index.push_back(k);
    out->other_memory.push_back(k < doc.devices.size() ? doc.devices[k].other_memory_reason
                                                       : nullptr);
    const auto& vendor = k < doc.devices.size() ? doc.devices[k].vendor : std::nullopt;
    out->makers.push_back(vendor ? vendor->name : std::string());
    const auto& bank = k < doc.devices.size() ? doc.devices[k].bank_locator : std::nullopt;
    out->banks.push_back(bank && bank->raw ? *bank->raw : std::string());
    inventory::decoded_fields shown;
    if (k < doc.devices.size()) {
      const raminfo_detail::memory_device& dd = doc.devices[k];
      const auto placeholder = [](const auto& f) { return !f || f->placeholder; };
      if (dd.memory_type && dd.memory_type->name != nullptr) shown.type = dd.memory_type->name;
      shown.maker_placeholder = placeholder(dd.manufacturer);
      shown.part_placeholder = placeholder(dd.part_number);
      shown.serial_placeholder = placeholder(dd.serial_number);
    }
    out->decoded.push_back(shown);
  }
  return true;
}

std::string library_text(const char* escaped) {
  std::string raw;
  for (const char* p = escaped; *p != '\0'; ++p) {
    if (*p == '\\' && p[1] != '\0') ++p;
    raw += *p;
  }
  return raw;
}

std::string display_text(const char* escaped) { return printable_text(library_text(escaped)); }

std::string render_table(const inventory& inv, bool populated_only) {
  const std::vector<std::string> head = {"SLOT",       "SIZE",       "TYPE",         "SPEED",
                                         "CONFIGURED", "VOLTAGE",    "MANUFACTURER", "PART NUMBER",
                                         "SERIAL",     "FORM FACTOR"};
  std::vector<std::vector<std::string>> rows = {head};
  uint64_t installed = 0;
  int populated = 0;
  size_t slots = 0, others = 0;
  // Two devices of one slot name are told apart by their banks.
  std::set<std::string> slot_names;
  bool slots_repeat = false;
  std::vector<size_t> shown_devices;
  for (size_t i = 0; i < inv.devices.size(); ++i) {
    const dimm_info& d = inv.devices[i];
    const char* other = i < inv.other_memory.size() ? inv.other_memory[i] : nullptr;
    const std::string slot = or_dash(display_text(d.slot));
    slots_repeat = !slot_names.insert(slot).second || slots_repeat;
    if (other != nullptr)
      ++others;
    else
      ++slots;
    if (d.size_mb <= 0) {
      if (populated_only) continue;
      shown_devices.push_back(i);
      rows.push_back({slot, "empty", "-", "-", "-", "-", "-", "-", "-", "-"});
    } else {
      if (other == nullptr)
        ++populated, installed = saturating_add(installed, mib_bytes(d.size_mb));
      // The detail decoder's names and placeholders, so that both table
      // views show one device alike.
      shown_devices.push_back(i);
      const inventory::decoded_fields shown =
          i < inv.decoded.size() ? inv.decoded[i] : inventory::decoded_fields{};
      const bool named = i < inv.makers.size() && !inv.makers[i].empty();
      rows.push_back(
          {slot, module_size(d.size_mb), or_dash(shown.type),
           d.speed_mts > 0 ? std::to_string(d.speed_mts) + " MT/s" : "-",
           d.configured_speed_mts > 0 ? std::to_string(d.configured_speed_mts) + " MT/s" : "-",
           d.voltage_mv > 0 ? format("%.2f V", d.voltage_mv / 1000.0) : "-",
           !named && shown.maker_placeholder ? "-" : or_dash(maker_text(inv, i)),
           shown.part_placeholder ? "-" : or_dash(display_text(d.part_number)),
           shown.serial_placeholder ? "-" : or_dash(display_text(d.serial)), d.form_factor});
    }
    rows.back().push_back(other != nullptr ? "not system memory" : "");
  }
  // The NOTE column is there only when a device needs it.
  rows[0].push_back("NOTE");
  if (others == 0)
    for (auto& row : rows) row.pop_back();
  const bool counts = inv.memory_errors.available;
  if (counts) add_count_columns(inv, shown_devices, &rows);
  if (slots_repeat) {
    rows[0].insert(rows[0].begin() + 1, "BANK");
    for (size_t r = 0; r < shown_devices.size(); ++r)
      rows[r + 1].insert(rows[r + 1].begin() + 1, or_dash(bank_text(inv, shown_devices[r])));
  }
  add_channel_column(inv, shown_devices, &rows);
  std::string out = aligned_rows(rows);
  out += std::to_string(populated) + " of " + std::to_string(slots) + " slots populated, " +
         gib_text(installed) + " installed";
  if (others > 0)
    out += ", not counting " + std::to_string(others) +
           (others == 1 ? " device that is" : " devices that are") + " not system memory";
  if (inv.total_mb >= 0)
    out += "; " + gib_text(mib_bytes(inv.total_mb)) + " visible to the operating system";
  out += "\n";
  if (counts) out += raminfo_detail::memory_errors_line(inv.memory_errors);
  if (!inv.detail.findings.empty()) out += raminfo_detail::findings_text(inv.detail.findings);
  return out;
}

std::string render_prometheus(const inventory& inv) {
  std::string size, speed, configured, voltage, corrected, uncorrected;
  uint64_t installed = 0;
  int populated = 0;
  size_t slots = 0, others = 0;
  for (size_t i = 0; i < inv.devices.size(); ++i) {
    const dimm_info& d = inv.devices[i];
    // A flash ROM or video memory is no module of the machine's memory, and
    // an empty slot has none to describe; either still has series for the
    // counts the kernel placed on it, so that every count --table shows, an
    // alert on these counters sees.
    const bool other = i < inv.other_memory.size() && inv.other_memory[i] != nullptr;
    const bool described = d.size_mb > 0;
    const auto& e = i < inv.errors.size() ? inv.errors[i] : std::nullopt;
    const bool counted = e && (e->corrected || e->uncorrected);
    if (other)
      ++others;
    else
      ++slots;
    if ((other || !described) && !counted) continue;
    // The index keeps series apart when firmware repeats a slot name; the
    // bank tells a person which of them to pull.
    std::string slot;
    append_all(&slot, {"{index=\"", std::to_string(i), "\",slot=\"", label(display_text(d.slot)),
                       "\",bank=\"", label(bank_text(inv, i)), "\""});
    // An empty slot's labels are empty, as its row of --table shows dashes.
    std::string identity = slot;
    append_all(&identity, {",type=\"", described ? d.type : "", "\",manufacturer=\"",
                           described ? label(maker_text(inv, i)) : "", "\",part_number=\"",
                           described ? label(display_text(d.part_number)) : "", "\",serial=\"",
                           described ? label(display_text(d.serial)) : "", "\",form_factor=\"",
                           described ? d.form_factor : "", "\"} "});
    // A count that could not be read is left out, never written as 0.
    if (e && e->corrected)
      append_all(&corrected, {"raminfo_module_corrected_errors_total", identity,
                              std::to_string(*e->corrected), "\n"});
    if (e && e->uncorrected)
      append_all(&uncorrected, {"raminfo_module_uncorrected_errors_total", identity,
                                std::to_string(*e->uncorrected), "\n"});
    if (other || !described) continue;
    ++populated;
    installed = saturating_add(installed, mib_bytes(d.size_mb));
    // Each sample appended piece by piece: no string made per piece.
    append_all(&size, {"raminfo_module_size_bytes", identity,
                       std::to_string(static_cast<int64_t>(d.size_mb) << 20), "\n"});
    append_all(&speed, {"raminfo_module_speed_mts", slot, "} ", std::to_string(d.speed_mts), "\n"});
    append_all(&configured, {"raminfo_module_configured_speed_mts", slot, "} ",
                             std::to_string(d.configured_speed_mts), "\n"});
    append_all(&voltage, {"raminfo_module_voltage_volts", slot, "} ",
                          format("%g", d.voltage_mv / 1000.0), "\n"});
  }
  std::string out;
  // Sized once for the families' text and the samples; appended piece by
  // piece, with no string made per line.
  out.reserve(4096 + size.size() + speed.size() + configured.size() + voltage.size() +
              corrected.size() + uncorrected.size());
  // Dashboards tell a machine whose table cannot be read from one with no
  // modules by this gauge; the module counts are left out when it is 0.
  out +=
      "# HELP raminfo_smbios_readable Whether the SMBIOS table could be read (1) or not (0).\n"
      "# TYPE raminfo_smbios_readable gauge\nraminfo_smbios_readable ";
  out += inv.readable ? "1\n" : "0\n";
  auto family = [&out](const char* name, const char* help, const std::string& samples) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
    out += samples;
  };
  if (inv.readable) {
    family("raminfo_module_size_bytes",
           "Size of an installed memory module, with its identity as labels.", size);
    family("raminfo_module_speed_mts", "Rated speed of a memory module in MT/s (0 when unknown).",
           speed);
    family("raminfo_module_configured_speed_mts",
           "Configured speed of a memory module in MT/s (0 when unknown).", configured);
    family("raminfo_module_voltage_volts",
           "Configured voltage of a memory module in volts (0 when unknown).", voltage);
    family("raminfo_slots", "Memory device slots of system memory in the SMBIOS table.",
           "raminfo_slots " + std::to_string(slots) + "\n");
    family("raminfo_modules_populated", "Installed memory modules of system memory.",
           "raminfo_modules_populated " + std::to_string(populated) + "\n");
    family("raminfo_installed_bytes",
           "Sum of the sizes of the installed memory modules of system memory.",
           "raminfo_installed_bytes " + std::to_string(installed) + "\n");
    family("raminfo_other_memory_devices",
           "Memory devices that are not system memory (flash ROM, video memory), left out of "
           "the other gauges.",
           "raminfo_other_memory_devices " + std::to_string(others) + "\n");
  }
  if (inv.readable) out += setup_families(inv);
  // Counts read without a table are still counts, joined to no device.
  out += memory_error_families(inv, corrected, uncorrected);
  if (inv.total_mb >= 0)
    family(
        "raminfo_visible_bytes", "Physical memory visible to the operating system.",
        "raminfo_visible_bytes " + std::to_string(static_cast<int64_t>(inv.total_mb) << 20) + "\n");
  return out;
}
