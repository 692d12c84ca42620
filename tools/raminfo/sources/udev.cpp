#include "sources/udev.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>

#include "names/names.h"
#include "smbios/block.h"
#include "text/text.h"

namespace {

// The properties of one device, as udev's decoder names them after
// MEMORY_DEVICE_<n>_.
using properties = std::map<std::string, std::string>;

constexpr uint8_t kUnknownCode = 0x02;
constexpr uint16_t kUnknownWord = 0xFFFF;
// Handle "no structure": the rebuilt table has no memory array or error record.
constexpr uint16_t kNoHandle = 0xFFFE;
// The Memory Device layout of SMBIOS 2.8, which ends with Configured Voltage:
// every field udev's decoder reports for the report lies inside it.
constexpr uint8_t kDeviceLength = 0x28;

bool same_text(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y)) return false;
  }
  return true;
}

// The code whose DSP0134 name (as name_of gives it) is name, compared
// without regard to case: udev's decoder spells some names otherwise.
bool find_code(const char* (*name_of)(uint32_t), const std::string& name, uint8_t* code) {
  for (uint32_t c = 1; c <= 0xFF; ++c) {
    const char* candidate = name_of(c);
    if (candidate != nullptr && same_text(name, candidate)) {
      *code = static_cast<uint8_t>(c);
      return true;
    }
  }
  return false;
}

// A decimal number with no sign, spaces or leading '+'; false beyond max.
bool parse_decimal(const std::string& text, uint64_t max, uint64_t* out) {
  // More than 20 digits, leading zeros or not, is no number udev wrote.
  if (text.size() > 20) return false;
  uint64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || v > max) return false;
  *out = v;
  return true;
}

// A voltage as udev's decoder prints it: "%g" of the millivolts / 1000, but
// "%.1g" when the millivolts are a multiple of 100, so 1.2 V reads "1". Only
// a value with a decimal point is exact; 0 (absent) for anything else.
uint16_t exact_millivolts(const std::string& text, bool* approximate) {
  const size_t dot = text.find('.');
  uint64_t whole = 0;
  uint64_t frac = 0;
  const std::string frac_text = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (dot == std::string::npos || frac_text.size() > 3 ||
      !parse_decimal(text.substr(0, dot), 65, &whole) || !parse_decimal(frac_text, 999, &frac)) {
    *approximate = true;
    return 0;
  }
  for (size_t i = frac_text.size(); i < 3; ++i) frac *= 10;
  const uint64_t mv = whole * 1000 + frac;
  if (mv > 0xFFFF) {
    *approximate = true;
    return 0;
  }
  return static_cast<uint16_t>(mv);
}

// Type Detail from the bit names udev joins with spaces ("None" for none).
// Names hold spaces themselves, so each is matched whole at its position.
uint16_t type_detail_bits(const std::string& text) {
  if (same_text(text, "None")) return 0;
  uint16_t bits = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    bool matched = false;
    for (size_t bit = 1; bit <= 15 && !matched; ++bit) {
      const char* name = raminfo_detail::type_detail_names(1u << bit)[0];
      const size_t n = std::strlen(name);
      if (text.size() - pos < n || !same_text(text.substr(pos, n), name)) continue;
      if (pos + n != text.size() && text[pos + n] != ' ') continue;
      bits = static_cast<uint16_t>(bits | (1u << bit));
      pos += n + (pos + n == text.size() ? 0 : 1);
      matched = true;
    }
    if (!matched) return 1u << 2;  // bit 2: Unknown
  }
  return bits;
}

// Entry text quoted in a note: its first 40 bytes, as printable_text shows
// them.
std::string printable(const std::string& s) { return printable_text(s.substr(0, 40)); }

void put16(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  put16(b, off, v);
  put16(b, off + 2, v >> 16);
}

class notes_list {
 public:
  explicit notes_list(std::vector<std::string>* out) : out_(out) {}
  void add(const std::string& note) {
    for (const std::string& n : *out_)
      if (n == note) return;
    out_->push_back(note);
  }

 private:
  std::vector<std::string>* out_;
};

