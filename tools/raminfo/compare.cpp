#include "compare.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "detail/detail.h"

namespace {

using raminfo_detail::is_placeholder;

std::string size_text(uint64_t bytes) {
  char buf[32];
  const uint64_t mib = bytes >> 20;
  if (mib >= 1024 && mib % 1024 == 0) return std::to_string(mib >> 10) + " GiB";
  if (mib >= 1024) {
    std::snprintf(buf, sizeof buf, "%.1f GiB", static_cast<double>(mib) / 1024.0);
    return buf;
  }
  return std::to_string(mib) + " MiB";
}

// What a person needs to find the module: maker, part, size and serial.
std::string describe(const module_state& m) {
  std::string out;
  auto add = [&out](const std::string& part, const char* sep) {
    if (part.empty()) return;
    if (!out.empty()) out += sep;
    out += part;
  };
  add(!m.vendor.empty() ? m.vendor : is_placeholder(m.manufacturer) ? "" : m.manufacturer, " ");
  add(is_placeholder(m.part_number) ? "" : m.part_number, " ");
  add(size_text(m.size_bytes), ", ");
  if (!is_placeholder(m.serial)) add("serial " + m.serial, ", ");
  return out;
}

std::string key_of(const module_state& m) { return m.slot + '\n' + std::to_string(m.occurrence); }

// Two strings differ in a way that means something: neither is a placeholder.
bool really_differ(const std::string& a, const std::string& b) {
  return !is_placeholder(a) && !is_placeholder(b) && a != b;
}

bool same_identity(const module_state& a, const module_state& b) {
  return !really_differ(a.serial, b.serial) && !really_differ(a.part_number, b.part_number);
}

// A module both sides name by a real serial and part number.
bool identifiable(const module_state& m) {
  return !is_placeholder(m.serial) && !is_placeholder(m.part_number);
}

// The attribute changes of a module that is still the same one.
std::vector<std::string> attribute_changes(const module_state& a, const module_state& b) {
  std::vector<std::string> out;
  auto number = [&out](const char* what, int64_t x, int64_t y, const char* unit) {
    if (x >= 0 && y >= 0 && x != y)
      out.push_back(std::string(what) + " " + std::to_string(x) + " → " + std::to_string(y) + unit);
  };
  auto text = [&out](const char* what, const std::string& x, const std::string& y) {
    if (really_differ(x, y)) out.push_back(std::string(what) + " " + x + " → " + y);
  };
  if (a.size_bytes != b.size_bytes)
    out.push_back("size " + size_text(a.size_bytes) + " → " + size_text(b.size_bytes));
  text("type", a.type, b.type);
  number("speed", a.speed_mts, b.speed_mts, " MT/s");
  number("configured speed", a.configured_speed_mts, b.configured_speed_mts, " MT/s");
  number("voltage", a.voltage_mv, b.voltage_mv, " mV");
  text("form factor", a.form_factor, b.form_factor);
  text("manufacturer", a.manufacturer, b.manufacturer);
  text("bank", a.bank_locator, b.bank_locator);
  number("rank", a.rank, b.rank, "");
  return out;
}

void number_occurrences(std::vector<module_state>* modules) {
  std::map<std::string, int> seen;
  for (module_state& m : *modules) m.occurrence = seen[m.slot]++;
}

int64_t whole(const json_value& obj, const char* key) {
  const json_value* v = obj.find(key);
  return v != nullptr && v->type == json_value::kind::number ? static_cast<int64_t>(v->number) : -1;
}

bool plain_state(const json_value& doc, memory_state* out, std::string* error) {
  const json_value* slots = doc.find("slots");
  if (slots == nullptr || slots->type != json_value::kind::array ||
      doc.find("total_mb") == nullptr) {
    *error = "not a raminfo report: no \"slots\" list and \"total_mb\"";
    return false;
  }
  for (const json_value& s : slots->items) {
    if (s.type != json_value::kind::object || s.find("slot") == nullptr) {
      *error = "not a raminfo report: a slot without \"slot\"";
      return false;
    }
    module_state m;
    m.slot = s.text_or("slot", "");
    const int64_t mb = whole(s, "size_mb");
    m.size_bytes = mb > 0 ? static_cast<uint64_t>(mb) << 20 : 0;
    m.type = s.text_or("type", "");
    m.manufacturer = s.text_or("manufacturer", "");
    m.part_number = s.text_or("part_number", "");
    m.serial = s.text_or("serial", "");
    m.form_factor = s.text_or("form_factor", "");
    // The report writes 0 for a value the firmware did not give.
    m.speed_mts = whole(s, "speed_mts") > 0 ? whole(s, "speed_mts") : -1;
    m.configured_speed_mts =
        whole(s, "configured_speed_mts") > 0 ? whole(s, "configured_speed_mts") : -1;
    m.voltage_mv = whole(s, "voltage_mv") > 0 ? whole(s, "voltage_mv") : -1;
    out->modules.push_back(m);
  }
  return true;
}

// Firmware text as a detail document gives it, without the trailing spaces
// the plain report trims.
std::string detail_text(const json_value& device, const char* key) {
  const json_value* field = device.find(key);
  std::string raw = field != nullptr ? field->text_or("raw", "") : "";
  while (!raw.empty() && raw.back() == ' ') raw.pop_back();
  return raw;
}

std::string detail_name(const json_value& device, const char* key) {
  const json_value* field = device.find(key);
  return field != nullptr ? field->text_or("name", "") : "";
}

bool detail_state(const json_value& doc, memory_state* out, std::string* error) {
  const json_value* devices = doc.find("devices");
  if (devices == nullptr || devices->type != json_value::kind::array) {
    *error = "not a raminfo detail document: no \"devices\" list";
    return false;
  }
  out->detail = true;
  for (const json_value& d : devices->items) {
    if (d.type != json_value::kind::object || d.find("locator") == nullptr) {
      *error = "not a raminfo detail document: a device without \"locator\"";
      return false;
    }
    module_state m;
    m.slot = detail_text(d, "locator");
    const json_value* populated = d.find("populated");
    const int64_t bytes = whole(d, "size_bytes");
    if (populated != nullptr && populated->boolean && bytes > 0)
      m.size_bytes = static_cast<uint64_t>(bytes);
    m.type = detail_name(d, "memory_type");
    m.form_factor = detail_name(d, "form_factor");
    m.manufacturer = detail_text(d, "manufacturer");
    m.part_number = detail_text(d, "part_number");
    m.serial = detail_text(d, "serial_number");
    m.bank_locator = detail_text(d, "bank_locator");
    const json_value* vendor = d.find("vendor");
    if (vendor != nullptr) m.vendor = vendor->text_or("name", "");
    m.speed_mts = whole(d, "speed_mts");
    m.configured_speed_mts = whole(d, "configured_speed_mts");
    m.voltage_mv = whole(d, "configured_voltage_mv");
    m.rank = whole(d, "rank");
    const json_value* system = d.find("system_memory");
    m.system_memory = system == nullptr || system->boolean;
    out->modules.push_back(m);
  }
  return true;
}

}  // namespace

