#include "compare.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "detail/detail.h"
#include "views.h"

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

// A whole number of the document, or -1 when it is absent, not a number, or
// outside what any field can hold (2^53: exact in a double, and far above
// any size in bytes).
int64_t whole(const json_value& obj, const char* key) {
  const json_value* v = obj.find(key);
  if (v == nullptr || v->type != json_value::kind::number) return -1;
  const double n = v->number;
  if (!(n >= 0 && n <= 9007199254740992.0)) return -1;
  return static_cast<int64_t>(n);
}

// A value the document writes as 0 when the firmware did not give it.
int64_t known(int64_t v) { return v > 0 ? v : -1; }

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
    // size_mb is a 32-bit field; anything larger is no size the report wrote.
    m.size_bytes = mb > 0 && mb <= INT32_MAX ? static_cast<uint64_t>(mb) << 20 : 0;
    m.type = s.text_or("type", "");
    m.manufacturer = s.text_or("manufacturer", "");
    m.part_number = s.text_or("part_number", "");
    m.serial = s.text_or("serial", "");
    m.form_factor = s.text_or("form_factor", "");
    m.speed_mts = known(whole(s, "speed_mts"));
    m.configured_speed_mts = known(whole(s, "configured_speed_mts"));
    m.voltage_mv = known(whole(s, "voltage_mv"));
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
  const json_value* readable = doc.find("readable");
  if (readable != nullptr && readable->type == json_value::kind::boolean && !readable->boolean) {
    *error = "saved when the table could not be read (\"readable\": false)";
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
    // 0 is "unknown" here too, and what a source that lacks the value (udev's
    // rounded voltages) gives.
    m.speed_mts = known(whole(d, "speed_mts"));
    m.configured_speed_mts = known(whole(d, "configured_speed_mts"));
    m.voltage_mv = known(whole(d, "configured_voltage_mv"));
    m.rank = known(whole(d, "rank"));
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
      *error = "a document of schema \"" + printable_text(schema) +
               "\", where this raminfo reads \"" + raminfo_detail::kSchema + "\"";
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
  std::map<std::string, const module_state*> now_by_key, before_by_key;
  for (const module_state& m : now.modules) now_by_key[key_of(m)] = &m;
  for (const module_state& m : before.modules) before_by_key[key_of(m)] = &m;
  auto at = [](const std::map<std::string, const module_state*>& by_key, const module_state& m) {
    const auto it = by_key.find(key_of(m));
    return it == by_key.end() || it->second->size_bytes == 0 ? nullptr : it->second;
  };

  // A module that left its slot (gone) or one that is new to its slot
  // (arrived); a different module in the same slot is both.
  std::vector<const module_state*> gone, arrived;
  for (const module_state& b : before.modules) {
    if (b.size_bytes == 0) continue;
    const module_state* n = at(now_by_key, b);
    if (n == nullptr || !same_identity(b, *n)) gone.push_back(&b);
  }
  for (const module_state& n : now.modules) {
    if (n.size_bytes == 0) continue;
    const module_state* b = at(before_by_key, n);
    if (b == nullptr || !same_identity(*b, n)) arrived.push_back(&n);
  }

  // A module that left one slot and turned up in another (moved, swapped, or
  // its slot renamed) is one change, not a removal and an arrival.
  // Only a serial and part number that name one module on each side tell
  // where it went; firmware that writes "XXXXXXXX" for every serial does not.
  std::map<std::string, int> uses;
  auto identity = [](const module_state& m) { return m.serial + '\n' + m.part_number; };
  for (const memory_state* side : {&before, &now})
    for (const module_state& m : side->modules)
      if (m.size_bytes != 0) ++uses[identity(m)];
  std::map<const module_state*, const module_state*> moved_to;
  std::set<const module_state*> came;
  for (const module_state* g : gone) {
    if (!identifiable(*g) || uses[identity(*g)] != 2) continue;
    for (const module_state* n : arrived) {
      if (came.count(n) == 0 && n->serial == g->serial && n->part_number == g->part_number) {
        moved_to[g] = n;
        came.insert(n);
        break;
      }
    }
  }

  std::set<const module_state*> reported;
  for (const module_state& b : before.modules) {
    if (b.size_bytes == 0) continue;
    const module_state* n = at(now_by_key, b);
    const auto move = moved_to.find(&b);
    if (move != moved_to.end()) {
      c.lines.push_back(b.slot + ": now in slot " + move->second->slot + " (" +
                        describe(*move->second) + ")");
      ++c.changed;
    } else if (n != nullptr && same_identity(b, *n)) {
      const std::vector<std::string> changes = attribute_changes(b, *n);
      for (const std::string& line : changes) c.lines.push_back(b.slot + ": " + line);
      if (!changes.empty()) ++c.changed;
    } else if (n != nullptr && came.count(n) == 0) {
      // Another module where this one was, and neither moved: a replacement.
      std::string what;
      if (really_differ(b.part_number, n->part_number))
        what += "part " + b.part_number + " → " + n->part_number;
      if (really_differ(b.serial, n->serial))
        what += (what.empty() ? "" : ", ") + std::string("serial ") + b.serial + " → " + n->serial;
      c.lines.push_back(b.slot + ": replaced: " + what);
      ++c.changed;
      reported.insert(n);
    } else {
      c.lines.push_back(b.slot + ": missing (was " + describe(b) + ")");
      ++c.missing;
    }
  }
  for (const module_state* n : arrived) {
    if (came.count(n) != 0 || reported.count(n) != 0) continue;
    c.lines.push_back(n->slot + ": new module (" + describe(*n) + ")");
    ++c.added;
  }

  uint64_t total_before = 0, total_now = 0;
  for (const module_state& m : before.modules) total_before += m.system_memory ? m.size_bytes : 0;
  for (const module_state& m : now.modules) total_now += m.system_memory ? m.size_bytes : 0;
  if (total_before != total_now)
    c.lines.push_back("total " + size_text(total_before) + " → " + size_text(total_now));
  // Firmware text goes to a terminal or a log: each difference stays one
  // line, and no control character reaches the reader.
  for (std::string& line : c.lines) line = printable_text(line);
  return c;
}