// Size word and Extended Size (DSP0134 7.18.4 and 7.18.5) for a size in
// bytes: KiB with bit 15 set below 1 MiB or off a MiB boundary, MiB up to
// 32766, beyond that 0x7FFF and the MiB in Extended Size.
bool encode_size(uint64_t bytes, uint16_t* word, uint32_t* extended) {
  const uint64_t kib = bytes >> 10;
  *extended = 0;
  if ((kib < 1024 || kib % 1024 != 0) && kib <= 0x7FFF) {
    *word = static_cast<uint16_t>(0x8000 | kib);
    return true;
  }
  const uint64_t mib = kib >> 10;
  if (mib < 0x7FFF) {
    *word = static_cast<uint16_t>(mib);
    return true;
  }
  if (mib > 0x7FFFFFFF) return false;
  *word = 0x7FFF;
  *extended = static_cast<uint32_t>(mib);
  return true;
}

// One Memory Device structure with its string set.
class device_writer {
 public:
  explicit device_writer(uint16_t handle) : formatted_(kDeviceLength, 0) {
    formatted_[0] = 17;
    formatted_[1] = kDeviceLength;
    put16(formatted_, 0x02, handle);
  }

  void word(size_t off, uint32_t v) { put16(formatted_, off, v); }
  void dword(size_t off, uint32_t v) { put32(formatted_, off, v); }
  void byte(size_t off, uint8_t v) { formatted_[off] = v; }

  // Adds a string and stores its number at off; empty text stays number 0.
  void text(size_t off, const std::string& s) {
    if (s.empty()) return;
    strings_.insert(strings_.end(), s.begin(), s.end());
    strings_.push_back(0);
    formatted_[off] = ++string_count_;
  }

  void append_to(std::vector<uint8_t>* table) const {
    table->insert(table->end(), formatted_.begin(), formatted_.end());
    table->insert(table->end(), strings_.begin(), strings_.end());
    if (strings_.empty()) table->push_back(0);
    table->push_back(0);
  }

 private:
  std::vector<uint8_t> formatted_;
  std::vector<uint8_t> strings_;
  uint8_t string_count_ = 0;
};

// systemd writes a code it has no name for as words in angle brackets; such
// a value is no name this tool could map back to a code.
bool peer_has_no_name(const std::string& value) {
  return value.size() >= 2 && value.front() == '<' && value.back() == '>';
}

// A firmware string as udev keeps it: udev's decoder prints "Not Specified"
// for no string and "<BAD INDEX>" for a missing one; both are no string here.
// A NUL cannot be part of an SMBIOS string.
std::string firmware_string(const properties& p, const char* field) {
  const auto it = p.find(field);
  if (it == p.end()) return "";
  std::string s = it->second.substr(0, it->second.find('\0'));
  if (s == "Not Specified" || s == "<BAD INDEX>") return "";
  return s;
}

// One property of a device, or nullptr when udev gave none.
const std::string* property(const properties& p, const char* field) {
  const auto it = p.find(field);
  return it == p.end() ? nullptr : &it->second;
}

// Widths: udev leaves out 0 and 0xFFFF alike, so a missing one is unknown.
void write_widths(const properties& p, device_writer* d) {
  uint64_t n = 0;
  const std::string* total_width = property(p, "TOTAL_WIDTH");
  const std::string* data_width = property(p, "DATA_WIDTH");
  d->word(0x08, total_width && parse_decimal(*total_width, 0xFFFE, &n) ? static_cast<uint32_t>(n)
                                                                       : kUnknownWord);
  d->word(0x0A, data_width && parse_decimal(*data_width, 0xFFFE, &n) ? static_cast<uint32_t>(n)
                                                                     : kUnknownWord);
}

