// The configuration the devices add up to, and the findings drawn from it.
// A finding about channels is made only when every slot's channel is told,
// so that none rests on a guess.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "detail/setup.h"
#include "text/text.h"

namespace raminfo_detail {

namespace {

std::string bytes_text(uint64_t bytes) { return size_text(bytes, kTiB, "B"); }

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool plain_ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string without_trailing_spaces(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string trimmed(const opt<text_field>& f) {
  if (!f || !f->raw || f->placeholder) return "";
  return without_trailing_spaces(printable_text(*f->raw));
}

// Whether two strings read alike as trimmed() gives them. Printable ASCII
// prints as itself, so only other bytes need the conversion: every slot's
// name is checked against every other's.
bool prints_alike(const opt<text_field>& a, const opt<text_field>& b) {
  const auto shown = [](const opt<text_field>& f) { return f && f->raw && !f->placeholder; };
  if (shown(a) && shown(b) && plain_ascii(*a->raw) && plain_ascii(*b->raw))
    return without_trailing_spaces(*a->raw) == without_trailing_spaces(*b->raw);
  return trimmed(a) == trimmed(b);
}

// A device as a person finds it on the board: its locator, with its bank
// locator when another device shares the locator ("DIMM 0" in each
// channel), else its handle.
std::string slot_name(const document& doc, const memory_device& d) {
  const std::string locator = trimmed(d.locator);
  if (locator.empty()) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "handle 0x%04X", d.handle);
    return buf;
  }
  const std::string bank = trimmed(d.bank_locator);
  const bool shared = std::any_of(doc.devices.begin(), doc.devices.end(), [&](const auto& o) {
    return &o != &d && prints_alike(o.locator, d.locator);
  });
  return shared && !bank.empty() ? locator + " (" + bank + ")" : locator;
}

// Up to a few slot names, then how many more.
std::string slot_list(const document& doc, const std::vector<size_t>& devices,
                      const char* last = ", ") {
  constexpr size_t kShown = 3;
  std::string out;
  for (size_t k = 0; k < devices.size() && k < kShown; ++k)
    out += (k == 0                                       ? ""
            : k + 1 == devices.size() || k + 1 == kShown ? last
                                                         : ", ") +
           slot_name(doc, doc.devices[devices[k]]);
  if (devices.size() > kShown) out += " and " + std::to_string(devices.size() - kShown) + " more";
  return out;
}

// Sorted, each once.
template <typename T>
size_t distinct(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return static_cast<size_t>(std::unique(v.begin(), v.end()) - v.begin());
}

struct channel {
  std::string label;
  std::vector<size_t> modules, free;  // populated devices; slots the firmware calls empty
  std::vector<size_t> devices;        // every slot
  uint64_t bytes = 0;
};

bool is_slot(const memory_device& d) { return d.system_memory; }
bool is_free(const memory_device& d) { return !d.populated && d.size_bytes; }

// How a position's channel was named: by an interleave position, or by the
// word or the letter of the Locator or of the Bank Locator.
int naming_of(const position& p) {
  if (std::string(p.source) == "memory_device_mapped_address") return 0;
  return 1 + (p.bank_channel ? 1 : 0) + (p.letter_channel ? 2 : 0);
}

// The channels of every slot, when each slot's channel is told by one kind
// of naming (interleave positions, a Locator's letters and a Bank Locator's
// numbers count channels apart: Supermicro's "P1-DIMMA2" of an empty slot
// beside "P0_Node0_Channel0_Dimm0" of a full one); else nothing.
std::map<channel_id, channel> channels_of(const document& doc, bool* told) {
  std::map<channel_id, channel> out;
  int naming = -1;
  *told = false;
  for (size_t i = 0; i < doc.devices.size(); ++i) {
    const memory_device& d = doc.devices[i];
    if (!is_slot(d)) continue;
    if (!d.where || !d.where->channel) return {};
    if (naming >= 0 && naming != naming_of(*d.where)) return {};
    naming = naming_of(*d.where);
    channel& c = out[channel_of(d)];
    // Every device of one channel gives it the same label.
    if (c.devices.empty()) c.label = channel_label(d.where);
    c.devices.push_back(i);
    if (d.populated) {
      c.modules.push_back(i);
      c.bytes = saturating_add(c.bytes, *d.size_bytes);
    } else if (is_free(d)) {
      c.free.push_back(i);
    }
  }
  if (naming < 0) return {};
  *told = true;
  return out;
}

void channels_unused(const document& doc, const std::map<channel_id, channel>& channels,
                     std::vector<finding>* out) {
  const size_t total = channels.size();
  const size_t used = doc.setup.channels_populated.value_or(0);
  if (used == 0 || used == total) return;
  bool shared = false;
  std::vector<size_t> empty_slots, free_slots;
  for (const auto& [key, c] : channels) {
    shared = shared || c.modules.size() > 1;
    if (!c.modules.empty()) continue;
    empty_slots.insert(empty_slots.end(), c.devices.begin(), c.devices.end());
    free_slots.insert(free_slots.end(), c.free.begin(), c.free.end());
  }
  // A channel with no module matters when a module could move into it or
  // be added there.
  if (!shared && free_slots.empty()) return;
  finding f;
  f.code = "channels_unused";
  f.severity = "warning";
  f.message = std::to_string(total - used) + " of " +
              plural(total, "memory channel", "memory channels") +
              (total - used == 1 ? " holds" : " hold") + " no module: the memory runs on " +
              plural(used, "channel", "channels") + ", with part of the bandwidth it could have; " +
              (shared ? "moving a module from a channel that holds two to " : "a module in ") +
              slot_list(doc, free_slots.empty() ? empty_slots : free_slots, " or ") +
              " would use " + (total - used == 1 ? "it" : "them");
  f.devices = free_slots.empty() ? empty_slots : free_slots;
  out->push_back(std::move(f));
}

void channels_unbalanced(const std::map<channel_id, channel>& channels, std::vector<finding>* out) {
  // Channels interleave within a processor's memory (a channel's array and
  // socket); sockets apart may differ, and so may arrays where no socket is
  // named (one per processor or node on many servers).
  std::map<std::pair<opt<unsigned>, opt<unsigned>>, std::vector<const channel*>> by_processor;
  for (const auto& [key, c] : channels)
    if (!c.modules.empty()) by_processor[{key.array, key.socket}].push_back(&c);
  std::string listed;
  std::vector<size_t> devices;
  for (const auto& entry : by_processor) {
    const std::vector<const channel*>& cs = entry.second;
    const bool differ = std::any_of(cs.begin(), cs.end(),
                                    [&](const channel* c) { return c->bytes != cs[0]->bytes; });
    if (!differ) continue;
    for (const channel* c : cs) {
      listed += std::string(listed.empty() ? "" : ", ") + c->label + ": " + bytes_text(c->bytes);
      devices.insert(devices.end(), c->modules.begin(), c->modules.end());
    }
  }
  if (devices.empty()) return;
  std::sort(devices.begin(), devices.end());
  finding f;
  f.code = "channels_unbalanced";
  f.severity = "warning";
  f.message = "populated channels hold different capacities (" + listed +
              "): only as much memory as the smallest channel holds is interleaved across all "
              "of them, the rest runs on fewer channels";
  f.devices = std::move(devices);
  out->push_back(std::move(f));
}

void below_rated_speed(const document& doc, std::vector<finding>* out) {
  std::vector<size_t> slow;
  std::vector<uint32_t> running;
  uint32_t top_rated = 0, low_rated = UINT32_MAX;
  bool all_rated = true;
  for (size_t i = 0; i < doc.devices.size(); ++i) {
    const memory_device& d = doc.devices[i];
    if (!is_slot(d) || !d.populated) continue;
    if (d.configured_speed_mts) running.push_back(*d.configured_speed_mts);
    if (!d.speed_mts) {
      all_rated = false;
      continue;
    }
    top_rated = std::max(top_rated, *d.speed_mts);
    low_rated = std::min(low_rated, *d.speed_mts);
    if (d.configured_speed_mts && *d.configured_speed_mts < *d.speed_mts) slow.push_back(i);
  }
  if (slow.empty()) return;
  finding f;
  f.code = "below_rated_speed";
  const uint32_t speed = *std::min_element(running.begin(), running.end());
  const std::string run_at = std::to_string(speed) + " MT/s";
  // One speed for all, and the module rated lowest rated just that: it sets
  // the speed the others could exceed.
  if (distinct(running) == 1 && all_rated && low_rated == speed && top_rated > speed) {
    std::vector<size_t> setters;
    for (size_t i = 0; i < doc.devices.size(); ++i) {
      const memory_device& d = doc.devices[i];
      if (is_slot(d) && d.populated && d.speed_mts == speed) setters.push_back(i);
    }
    f.severity = "warning";
    f.message = "the modules run at " + run_at + ", the rated speed of the slowest (" +
                slot_list(doc, setters) + "); " + plural(slow.size(), "module is", "modules are") +
                " rated up to " + std::to_string(top_rated) + " MT/s";
    f.devices = setters;
    f.devices.insert(f.devices.end(), slow.begin(), slow.end());
    std::sort(f.devices.begin(), f.devices.end());
  } else {
    const memory_device& first = doc.devices[slow[0]];
    const bool alike = std::all_of(slow.begin(), slow.end(), [&](size_t i) {
      return doc.devices[i].speed_mts == first.speed_mts &&
             doc.devices[i].configured_speed_mts == first.configured_speed_mts;
    });
    f.message = plural(slow.size(), "module runs", "modules run") + " slower than rated";
    if (alike)
      f.message += ": " + std::to_string(*first.configured_speed_mts) + " MT/s of " +
                   std::to_string(*first.speed_mts) + " MT/s";
    f.message += "; the processor's memory controller and the firmware's settings set the speed";
    f.devices = slow;
  }
  out->push_back(std::move(f));
}

void mixed_modules(const document& doc, std::vector<finding>* out) {
  std::map<opt<uint16_t>, std::vector<size_t>> by_array;
  for (size_t i = 0; i < doc.devices.size(); ++i) {
    const memory_device& d = doc.devices[i];
    if (is_slot(d) && d.populated) by_array[d.array_handle].push_back(i);
  }
  // One finding over every array that mixes, so that a source that lacks
  // the arrays (udev's entry) counts as many.
  finding f;
  f.code = "mixed_modules";
  for (const auto& [key, modules] : by_array) {
    if (modules.size() < 2) continue;
    const opt<uint16_t> array = doc.devices[modules[0]].array_handle;
    std::vector<std::string> parts;
    std::vector<uint64_t> sizes;
    std::vector<unsigned> ranks;
    std::vector<uint32_t> speeds;
    bool parts_known = true, ranks_known = true, speeds_known = true;
    for (size_t i : modules) {
      const memory_device& d = doc.devices[i];
      if (d.part_number && d.part_number->raw && !d.part_number->placeholder) {
        std::string p = *d.part_number->raw;
        while (!p.empty() && p.back() == ' ') p.pop_back();
        parts.push_back(p);
      } else {
        parts_known = false;
      }
      sizes.push_back(*d.size_bytes);
      if (d.rank)
        ranks.push_back(*d.rank);
      else
        ranks_known = false;
      if (d.speed_mts)
        speeds.push_back(*d.speed_mts);
      else
        speeds_known = false;
    }
    std::vector<std::string> what;
    if (parts_known && distinct(parts) > 1) what.push_back("part number");
    if (distinct(sizes) > 1) what.push_back("size");
    if (ranks_known && distinct(ranks) > 1) what.push_back("rank");
    if (speeds_known && distinct(speeds) > 1) what.push_back("rated speed");
    if (what.empty()) continue;
    std::string differ;
    for (size_t k = 0; k < what.size(); ++k)
      differ += (k == 0 ? "" : k + 1 == what.size() ? " and " : ", ") + what[k];
    char where[40] = "";
    if (array) std::snprintf(where, sizeof where, " of array 0x%04X", *array);
    f.message += std::string(f.message.empty() ? "" : "; ") + "the " +
                 std::to_string(modules.size()) + " modules" + where + " differ in " + differ;
    f.devices.insert(f.devices.end(), modules.begin(), modules.end());
  }
  if (f.devices.empty()) return;
  f.message += ": no matched set";
  std::sort(f.devices.begin(), f.devices.end());
  out->push_back(std::move(f));
}

void free_slots(const document& doc, std::vector<finding>* out) {
  const configuration& c = doc.setup;
  if (c.free_slots == 0) return;
  finding f;
  f.code = "free_slots";
  for (size_t i = 0; i < doc.devices.size(); ++i)
    if (is_slot(doc.devices[i]) && is_free(doc.devices[i])) f.devices.push_back(i);
  f.message = std::to_string(c.free_slots) + " of " + plural(doc.sum.slots, "slot", "slots") +
              (c.free_slots == 1 ? " is" : " are") + " empty (" + slot_list(doc, f.devices) + ")";
  if (c.maximum_capacity_bytes) {
    const uint64_t most = *c.maximum_capacity_bytes;
    if (most > c.installed_bytes)
      f.message += "; the arrays declare room for " + bytes_text(most - c.installed_bytes) +
                   " more (" + bytes_text(most) + " in all)";
    else
      f.message +=
          "; the arrays declare " + bytes_text(most) + " in all, no more than is installed";
    f.message += ", and firmware often declares less than the board takes";
  }
  out->push_back(std::move(f));
}

}  // namespace

