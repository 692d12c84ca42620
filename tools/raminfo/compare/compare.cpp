#include "compare/compare.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "detail/detail.h"
#include "text/text.h"

namespace {

using raminfo_detail::is_placeholder;

// Sizes in bytes, KiB, MiB or GiB.
std::string module_size(uint64_t bytes) { return size_text(bytes, kGiB, "bytes"); }

// Two sizes in one unit, the larger one's, so that "64 GiB → 512 MiB" reads
// "64 GiB → 0.5 GiB"; a smaller unit where rounding would make them read
// the same.
std::string size_change(uint64_t a, uint64_t b) {
  const auto tenths = [](uint64_t bytes, uint64_t unit) {
    return (bytes * 10 + unit / 2) / unit;  // sizes stay far below 2^60
  };
  uint64_t unit = size_unit(std::max(a, b), kGiB);
  while (unit > 1 && a != b && tenths(a, unit) == tenths(b, unit)) unit >>= 10;
  return size_in_unit(a, unit, "bytes") + " → " + size_in_unit(b, unit, "bytes");
}

// Firmware text without the white space at either end, which udev's decoder
// strips and which never tells two modules apart. The other losses of udev's
// entry (a string holding a control byte, DEL or bytes that are not UTF-8,
// and "Not Specified", become no string) leave a placeholder or an empty
// slot name on its side, which the comparison does not hold against a module.
std::string trimmed(const std::string& raw) {
  const char* space = " \t\n\r";
  const size_t first = raw.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return raw.substr(first, raw.find_last_not_of(space) - first + 1);
}

module_state compared_terms(const module_state& m) {
  module_state out = m;
  for (std::string* text :
       {&out.slot, &out.bank_locator, &out.manufacturer, &out.part_number, &out.serial})
    *text = trimmed(*text);
  return out;
}

// The maker's one spelling, so that "Hynix", "SK Hynix" and "80AD" are one
// maker; "" when the string names none raminfo knows.
std::string maker_of(const module_state& m) {
  if (!m.vendor.empty()) return m.vendor;
  const auto v = raminfo_detail::vendor_from_string(m.manufacturer);
  return v ? v->name : std::string();
}

// What a person needs to find the module: maker, part, size and serial.
std::string describe(const module_state& m) {
  std::string out;
  auto add = [&out](const std::string& part, const char* sep) {
    if (part.empty()) return;
    if (!out.empty()) out += sep;
    out += part;
  };
  const std::string maker = maker_of(m);
  add(!maker.empty() ? maker : is_placeholder(m.manufacturer) ? "" : m.manufacturer, " ");
  add(is_placeholder(m.part_number) ? "" : m.part_number, " ");
  add(module_size(m.size_bytes), ", ");
  if (!is_placeholder(m.serial)) add("serial " + m.serial, ", ");
  return out;
}

// Two strings differ in a way that means something: neither is a placeholder.
bool really_differ(const std::string& a, const std::string& b) {
  return !is_placeholder(a) && !is_placeholder(b) && a != b;
}

bool same_identity(const module_state& a, const module_state& b) {
  return !really_differ(a.serial, b.serial) && !really_differ(a.part_number, b.part_number);
}

bool exactly_same_identity(const module_state& a, const module_state& b) {
  return a.serial == b.serial && a.part_number == b.part_number;
}

// A module named by a real serial and part number.
bool identifiable(const module_state& m) {
  return !is_placeholder(m.serial) && !is_placeholder(m.part_number);
}

// The bank tells apart slots of one name (channels A and B each with a
// "DIMM 1") where both sides give it.
bool same_bank(const module_state& a, const module_state& b) {
  return a.bank_locator.empty() || b.bank_locator.empty() || a.bank_locator == b.bank_locator;
}

bool same_slot(const module_state& a, const module_state& b) {
  return a.slot == b.slot && same_bank(a, b);
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
    out.push_back("size " + size_change(a.size_bytes, b.size_bytes));
  text("type", a.type, b.type);
  number("speed", a.speed_mts, b.speed_mts, " MT/s");
  number("configured speed", a.configured_speed_mts, b.configured_speed_mts, " MT/s");
  number("voltage", a.voltage_mv, b.voltage_mv, " mV");
  text("form factor", a.form_factor, b.form_factor);
  // Two spellings of one maker are the same manufacturer.
  const std::string maker_a = maker_of(a), maker_b = maker_of(b);
  if (!maker_a.empty() && !maker_b.empty()) {
    if (maker_a != maker_b) out.push_back("manufacturer " + maker_a + " → " + maker_b);
  } else {
    text("manufacturer", a.manufacturer, b.manufacturer);
  }
  text("bank", a.bank_locator, b.bank_locator);
  number("rank", a.rank, b.rank, "");
  return out;
}

// A whole number of the document, or -1 when it is absent, not a number, or
// outside what any field can hold (2^53: exact in a double, and far above
// any size in bytes).
int64_t whole(const json_value* v) {
  if (v == nullptr || v->type != json_value::kind::number) return -1;
  const double n = v->number;
  if (!(n >= 0 && n <= 9007199254740992.0)) return -1;
  return static_cast<int64_t>(n);
}

int64_t whole(const json_value& obj, const char* key) { return whole(obj.find(key)); }

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
std::string detail_text(const json_value* field) {
  std::string raw = field != nullptr ? field->text_or("raw", "") : "";
  while (!raw.empty() && raw.back() == ' ') raw.pop_back();
  return raw;
}

std::string detail_name(const json_value* field) {
  return field != nullptr ? field->text_or("name", "") : "";
}

// A device member detail_state reads, and where it puts the member's value.
struct device_field {
  const char* name;
  size_t size;
  const json_value** field;
  template <size_t N>
  device_field(const char (&n)[N], const json_value** f) : name(n), size(N - 1), field(f) {}
};

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
    // The device's fields, found in one pass over its members (names are
    // never given twice, so each is the one find would give).
    const json_value *locator = nullptr, *populated = nullptr, *size_bytes = nullptr,
                     *memory_type = nullptr, *form_factor = nullptr, *manufacturer = nullptr,
                     *part_number = nullptr, *serial_number = nullptr, *bank_locator = nullptr,
                     *vendor = nullptr, *speed_mts = nullptr, *configured_speed_mts = nullptr,
                     *configured_voltage_mv = nullptr, *rank = nullptr, *system = nullptr;
    const device_field fields[] = {
        {"locator", &locator},
        {"populated", &populated},
        {"size_bytes", &size_bytes},
        {"memory_type", &memory_type},
        {"form_factor", &form_factor},
        {"manufacturer", &manufacturer},
        {"part_number", &part_number},
        {"serial_number", &serial_number},
        {"bank_locator", &bank_locator},
        {"vendor", &vendor},
        {"speed_mts", &speed_mts},
        {"configured_speed_mts", &configured_speed_mts},
        {"configured_voltage_mv", &configured_voltage_mv},
        {"rank", &rank},
        {"system_memory", &system},
    };
    if (d.type == json_value::kind::object) {
      for (const auto& member : d.members) {
        for (const auto& f : fields) {
          if (member.first.size() == f.size &&
              std::memcmp(member.first.data(), f.name, f.size) == 0) {
            *f.field = &member.second;
            break;
          }
        }
      }
    }
    if (locator == nullptr) {
      *error = "not a raminfo detail document: a device without \"locator\"";
      return false;
    }
    module_state m;
    m.slot = detail_text(locator);
    const int64_t bytes = whole(size_bytes);
    if (populated != nullptr && populated->boolean && bytes > 0)
      m.size_bytes = static_cast<uint64_t>(bytes);
    m.type = detail_name(memory_type);
    m.form_factor = detail_name(form_factor);
    m.manufacturer = detail_text(manufacturer);
    m.part_number = detail_text(part_number);
    m.serial = detail_text(serial_number);
    m.bank_locator = detail_text(bank_locator);
    if (vendor != nullptr) m.vendor = vendor->text_or("name", "");
    // 0 is "unknown" here too, and what a source that lacks the value (udev's
    // rounded voltages) gives.
    m.speed_mts = known(whole(speed_mts));
    m.configured_speed_mts = known(whole(configured_speed_mts));
    m.voltage_mv = known(whole(configured_voltage_mv));
    m.rank = known(whole(rank));
    m.system_memory = system == nullptr || system->boolean;
    out->modules.push_back(m);
  }
  return true;
}