bool state_from_document(const json_value& doc, memory_state* out, std::string* error) {
  *out = memory_state();
  if (doc.type != json_value::kind::object) {
    *error = "not a raminfo report: the document is no JSON object";
    return false;
  }
  if (doc.find("schema") != nullptr) {
    const std::string schema = doc.text_or("schema", "?");
    if (schema != raminfo_detail::kSchema) {
      *error = "a document of schema \"" + schema + "\", where this raminfo reads \"" +
               raminfo_detail::kSchema + "\"";
      return false;
    }
    if (!detail_state(doc, out, error)) return false;
  } else if (!plain_state(doc, out, error)) {
    return false;
  }
  number_occurrences(&out->modules);
  return true;
}

comparison compare_states(const memory_state& before, const memory_state& now) {
  comparison c;
  std::map<std::string, const module_state*> now_by_key;
  for (const module_state& m : now.modules) now_by_key[key_of(m)] = &m;

  std::vector<const module_state*> gone;  // populated before, not in the same slot now
  for (const module_state& b : before.modules) {
    const auto it = now_by_key.find(key_of(b));
    const module_state* n = it == now_by_key.end() ? nullptr : it->second;
    if (b.size_bytes == 0) continue;
    if (n == nullptr || n->size_bytes == 0) {
      gone.push_back(&b);
      continue;
    }
    if (!same_identity(b, *n)) {
      std::string what;
      if (really_differ(b.part_number, n->part_number))
        what += "part " + b.part_number + " → " + n->part_number;
      if (really_differ(b.serial, n->serial))
        what += (what.empty() ? "" : ", ") + std::string("serial ") + b.serial + " → " + n->serial;
      c.lines.push_back(b.slot + ": replaced: " + what);
      ++c.changed;
      continue;
    }
    const std::vector<std::string> changes = attribute_changes(b, *n);
    for (const std::string& line : changes) c.lines.push_back(b.slot + ": " + line);
    if (!changes.empty()) ++c.changed;
  }

  // Modules populated now in a slot that was empty or absent before.
  std::vector<const module_state*> arrived;
  for (const module_state& n : now.modules) {
    if (n.size_bytes == 0) continue;
    const auto was = std::find_if(before.modules.begin(), before.modules.end(),
                                  [&n](const module_state& b) { return key_of(b) == key_of(n); });
    if (was == before.modules.end() || was->size_bytes == 0) arrived.push_back(&n);
  }

  // A module that left one slot and turned up in another (a renamed slot,
  // or a module moved during repair) is one change, not two.
  std::vector<const module_state*> new_ones;
  for (const module_state* n : arrived) {
    const auto from = std::find_if(gone.begin(), gone.end(), [n](const module_state* g) {
      return g != nullptr && identifiable(*g) && g->serial == n->serial &&
             g->part_number == n->part_number;
    });
    if (from == gone.end()) {
      new_ones.push_back(n);
      continue;
    }
    c.lines.push_back((*from)->slot + ": now in slot " + n->slot + " (" + describe(*n) + ")");
    ++c.changed;
    *from = nullptr;
  }
  for (const module_state* g : gone) {
    if (g == nullptr) continue;
    c.lines.push_back(g->slot + ": missing (was " + describe(*g) + ")");
    ++c.missing;
  }
  for (const module_state* n : new_ones) {
    c.lines.push_back(n->slot + ": new module (" + describe(*n) + ")");
    ++c.added;
  }

  uint64_t total_before = 0, total_now = 0;
  for (const module_state& m : before.modules) total_before += m.system_memory ? m.size_bytes : 0;
  for (const module_state& m : now.modules) total_now += m.system_memory ? m.size_bytes : 0;
  if (total_before != total_now)
    c.lines.push_back("total " + size_text(total_before) + " → " + size_text(total_now));
  if (before.modules.size() != now.modules.size())
    c.lines.push_back("slots " + std::to_string(before.modules.size()) + " → " +
                      std::to_string(now.modules.size()));
  return c;
}