void tell_configuration(document* doc) {
  configuration& c = doc->setup;
  c = configuration{};
  c.installed_bytes = doc->sum.installed_bytes;
  c.ecc = doc->sum.ecc;
  bool any = false, all = true;
  uint64_t most = 0;
  for (const memory_array& a : doc->arrays) {
    if (!a.system_memory) continue;
    any = true;
    if (a.maximum_capacity_bytes)
      most = saturating_add(most, *a.maximum_capacity_bytes);
    else
      all = false;
  }
  if (any && all) c.maximum_capacity_bytes = most;
  for (const memory_device& d : doc->devices)
    if (is_slot(d) && is_free(d)) ++c.free_slots;

  bool told = false;
  const std::map<channel_id, channel> channels = channels_of(*doc, &told);
  // A slot of unknown size may hold a module (0xFFFF says one is there and
  // not how big): which channels hold modules, and how much, is not told.
  const bool sizes_told =
      std::all_of(doc->devices.begin(), doc->devices.end(),
                  [](const memory_device& d) { return !is_slot(d) || d.size_bytes; });
  if (told) c.channels_total = static_cast<unsigned>(channels.size());
  if (told && sizes_told)
    c.channels_populated =
        static_cast<unsigned>(std::count_if(channels.begin(), channels.end(), [](const auto& kv) {
          return !kv.second.modules.empty();
        }));
  doc->findings.clear();
  if (told && sizes_told) {
    channels_unused(*doc, channels, &doc->findings);
    channels_unbalanced(channels, &doc->findings);
  }
  below_rated_speed(*doc, &doc->findings);
  mixed_modules(*doc, &doc->findings);
  free_slots(*doc, &doc->findings);
}

std::string findings_text(const std::vector<finding>& findings) {
  if (findings.empty()) return "no findings\n";
  std::string out;
  for (const char* severity : {"warning", "info"})
    for (const finding& f : findings)
      if (std::string(f.severity) == severity)
        out += std::string(severity) + " " + f.code + ": " + printable_text(f.message) + "\n";
  return out;
}

}  // namespace raminfo_detail