// Size: PRESENT=0 stands for size 0 (no module); no size at all for an
// unknown one (0xFFFF), which udev's decoder leaves out.
void write_size(const properties& p, notes_list* notes, device_writer* d) {
  uint16_t size_word = kUnknownWord;
  uint32_t extended = 0;
  const std::string* present = property(p, "PRESENT");
  const std::string* size = property(p, "SIZE");
  if (present && *present == "0") {
    size_word = 0;
  } else if (size) {
    uint64_t n = 0;
    const bool number = parse_decimal(*size, UINT64_MAX, &n);
    // udev's decoder takes all 32 bits of the Extended Size (DSP0134 7.18.5)
    // as MiB, reserved bit 31 included, so a module of 32 GiB with that bit
    // set arrives as 2^51 bytes more. The firmware path masks the bit; so
    // does this, and the module keeps its size.
    const uint64_t mib = n >> 20;
    if (number && n % (uint64_t{1} << 20) == 0 && mib > 0x7FFFFFFF && mib <= 0xFFFFFFFF)
      n = (mib & 0x7FFFFFFF) << 20;
    if (!number || !encode_size(n, &size_word, &extended)) {
      size_word = kUnknownWord;
      notes->add("sizes that are no byte count (taken as unknown)");
    }
  }
  d->word(0x0C, size_word);
  d->dword(0x1C, extended);
}

// Form factor, device set, memory type and type detail: names mapped back to
// their codes.
void write_codes(const properties& p, notes_list* notes, device_writer* d) {
  uint8_t code = kUnknownCode;
  const std::string* form_factor = property(p, "FORM_FACTOR");
  if (form_factor && !find_code(raminfo_detail::form_factor_full_name, *form_factor, &code)) {
    code = kUnknownCode;
    if (!peer_has_no_name(*form_factor))
      notes->add("form factor '" + printable(*form_factor) + "' (taken as Unknown)");
  }
  d->byte(0x0E, code);

  uint64_t n = 0;
  const std::string* set = property(p, "SET");
  if (set && *set == "Unknown")
    d->byte(0x0F, 0xFF);
  else if (set && parse_decimal(*set, 0xFE, &n))
    d->byte(0x0F, static_cast<uint8_t>(n));

  code = kUnknownCode;
  const std::string* type = property(p, "TYPE");
  if (type && !find_code(raminfo_detail::memory_type_full_name, *type, &code)) {
    code = kUnknownCode;
    if (!peer_has_no_name(*type) && *type != "Reserved")
      notes->add("type '" + printable(*type) + "' (taken as Unknown)");
  }
  d->byte(0x12, code);

  const std::string* detail = property(p, "TYPE_DETAIL");
  d->word(0x13, detail ? type_detail_bits(*detail) : 0);
}

// Speeds, rank and voltages: numbers udev prints, or leaves out when unknown.
void write_electrical(const properties& p, notes_list* notes, device_writer* d) {
  uint64_t n = 0;
  // Speeds: udev prints the 16-bit fields and leaves out 0 (unknown).
  const auto speed = [&](const char* field, size_t off) {
    const std::string* v = property(p, field);
    if (!v) return;
    if (parse_decimal(*v, 0xFFFF, &n))
      d->word(off, static_cast<uint32_t>(n));
    else
      notes->add("speeds that are no number (left out)");
  };
  speed("SPEED_MTS", 0x15);
  speed("CONFIGURED_SPEED_MTS", 0x20);

  const std::string* rank = property(p, "RANK");
  if (rank && parse_decimal(*rank, 15, &n)) d->byte(0x1B, static_cast<uint8_t>(n));

  const auto voltage = [&](const char* field, size_t off) {
    const std::string* v = property(p, field);
    if (!v) return;
    bool approximate = false;
    d->word(off, exact_millivolts(*v, &approximate));
    if (approximate) notes->add("voltages (udev gives whole volts; left out)");
  };
  voltage("MINIMUM_VOLTAGE", 0x22);
  voltage("MAXIMUM_VOLTAGE", 0x24);
  voltage("CONFIGURED_VOLTAGE", 0x26);
}

void rebuild_device(const properties& p, uint16_t handle, notes_list* notes,
                    std::vector<uint8_t>* table) {
  device_writer d(handle);
  d.word(0x04, kNoHandle);
  d.word(0x06, kNoHandle);
  write_widths(p, &d);
  write_size(p, notes, &d);
  write_codes(p, notes, &d);
  write_electrical(p, notes, &d);
  d.text(0x10, firmware_string(p, "LOCATOR"));
  d.text(0x11, firmware_string(p, "BANK_LOCATOR"));
  d.text(0x17, firmware_string(p, "MANUFACTURER"));
  d.text(0x18, firmware_string(p, "SERIAL_NUMBER"));
  d.text(0x19, firmware_string(p, "ASSET_TAG"));
  d.text(0x1A, firmware_string(p, "PART_NUMBER"));
  d.append_to(table);
}

