// Where each module sits, from the patterns of locators that say it outright
// ("ChannelA-DIMM0", "P0 CHANNEL B" with "DIMM 1", "CPU1_DIMM_A1",
// "P1_Node1_Channel2_Dimm0"), else from the interleave a type 20 structure
// gives. A maker's letters that name something else (Dell's "A1".."B12",
// HP's "DIMM 1A") and locators that repeat give no channel.
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "detail/setup.h"

namespace raminfo_detail {

namespace {

// A run of letters or of digits, a view of the upper-cased locator; glued
// when no separator stands between it and the token before.
struct token {
  std::string_view text;
  bool digits = false;
  bool glued = false;
};

bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The tokens of upper, which must outlive them.
std::vector<token> tokens_of(const std::string& upper) {
  std::vector<token> out;
  out.reserve(8);  // a locator holds a few tokens: one allocation for all
  bool glued = false;
  for (size_t i = 0; i < upper.size();) {
    const bool digit = is_digit(upper[i]);
    if (!digit && !is_alpha(upper[i])) {
      glued = false;
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < upper.size() && (digit ? is_digit(upper[i]) : is_alpha(upper[i]))) ++i;
    out.push_back({std::string_view(upper).substr(start, i - start), digit, glued});
    glued = true;
  }
  return out;
}

// A number of at most a few digits: firmware numbers sockets and slots in
// ones and tens, and anything longer is a part of some other name.
opt<unsigned> small_number(const token& t) {
  if (!t.digits || t.text.size() > 3) return std::nullopt;
  unsigned n = 0;
  for (char c : t.text) n = n * 10 + static_cast<unsigned>(c - '0');
  return n;
}

bool single_letter(const token& t) { return !t.digits && t.text.size() == 1; }

// How a string named the channel, strongest first.
enum class named { none, word, pair, letter };

struct reading {
  opt<unsigned> socket, controller, slot;
  opt<std::string> channel;
  named how = named::none;
  // A slot number with a letter glued after it ("DIMM 1A"): HP's population
  // order, not a channel.
  bool letter_after_slot = false;
  bool any() const { return socket || controller || channel || slot; }
};

bool is_one_of(std::string_view s, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (s == w) return true;
  return false;
}

reading read_locator(const std::string& s) {
  // Letters are read without their case: one upper-cased copy of the whole.
  std::string upper = s;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const std::vector<token> t = tokens_of(upper);
  reading r;
  const auto at = [&t](size_t i) -> const token* { return i < t.size() ? &t[i] : nullptr; };
  for (size_t i = 0; i < t.size(); ++i) {
    const std::string_view w = t[i].text;
    const token* next = at(i + 1);
    if (t[i].digits) continue;
    if (next != nullptr && next->digits) {
      const opt<unsigned> n = small_number(*next);
      // "P0", "CPU1", "PROC 2", "SOCKET 0": a processor socket; "P" only glued
      // to its number, as a lone P is too short to stand for one.
      if (!r.socket && ((w == "P" && next->glued) || is_one_of(w, {"CPU", "PROC", "SOCKET"}))) {
        r.socket = n;
        continue;
      }
      if (!r.controller && is_one_of(w, {"NODE", "CONTROLLER", "MC", "IMC"})) {
        r.controller = n;
        continue;
      }
    }
    if (w.rfind("CHANNEL", 0) == 0 && r.how != named::word) {
      const std::string_view rest = w.substr(7);
      if (rest.size() == 1) {
        r.channel = std::string(rest);
      } else if (rest.empty() && next != nullptr && (single_letter(*next) || small_number(*next))) {
        r.channel = next->digits ? std::to_string(*small_number(*next)) : std::string(next->text);
      } else {
        continue;
      }
      r.how = named::word;
      continue;
    }
    // "C0D1": channel 0, DIMM 1, each glued to the next.
    const token* d = at(i + 2);
    const token* dn = at(i + 3);
    if (w == "C" && next != nullptr && small_number(*next) && next->glued && d != nullptr &&
        d->text == "D" && d->glued && dn != nullptr && dn->glued && small_number(*dn)) {
      if (r.how == named::none) {
        r.channel = std::to_string(*small_number(*next));
        r.slot = small_number(*dn);
        r.how = named::pair;
      }
      i += 3;
      continue;
    }
    if (w.rfind("DIMM", 0) != 0 || w.size() > 5) continue;
    const auto letter_slot = [&](size_t k) {
      return at(k) != nullptr && single_letter(*at(k)) && at(k + 1) != nullptr &&
             at(k + 1)->glued && small_number(*at(k + 1));
    };
    if (w.size() == 4 && letter_slot(i + 1) && next->text == "P" && letter_slot(i + 3)) {
      // "DIMM_P0_A0": the processor first, then the channel's letter and slot.
      if (!r.socket) r.socket = small_number(*at(i + 2));
      if (r.how == named::none) {
        r.channel = std::string(at(i + 3)->text);
        r.how = named::letter;
      }
      if (!r.slot) r.slot = small_number(*at(i + 4));
      i += 4;
      continue;
    }
    if (w.size() == 5 || (next != nullptr && single_letter(*next) && at(i + 2) != nullptr &&
                          at(i + 2)->glued && small_number(*at(i + 2)))) {
      // "DIMMA1", "DIMM_B2": the letter is the channel, the number its slot.
      const token* number = w.size() == 5 ? next : at(i + 2);
      if (number == nullptr || !number->glued || !small_number(*number)) continue;
      if (r.how == named::none) {
        r.channel = std::string(w.size() == 5 ? w.substr(4) : next->text);
        r.how = named::letter;
      }
      if (!r.slot) r.slot = small_number(*number);
      i += w.size() == 5 ? 1 : 2;
      continue;
    }
    if (next != nullptr && small_number(*next)) {
      if (!r.slot) r.slot = small_number(*next);
      const token* after = at(i + 2);
      if (after != nullptr && after->glued && single_letter(*after)) r.letter_after_slot = true;
      ++i;
    }
  }
  return r;
}

}  // namespace

opt<position> position_from_locators(const std::string* locator, const std::string* bank) {
  const reading loc = locator != nullptr ? read_locator(*locator) : reading{};
  const reading bnk = bank != nullptr ? read_locator(*bank) : reading{};
  // The string that names the channel most plainly speaks for the position;
  // the other may add the slot ("P0 CHANNEL B" beside "DIMM 1").
  const bool bank_first = bnk.how != named::none && (loc.how == named::none || bnk.how < loc.how);
  const reading& main = bank_first ? bnk : loc;
  const reading& other = bank_first ? loc : bnk;
  if (!main.any()) return std::nullopt;
  position p;
  p.socket = main.socket;
  p.controller = main.controller;
  p.channel = main.channel;
  p.slot = main.slot;
  p.source = bank_first ? "bank_locator" : "locator";
  p.letter_channel = main.how == named::letter;
  p.bank_channel = bank_first;
  // The other string's slot counts where it names no channel or the same one
  // ("ONBOARD DIMM_A2" beside "Channel A").
  if (p.channel && !p.slot && other.slot &&
      (other.how == named::none || other.channel == p.channel)) {
    p.slot = other.slot;
    p.source = "locator_and_bank_locator";
  }
  // A letter after the slot number makes the string's letters a maker's
  // order of population, not channels.
  if (main.letter_after_slot || other.letter_after_slot) p.channel.reset();
  if (!p.socket && !p.controller && !p.channel) return std::nullopt;
  return p;
}

namespace {

const std::string* raw_of(const opt<text_field>& f) {
  return f && f->raw && !f->placeholder ? &*f->raw : nullptr;
}

// Letters that hold more slots than a channel takes (Dell's "A1".."A12")
// name processors: then no letter in the table names a channel.
constexpr unsigned kMostSlotsPerChannel = 3;

bool letters_name_channels(const document& doc) {
  std::map<channel_id, unsigned> count;
  for (const memory_device& d : doc.devices) {
    if (!d.system_memory || !d.where || !d.where->channel || !d.where->letter_channel) continue;
    if (d.where->slot && *d.where->slot > kMostSlotsPerChannel) return false;
    if (++count[channel_of(d)] > kMostSlotsPerChannel) return false;
  }
  return true;
}

// A type 20 interleave position, when every filled-in one for the device
// agrees; 0 and 0xFF say nothing.
opt<unsigned> interleave_of(const document& doc, uint16_t handle) {
  opt<unsigned> found;
  for (const mapped_address& m : doc.mapped) {
    if (m.type != 20 || m.device_handle != handle) continue;
    if (!m.interleave_position || !m.interleaved_data_depth) continue;
    const unsigned pos = *m.interleave_position, depth = *m.interleaved_data_depth;
    if (pos == 0 || pos == 0xFF || depth == 0 || depth == 0xFF) continue;
    if (found && *found != pos) return std::nullopt;
    found = pos;
  }
  return found;
}

}  // namespace

channel_id channel_of(const memory_device& d) {
  return {d.array_handle ? opt<unsigned>(*d.array_handle) : std::nullopt, d.where->socket,
          d.where->controller, *d.where->channel};
}

void position_rules(document* doc) {
  std::vector<memory_device>& devices = doc->devices;
  for (memory_device& d : devices)
    if (d.system_memory)
      d.where = position_from_locators(raw_of(d.locator), raw_of(d.bank_locator));
  if (!letters_name_channels(*doc)) {
    for (memory_device& d : devices)
      if (d.where && d.where->letter_channel) d.where->channel.reset();
  }
  // Two devices of one pair of locators, or of one told place, cannot both
  // be there: neither place is told.
  // The names are views of the devices' own strings: no copy per device.
  std::map<std::pair<std::string_view, std::string_view>, unsigned> names;
  std::map<std::pair<channel_id, opt<unsigned>>, unsigned> places;
  const auto name_of = [](const memory_device& d) {
    const auto raw = [](const opt<text_field>& f) {
      return f && f->raw ? std::string_view(*f->raw) : std::string_view();
    };
    return std::make_pair(raw(d.locator), raw(d.bank_locator));
  };
  const auto place_of = [](const memory_device& d) {
    return std::make_pair(channel_of(d), d.where->slot);
  };
  for (const memory_device& d : devices) {
    if (!d.system_memory) continue;
    ++names[name_of(d)];
    if (d.where && d.where->channel) ++places[place_of(d)];
  }
  for (memory_device& d : devices) {
    if (!d.system_memory || !d.where || !d.where->channel) continue;
    if (names[name_of(d)] > 1 || places[place_of(d)] > 1) d.where->channel.reset();
  }
  for (memory_device& d : devices) {
    if (d.where && !d.where->socket && !d.where->controller && !d.where->channel) d.where.reset();
    // An empty slot maps no addresses: a type 20 structure some firmware
    // writes for one anyway (a 1 KiB range) places nothing.
    if (!d.system_memory || !d.populated || (d.where && d.where->channel)) continue;
    const opt<unsigned> pos = interleave_of(*doc, d.handle);
    if (!pos) continue;
    position p;
    p.channel = std::to_string(*pos);
    p.source = "memory_device_mapped_address";
    d.where = p;
  }
}

std::string channel_label(const opt<position>& p) {
  if (!p || !p->channel) return "";
  // An interleave position numbers no channel a board names.
  if (std::string(p->source) == "memory_device_mapped_address") return "interleave " + *p->channel;
  std::string out;
  if (p->socket) out += "S" + std::to_string(*p->socket) + "/";
  if (p->controller) out += "MC" + std::to_string(*p->controller) + "/";
  return out + *p->channel;
}

}  // namespace raminfo_detail
