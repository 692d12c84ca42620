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
// Trimmed in place: most strings have nothing to trim.
void trim(std::string* text) {
  const char* space = " \t\n\r";
  text->erase(text->find_last_not_of(space) + 1);
  text->erase(0, text->find_first_not_of(space));
}

std::string trimmed(std::string text) {
  trim(&text);
  return text;
}

module_state compared_terms(const module_state& m) {
  module_state out = m;
  for (std::string* text :
       {&out.slot, &out.bank_locator, &out.manufacturer, &out.part_number, &out.serial})
    trim(text);
  return out;
}

// The maker's one name, so that "Hynix", "SK Hynix" and "80AD" are one
// maker; "" when nothing names one raminfo knows. A name saved by an older
// raminfo ("Crucial Technology") is read again by today's rules, and without
// one the part number may name the maker, as --detail's vendor does.
std::string maker_of(const module_state& m) {
  using raminfo_detail::choose_vendor;
  using raminfo_detail::vendor_from_string;
  const auto v = !m.vendor.empty() ? vendor_from_string(m.vendor)
                                   : choose_vendor(vendor_from_string(m.manufacturer), std::nullopt,
                                                   &m.part_number);
  if (v && !v->name.empty()) return v->name;
  return m.vendor;
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
  return a != b && !is_placeholder(a) && !is_placeholder(b);
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
  // Two spellings of one maker are the same manufacturer; the same string and
  // vendor always name the same one.
  if (a.manufacturer != b.manufacturer || a.vendor != b.vendor) {
    const std::string maker_a = maker_of(a), maker_b = maker_of(b);
    if (!maker_a.empty() && !maker_b.empty()) {
      if (maker_a != maker_b) out.push_back("manufacturer " + maker_a + " → " + maker_b);
    } else {
      text("manufacturer", a.manufacturer, b.manufacturer);
    }
  }
  text("bank", a.bank_locator, b.bank_locator);
  number("rank", a.rank, b.rank, "");
  return out;
}

// A value the document writes as 0 when the firmware did not give it.
int64_t known(int64_t v) { return v > 0 ? v : -1; }

}  // namespace

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
  const auto unmatched = [](const std::vector<entry>& side) {
    for (const entry& e : side)
      if (e.how == fate::unmatched) return true;
    return false;
  };
  // Nothing is left to move or replace when every module has its match.
  if (!unmatched(*was) || !unmatched(*is)) return;
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