// Every name the readers above look up, and only those: the rest of a
// baseline is read and checked but not kept. A name looked up above and
// missing here would read as absent; the tests compare with the whole tree.
bool looked_up(const char* name, size_t size) {
  const auto is = [name](const char* word, size_t n) { return std::memcmp(name, word, n) == 0; };
  switch (size) {
    case 3: return is("raw", 3);
    case 4: return is("name", 4) || is("rank", 4) || is("slot", 4) || is("type", 4);
    case 5: return is("slots", 5);
    case 6: return is("schema", 6) || is("serial", 6) || is("vendor", 6);
    case 7: return is("devices", 7) || is("locator", 7) || is("size_mb", 7);
    case 8: return is("readable", 8) || is("total_mb", 8);
    case 9: return is("populated", 9) || is("speed_mts", 9);
    case 10: return is("size_bytes", 10) || is("voltage_mv", 10);
    case 11: return is("form_factor", 11) || is("memory_type", 11) || is("part_number", 11);
    case 12: return is("bank_locator", 12) || is("manufacturer", 12);
    case 13: return is("serial_number", 13) || is("system_memory", 13);
    case 20: return is("configured_speed_mts", 20);
    case 21: return is("configured_voltage_mv", 21);
    default: return false;
  }
}

// The library stops its report's list when the next device's object (at
// most 512 bytes) might not fit in 16 KiB, so a cut report is never shorter
// than this.
constexpr size_t kCutReportBytes = 16384 - 512;

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
    return detail_state(doc, out, error);
  }
  return plain_state(doc, out, error);
}

