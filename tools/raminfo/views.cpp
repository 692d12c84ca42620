#include "views.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "raminfo.h"

namespace {

std::string format(const char* fmt, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

std::string size_text(int32_t mb) {
  if (mb <= 0) return "empty";
  if (mb >= 1024) {
    if (mb % 1024 == 0) return std::to_string(mb / 1024) + " GiB";
    return format("%.1f GiB", mb / 1024.0);
  }
  return std::to_string(mb) + " MiB";
}

std::string gib_text(int64_t mb) {
  if (mb % 1024 == 0) return std::to_string(mb / 1024) + " GiB";
  return format("%.1f GiB", static_cast<double>(mb) / 1024.0);
}

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not valid.
size_t utf8_sequence(const std::string& s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  uint32_t cp = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, cp = c & 0x07;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (d & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

// The code point of the valid n-byte UTF-8 sequence at s[i].
uint32_t code_point(const std::string& s, size_t i, size_t n) {
  const auto c = static_cast<unsigned char>(s[i]);
  uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1Fu : n == 3 ? c & 0x0Fu : c & 0x07u;
  for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
  return cp;
}

// Terminal columns of a code point: 2 for East Asian wide and fullwidth
// characters (Unicode UAX #11), 0 for combining marks, 1 otherwise.
size_t code_point_width(uint32_t cp) {
  struct range {
    uint32_t first, last;
  };
  static const range kCombining[] = {
      {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
      {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
  };
  static const range kWide[] = {
      {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},
      {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
      {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
      {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
      {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
  };
  for (const range& r : kCombining)
    if (cp >= r.first && cp <= r.last) return 0;
  for (const range& r : kWide)
    if (cp >= r.first && cp <= r.last) return 2;
  return 1;
}

void pad(std::string* line, const std::string& cell, size_t width) {
  *line += cell;
  line->append(width - display_width(cell) + 2, ' ');
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

}  // namespace

bool read_inventory(inventory* out) {
  out->total_mb = raminfo_total_mb();
  out->devices.clear();
  out->readable = load_smbios() == 1;
  if (!out->readable) return false;
  // One walk for all devices: fetching each by index would walk from the
  // table start every time.
  const smbios_view t = smbios_cached_view();
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  dimm_info d;
  while (smbios_next(t, &w, &st)) {
    if (!is_memory_device(st)) continue;
    decode_dimm(t, st, &d);
    out->devices.push_back(d);
  }
  return true;
}

std::string display_text(const char* escaped) {
  std::string raw;
  for (const char* p = escaped; *p != '\0'; ++p) {
    if (*p == '\\' && p[1] != '\0') ++p;
    raw += *p;
  }
  return printable_text(raw);
}

std::string printable_text(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    const size_t n = utf8_sequence(raw, i);
    const uint32_t cp = n == 0 ? 0 : code_point(raw, i, n);
    // C0 controls, DEL and the C1 controls (U+0080 to U+009F) would steer a
    // terminal or break a line.
    if (n == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
      out += '?';
      i += n == 0 ? 1 : n;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  return out;
}

size_t display_width(const std::string& text) {
  size_t w = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8_sequence(text, i);
    if (n == 0) {
      ++w, ++i;
      continue;
    }
    w += code_point_width(code_point(text, i, n));
    i += n;
  }
  return w;
}

std::string render_table(const inventory& inv) {
  const std::vector<std::string> head = {"SLOT",       "SIZE",       "TYPE",         "SPEED",
                                         "CONFIGURED", "VOLTAGE",    "MANUFACTURER", "PART NUMBER",
                                         "SERIAL",     "FORM FACTOR"};
  std::vector<std::vector<std::string>> rows = {head};
  int64_t installed_mb = 0;
  int populated = 0;
  for (const dimm_info& d : inv.devices) {
    const std::string slot = or_dash(display_text(d.slot));
    if (d.size_mb <= 0) {
      rows.push_back({slot, "empty", "-", "-", "-", "-", "-", "-", "-", "-"});
      continue;
    }
    ++populated;
    installed_mb += d.size_mb;
    rows.push_back(
        {slot, size_text(d.size_mb), d.type,
         d.speed_mts > 0 ? std::to_string(d.speed_mts) + " MT/s" : "-",
         d.configured_speed_mts > 0 ? std::to_string(d.configured_speed_mts) + " MT/s" : "-",
         d.voltage_mv > 0 ? format("%.2f V", d.voltage_mv / 1000.0) : "-",
         or_dash(display_text(d.manufacturer)), or_dash(display_text(d.part_number)),
         or_dash(display_text(d.serial)), d.form_factor});
  }
  std::vector<size_t> widths(head.size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));

  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) pad(&line, row[c], widths[c]);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  out += std::to_string(populated) + " of " + std::to_string(inv.devices.size()) +
         " slots populated, " + gib_text(installed_mb) + " installed";
  if (inv.total_mb >= 0) out += "; " + gib_text(inv.total_mb) + " visible to the operating system";
  out += "\n";
  return out;
}

std::string render_prometheus(const inventory& inv) {
  std::string size, speed, configured, voltage;
  int64_t installed_mb = 0;
  int populated = 0;
  for (size_t i = 0; i < inv.devices.size(); ++i) {
    const dimm_info& d = inv.devices[i];
    if (d.size_mb <= 0) continue;
    ++populated;
    installed_mb += d.size_mb;
    // The index keeps series apart when firmware repeats a slot name.
    const std::string slot =
        "{index=\"" + std::to_string(i) + "\",slot=\"" + label(display_text(d.slot)) + "\"";
    size += "raminfo_module_size_bytes" + slot + ",type=\"" + d.type + "\",manufacturer=\"" +
            label(display_text(d.manufacturer)) + "\",part_number=\"" +
            label(display_text(d.part_number)) + "\",serial=\"" + label(display_text(d.serial)) +
            "\",form_factor=\"" + d.form_factor + "\"} " +
            std::to_string(static_cast<int64_t>(d.size_mb) << 20) + "\n";
    speed += "raminfo_module_speed_mts" + slot + "} " + std::to_string(d.speed_mts) + "\n";
    configured += "raminfo_module_configured_speed_mts" + slot + "} " +
                  std::to_string(d.configured_speed_mts) + "\n";
    voltage +=
        "raminfo_module_voltage_volts" + slot + "} " + format("%g", d.voltage_mv / 1000.0) + "\n";
  }
  std::string out;
  // Dashboards tell a machine whose table cannot be read from one with no
  // modules by this gauge; the module counts are left out when it is 0.
  out +=
      "# HELP raminfo_smbios_readable Whether the SMBIOS table could be read (1) or not (0).\n"
      "# TYPE raminfo_smbios_readable gauge\nraminfo_smbios_readable " +
      std::string(inv.readable ? "1" : "0") + "\n";
  auto family = [&out](const char* name, const char* help, const std::string& samples) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + samples;
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
    family("raminfo_slots", "Memory device slots in the SMBIOS table.",
           "raminfo_slots " + std::to_string(inv.devices.size()) + "\n");
    family("raminfo_modules_populated", "Installed memory modules.",
           "raminfo_modules_populated " + std::to_string(populated) + "\n");
    family("raminfo_installed_bytes", "Sum of the sizes of the installed memory modules.",
           "raminfo_installed_bytes " + std::to_string(installed_mb << 20) + "\n");
  }
  if (inv.total_mb >= 0)
    family(
        "raminfo_visible_bytes", "Physical memory visible to the operating system.",
        "raminfo_visible_bytes " + std::to_string(static_cast<int64_t>(inv.total_mb) << 20) + "\n");
  return out;
}