// Splits "MEMORY_DEVICE_<n>_<FIELD>" into n and FIELD.
bool device_key(const std::string& key, uint64_t* index, std::string* field) {
  static const std::string prefix = "MEMORY_DEVICE_";
  if (key.compare(0, prefix.size(), prefix) != 0) return false;
  const size_t underscore = key.find('_', prefix.size());
  if (underscore == std::string::npos || underscore + 1 == key.size()) return false;
  if (!parse_decimal(key.substr(prefix.size(), underscore - prefix.size()), UINT32_MAX, index))
    return false;
  *field = key.substr(underscore + 1);
  return true;
}

}  // namespace

bool udev_entry_to_block(const std::string& entry, udev_rebuild* out) {
  *out = udev_rebuild();
  // Devices by udev's number, which follows table order; numbers of
  // structures too short to decode are skipped by udev and stay unused here.
  std::map<uint64_t, properties> devices;
  uint64_t array_slots = 0;
  bool array_counted = false;
  bool array_located = false;
  size_t pos = 0;
  while (pos < entry.size()) {
    size_t end = entry.find('\n', pos);
    if (end == std::string::npos) end = entry.size();
    // udev writes a property as "E:KEY=VALUE" with the value verbatim, no
    // quoting or escapes; other line kinds (I:, G:, Q:, V:, S:, L:, W:) are
    // not properties.
    const std::string line = entry.substr(pos, end - pos);
    pos = end + 1;
    // An empty value is no property: udev stores none.
    const size_t eq = line.find('=');
    if (line.compare(0, 2, "E:") != 0 || eq == std::string::npos || eq + 1 == line.size()) continue;
    const std::string key = line.substr(2, eq - 2);
    const std::string value = line.substr(eq + 1);
    uint64_t index = 0;
    std::string field;
    if (device_key(key, &index, &field)) {
      devices[index][field] = value;
    } else if (key == "MEMORY_ARRAY_NUM_DEVICES") {
      array_counted = true;
      uint64_t n = 0;
      if (parse_decimal(value, UINT32_MAX, &n)) array_slots = n;
    } else if (key == "MEMORY_ARRAY_LOCATION") {
      array_located = true;
    }
  }
  if (devices.empty()) return false;

  notes_list notes(&out->notes);
  std::vector<uint8_t> table;
  uint16_t handle = 0x1100;
  for (const auto& device : devices) rebuild_device(device.second, handle++, &notes, &table);
  // End-of-table structure (type 127).
  const uint8_t end_of_table[] = {127, 4, 0xFF, 0xFE, 0, 0};
  table.insert(table.end(), end_of_table, end_of_table + sizeof end_of_table);

  // udev keeps only the first 16 KiB of what its decoder prints, so a large
  // machine's entry can end before its last devices. The decoder's device
  // count shows it: systemd 252 prints it after the last device, so a cut
  // entry has the memory array's location (printed first) without it; others
  // print it per array, where a count above the devices found shows the cut.
  out->devices = devices.size();
  const std::string cut = " (udev keeps only the first 16 KiB of its decoder's output)";
  out->incomplete = (array_located && !array_counted) || array_slots > devices.size();
  if (array_located && !array_counted)
    notes.add("devices past the first " + std::to_string(devices.size()) +
              ", as udev's entry ends early" + cut);
  else if (array_slots > devices.size())
    notes.add("devices past the first " + std::to_string(devices.size()) + " of the " +
              std::to_string(array_slots) + " udev counted" + cut);

  // Header: SMBIOS 2.8 (the version of the rebuilt layout), table length.
  out->block.assign(RAW_HEADER_SIZE, 0);
  put_raw_header(out->block.data(), 2, 8, 0, static_cast<uint32_t>(table.size()));
  out->block.insert(out->block.end(), table.begin(), table.end());
  return true;
}