bool state_from_text(const std::string& text, memory_state* out, std::string* error) {
  return state_from_text(text.data(), text.size(), out, error);
}

bool state_from_text(const char* text, size_t size, memory_state* out, std::string* error) {
  json_value doc;
  if (!parse_json(text, size, &doc, error, looked_up)) {
    *error = "not JSON: " + *error;
    return false;
  }
  if (!state_from_document(doc, out, error)) return false;
  size_t end = size;
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ' ||
                     text[end - 1] == '\t'))
    --end;
  out->text_bytes = end;
  return true;
}

memory_state state_from_inventory(const inventory& inv) {
  memory_state out;
  for (const dimm_info& d : inv.devices) {
    module_state m;
    m.slot = library_text(d.slot);
    if (d.size_mb > 0) {
      m.size_bytes = static_cast<uint64_t>(d.size_mb) << 20;
      m.type = d.type;
      m.manufacturer = library_text(d.manufacturer);
      m.part_number = library_text(d.part_number);
      m.serial = library_text(d.serial);
      m.form_factor = d.form_factor;
      m.speed_mts = known(d.speed_mts);
      m.configured_speed_mts = known(d.configured_speed_mts);
      m.voltage_mv = known(d.voltage_mv);
    }
    out.modules.push_back(m);
  }
  return out;
}

namespace {

// Firmware text as the detail document's reader gets it back: every byte
// that is not part of valid UTF-8 written as U+FFFD, the rest as it is, and
// without the trailing spaces, as detail_text gives it.
std::string detail_text_of(const raminfo_detail::opt<raminfo_detail::text_field>& field) {
  std::string out;
  if (!field || !field->raw) return out;
  const std::string& raw = *field->raw;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    // A run of ASCII, each byte its own sequence, is copied at once.
    size_t ascii = i;
    while (ascii < raw.size() && static_cast<unsigned char>(raw[ascii]) < 0x80) ++ascii;
    out.append(raw, i, ascii - i);
    i = ascii;
    if (i == raw.size()) break;
    uint32_t cp = 0;
    const size_t n = utf8_sequence(raw, i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A number as whole() reads it back from the document.
template <typename T>
int64_t whole_of(const raminfo_detail::opt<T>& v) {
  if (!v || static_cast<uint64_t>(*v) > (uint64_t{1} << 53)) return -1;
  return static_cast<int64_t>(*v);
}

}  // namespace

memory_state state_from_detail(const raminfo_detail::document& doc) {
  memory_state out;
  if (!doc.readable) return out;
  out.detail = true;
  out.modules.reserve(doc.devices.size());
  for (const raminfo_detail::memory_device& d : doc.devices) {
    module_state m;
    m.slot = detail_text_of(d.locator);
    const int64_t bytes = whole_of(d.size_bytes);
    if (d.populated && bytes > 0) m.size_bytes = static_cast<uint64_t>(bytes);
    if (d.memory_type && d.memory_type->name != nullptr) m.type = d.memory_type->name;
    if (d.form_factor && d.form_factor->name != nullptr) m.form_factor = d.form_factor->name;
    m.manufacturer = detail_text_of(d.manufacturer);
    m.part_number = detail_text_of(d.part_number);
    m.serial = detail_text_of(d.serial_number);
    m.bank_locator = detail_text_of(d.bank_locator);
    if (d.vendor) m.vendor = d.vendor->name;
    m.speed_mts = known(whole_of(d.speed_mts));
    m.configured_speed_mts = known(whole_of(d.configured_speed_mts));
    m.voltage_mv = known(whole_of(d.configured_voltage_mv));
    m.rank = known(whole_of(d.rank));
    m.system_memory = d.system_memory;
    out.modules.push_back(std::move(m));
  }
  return out;
}

bool plain_baseline_may_be_cut(const memory_state& baseline, size_t present_devices) {
  return !baseline.detail && baseline.modules.size() < present_devices &&
         baseline.text_bytes >= kCutReportBytes;
}

namespace {

// What became of a populated module of one side.
enum class fate { unmatched, kept, moved, replaced };

// A populated module of one side: compared in trimmed terms, shown as the
// document gives it, and what became of it.
struct entry {
  module_state m;
  const module_state* shown;
  size_t other = 0;  // the matching entry of the other side, unless unmatched
  fate how = fate::unmatched;
};

std::vector<entry> populated_entries(const memory_state& side) {
  std::vector<entry> out;
  for (const module_state& m : side.modules)
    if (m.size_bytes != 0) out.push_back({compared_terms(m), &m});
  return out;
}

// Modules are matched as two multisets, not by their place in the table:
// pass by pass, from the strictest test to the loosest, each module of the
// baseline takes the first module of now that passes and is still free.
void match_modules(std::vector<entry>* was, std::vector<entry>* is) {
  const auto pass = [&](fate how, auto fits) {
    for (size_t i = 0; i < was->size(); ++i) {
      entry& a = (*was)[i];
      if (a.how != fate::unmatched) continue;
      for (size_t j = 0; j < is->size(); ++j) {
        entry& b = (*is)[j];
        if (b.how != fate::unmatched || !fits(a.m, b.m)) continue;
        a.other = j, b.other = i;
        a.how = b.how = how;
        break;
      }
    }
  };
  // The same slot (and bank, where both give one) with the same module: first
  // exactly and unchanged, then with placeholders allowed, then changed.
  pass(fate::kept, [](const module_state& a, const module_state& b) {
    return same_slot(a, b) && exactly_same_identity(a, b) && attribute_changes(a, b).empty();
  });
  pass(fate::kept, [](const module_state& a, const module_state& b) {
    return same_slot(a, b) && same_identity(a, b) && attribute_changes(a, b).empty();
  });
  pass(fate::kept, [](const module_state& a, const module_state& b) {
    return same_slot(a, b) && same_identity(a, b);
  });
  // A slot name one side lacks (udev gives none for a name it cannot keep).
  const auto unnamed = [](const module_state& a, const module_state& b) {
    return (a.slot.empty() || b.slot.empty()) && same_bank(a, b);
  };
  pass(fate::kept, [&](const module_state& a, const module_state& b) {
    return unnamed(a, b) && exactly_same_identity(a, b);
  });
  pass(fate::kept, [&](const module_state& a, const module_state& b) {
    return unnamed(a, b) && same_identity(a, b);
  });

  // A module that left one slot and turned up in another (moved, swapped, or
  // its slot renamed) is one change, not a removal and an arrival. Only a
  // serial and part number that name one module on each side tell where it
  // went; firmware that writes "XXXXXXXX" for every serial does not.
  std::map<std::string, int> uses_before, uses_now;
  const auto identity = [](const module_state& m) { return m.serial + '\n' + m.part_number; };
  for (const entry& e : *was) ++uses_before[identity(e.m)];
  for (const entry& e : *is) ++uses_now[identity(e.m)];
  pass(fate::moved, [&](const module_state& a, const module_state& b) {
    return identifiable(a) && uses_before[identity(a)] == 1 && uses_now[identity(a)] == 1 &&
           exactly_same_identity(a, b);
  });
  // Another module where this one was, and neither moved: a replacement.
  pass(fate::replaced,
       [](const module_state& a, const module_state& b) { return same_slot(a, b); });
}

// How many devices of a side carry each slot name.
std::map<std::string, int> slot_name_counts(const memory_state& side) {
  std::map<std::string, int> count;
  for (const module_state& m : side.modules) ++count[trimmed(m.slot)];
  return count;
}

// The slot a line names; where a side repeats a slot name, the bank tells
// which slot it means.
// The slot names of a side, counted when a line first names a slot: most
// comparisons find nothing to say, and counting is most of their cost.
class slot_names {
 public:
  explicit slot_names(const memory_state& side) : side_(side) {}
  int count(const std::string& name) {
    if (!counted_) {
      count_ = slot_name_counts(side_);
      counted_ = true;
    }
    return count_.at(name);
  }

 private:
  const memory_state& side_;
  std::map<std::string, int> count_;
  bool counted_ = false;
};

std::string slot_label(const entry& e, slot_names* names) {
  std::string out = e.shown->slot.empty() ? "(unnamed slot)" : e.shown->slot;
  if (names->count(e.m.slot) > 1 && !e.m.bank_locator.empty()) out += " (" + e.m.bank_locator + ")";
  return out;
}

// What differs between a module and its replacement.
std::string replacement(const module_state& was, const module_state& is) {
  std::string what;
  if (really_differ(was.part_number, is.part_number))
    what += "part " + was.part_number + " → " + is.part_number;
  if (really_differ(was.serial, is.serial))
    what += (what.empty() ? "" : ", ") + std::string("serial ") + was.serial + " → " + is.serial;
  return what;
}

// Memory that is not system memory (flash, ROM) stays out of the total.
// udev's entry does not say which devices those are, so a module that either
// side knows for one stays out of both sides' totals.
uint64_t system_total(const std::vector<entry>& side, const std::vector<entry>& other) {
  uint64_t sum = 0;
  for (const entry& e : side)
    if (e.m.system_memory && (e.how == fate::unmatched || other[e.other].m.system_memory))
      sum += e.m.size_bytes;
  return sum;
}

}  // namespace

comparison compare_states(const memory_state& before, const memory_state& now) {
  std::vector<entry> was = populated_entries(before), is = populated_entries(now);
  match_modules(&was, &is);
  slot_names names_before(before), names_now(now);
  comparison c;
  for (const entry& b : was) {
    const entry* n = b.how == fate::unmatched ? nullptr : &is[b.other];
    if (b.how == fate::kept) {
      const std::vector<std::string> changes = attribute_changes(b.m, n->m);
      if (changes.empty()) continue;
      const std::string slot = slot_label(b, &names_before);
      for (const std::string& line : changes) c.lines.push_back(slot + ": " + line);
      ++c.changed;
      continue;
    }
    const std::string slot = slot_label(b, &names_before);
    if (b.how == fate::moved) {
      c.lines.push_back(slot + ": now in slot " + slot_label(*n, &names_now) + " (" +
                        describe(*n->shown) + ")");
      ++c.changed;
    } else if (b.how == fate::replaced) {
      c.lines.push_back(slot + ": replaced: " + replacement(b.m, n->m));
      ++c.changed;
    } else {
      c.lines.push_back(slot + ": missing (was " + describe(*b.shown) + ")");
      ++c.missing;
    }
  }
  for (const entry& n : is) {
    if (n.how != fate::unmatched) continue;
    c.lines.push_back(slot_label(n, &names_now) + ": new module (" + describe(*n.shown) + ")");
    ++c.added;
  }
  const uint64_t total_before = system_total(was, is), total_now = system_total(is, was);
  if (total_before != total_now) c.lines.push_back("total " + size_change(total_before, total_now));
  // Firmware text goes to a terminal or a log: each difference stays one
  // line, and no control character reaches the reader.
  for (std::string& line : c.lines) line = printable_text(line);
  return c;
}
