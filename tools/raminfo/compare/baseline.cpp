// Reading a saved baseline (a raminfo report or --detail document) in one
// pass over its text. The JSON is checked throughout (nesting, value count,
// strings and escapes, numbers, a member name given twice), and only the
// fields the comparison looks at are taken, straight into the state: no tree
// of the document is built.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "compare/compare.h"
#include "detail/detail.h"
#include "text/text.h"

namespace {

constexpr int kMaxDepth = 64;
// A detail document of 128 devices holds about 10,000 values; this keeps the
// time a hostile baseline costs small.
constexpr size_t kMaxValues = 200000;

// Bytes a string runs on: all but the quote, the backslash and the control
// bytes (NUL among them).
struct string_bytes {
  bool is[256] = {};
  constexpr string_bytes() {
    for (int c = 0x20; c < 256; ++c) is[c] = c != '"' && c != '\\';
  }
};
constexpr string_bytes kStringByte;

// Eight bytes at a time where a flag in a word tells the byte at the lowest
// address that carries it: little-endian machines with the GCC builtins (all
// that raminfo is built for). Elsewhere the scans go byte by byte.
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordScan = true;
inline size_t first_flagged(uint64_t flags) {
  return static_cast<size_t>(__builtin_ctzll(flags)) >> 3;
}
#else
constexpr bool kWordScan = false;
inline size_t first_flagged(uint64_t) { return 0; }
#endif

// The reading of an ignored value goes inline into the loops over members
// and items, although it leads back into them for a nested object or array.
#if defined(__GNUC__)
#define RAMINFO_INLINE inline __attribute__((always_inline))
#else
#define RAMINFO_INLINE inline
#endif

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;

inline uint64_t load8(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  return x;
}

// The high bit of every byte of x that a string does not simply run on: a
// control byte, the quote, the backslash, and (to be looked at alone) a byte
// of 0x80 or above. A borrow only ever runs up from a flagged byte, so the
// lowest flag is exact.
inline uint64_t string_stops(uint64_t x) {
  const uint64_t quote = x ^ (kOnes * '"'), backslash = x ^ (kOnes * '\\');
  return ((x - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes) | x) & kHighBits;
}

// The first byte from p on that does not stand for itself in a string, or
// end. Whole words are read only while eight bytes are left.
const char* plain_run(const char* p, const char* end) {
  for (;;) {
    if (kWordScan) {
      while (end - p >= 8) {
        const uint64_t stops = string_stops(load8(p));
        if (stops != 0) {
          p += first_flagged(stops);
          break;
        }
        p += 8;
      }
    }
    if (end - p >= 8 && kWordScan) {
      // A byte of 0x80 or above stands for itself too: pass it and go on.
      if (static_cast<unsigned char>(*p) < 0x80) return p;
      ++p;
      continue;
    }
    while (p < end && kStringByte.is[static_cast<unsigned char>(*p)]) ++p;
    return p;
  }
}

inline bool digit(char c) { return c >= '0' && c <= '9'; }

// The values whose members or items mean something to the comparison; any
// other value is read and checked the same way, and nothing of it kept.
enum class kind : uint8_t {
  other,
  document,     // the document itself
  device_list,  // a detail document's "devices"
  device,
  slot_list,  // a plain report's "slots"
  slot,
  with_raw,   // a firmware string: its "raw" text is kept
  with_name,  // a code with its name: its "name" is kept
};

// What a member is to the comparison, found from its name and the kind of
// the object it is in.
enum class role : uint8_t {
  skip,
  schema,
  readable,
  devices,
  slots,
  total_mb,
  // A device's, the first five objects with "raw", the next three with "name".
  locator,
  bank_locator,
  manufacturer,
  part_number,
  serial_number,
  memory_type,
  form_factor,
  vendor,
  size_bytes,
  speed_mts,
  configured_speed_mts,
  configured_voltage_mv,
  rank,
  populated,
  system_memory,
  // A plain report slot's.
  slot_name,
  slot_size_mb,
  slot_type,
  slot_manufacturer,
  slot_part_number,
  slot_serial,
  slot_form_factor,
  slot_speed_mts,
  slot_configured_speed_mts,
  slot_voltage_mv,
  // Inside a firmware string or a code.
  raw,
  name,
};

struct role_name {
  const char* name;
  role r;
};

constexpr role_name kDocumentRoles[] = {{"schema", role::schema},
                                        {"readable", role::readable},
                                        {"devices", role::devices},
                                        {"slots", role::slots},
                                        {"total_mb", role::total_mb}};
constexpr role_name kDeviceRoles[] = {{"locator", role::locator},
                                      {"bank_locator", role::bank_locator},
                                      {"manufacturer", role::manufacturer},
                                      {"part_number", role::part_number},
                                      {"serial_number", role::serial_number},
                                      {"memory_type", role::memory_type},
                                      {"form_factor", role::form_factor},
                                      {"vendor", role::vendor},
                                      {"size_bytes", role::size_bytes},
                                      {"speed_mts", role::speed_mts},
                                      {"configured_speed_mts", role::configured_speed_mts},
                                      {"configured_voltage_mv", role::configured_voltage_mv},
                                      {"rank", role::rank},
                                      {"populated", role::populated},
                                      {"system_memory", role::system_memory}};
constexpr role_name kSlotRoles[] = {{"slot", role::slot_name},
                                    {"size_mb", role::slot_size_mb},
                                    {"type", role::slot_type},
                                    {"manufacturer", role::slot_manufacturer},
                                    {"part_number", role::slot_part_number},
                                    {"serial", role::slot_serial},
                                    {"form_factor", role::slot_form_factor},
                                    {"speed_mts", role::slot_speed_mts},
                                    {"configured_speed_mts", role::slot_configured_speed_mts},
                                    {"voltage_mv", role::slot_voltage_mv}};
constexpr role_name kRawRoles[] = {{"raw", role::raw}};
constexpr role_name kNameRoles[] = {{"name", role::name}};

template <size_t N>
role find_role(const role_name (&roles)[N], const char* name, size_t size) {
  for (const role_name& r : roles)
    if (std::strlen(r.name) == size && std::memcmp(r.name, name, size) == 0) return r.r;
  return role::skip;
}

role role_of(kind k, const char* name, size_t size) {
  switch (k) {
    case kind::document: return find_role(kDocumentRoles, name, size);
    case kind::device: return find_role(kDeviceRoles, name, size);
    case kind::slot: return find_role(kSlotRoles, name, size);
    case kind::with_raw: return find_role(kRawRoles, name, size);
    case kind::with_name: return find_role(kNameRoles, name, size);
    default: return role::skip;
  }
}

// The JSON types of a value, as bits of a set.
enum json_type : uint8_t {
  kString = 1,
  kNumber = 2,
  kBoolean = 4,
  kNull = 8,
  kObject = 16,
  kArray = 32,
  kAnyType = 63,
};

// The type of the value whose text starts with c; a byte that starts no
// value is taken for a number, which its reading then refuses.
json_type type_at(char c) {
  switch (c) {
    case '"': return kString;
    case 't':
    case 'f': return kBoolean;
    case 'n': return kNull;
    case '{': return kObject;
    case '[': return kArray;
    default: return kNumber;
  }
}

// The types a member's value may have where raminfo writes it. Any other is
// refused rather than read as absent: a baseline edited by hand ("slot": 7,
// "total_mb": "x") must not be compared as an inventory it does not say.
uint8_t value_types(role r) {
  switch (r) {
    case role::schema:
    case role::slot_name:
    case role::slot_type:
    case role::slot_manufacturer:
    case role::slot_part_number:
    case role::slot_serial:
    case role::slot_form_factor: return kString;
    case role::readable:
    case role::populated:
    case role::system_memory: return kBoolean;
    case role::total_mb:
    case role::slot_size_mb:
    case role::slot_speed_mts:
    case role::slot_configured_speed_mts:
    case role::slot_voltage_mv: return kNumber;
    case role::locator:
    case role::bank_locator:
    case role::manufacturer:
    case role::part_number:
    case role::serial_number:
    case role::memory_type:
    case role::form_factor:
    case role::vendor: return kObject | kNull;
    case role::size_bytes:
    case role::speed_mts:
    case role::configured_speed_mts:
    case role::configured_voltage_mv:
    case role::rank: return kNumber | kNull;
    case role::raw:
    case role::name: return kString | kNull;
    default: return kAnyType;
  }
}

// A type or set of types as a message names it.
const char* type_words(uint8_t types) {
  switch (types) {
    case kString: return "a string";
    case kNumber: return "a number";
    case kBoolean: return "true or false";
    case kNull: return "null";
    case kObject: return "an object";
    case kArray: return "an array";
    case kObject | kNull: return "an object or null";
    case kNumber | kNull: return "a number or null";
    case kString | kNull: return "a string or null";
    default: return "a value";
  }
}

// What a scalar value is read into.
enum class scalar : uint8_t { none, text, whole, flag };

// A flag member: absent, false, true, or some other value.
enum flag_value : int8_t { kAbsent = -1, kFalse = 0, kTrue = 1, kOther = 2 };

// A device of a detail document as it is read.
struct device_record {
  module_state m;
  bool is_object = false, has_locator = false;
  int64_t bytes = -1;
  int8_t populated = kAbsent, system_memory = kAbsent;
};

// A slot of a plain report as it is read.
struct slot_record {
  module_state m;
  bool is_object = false, has_slot = false;
  int64_t size_mb = -1;
};

// A value the document writes as 0 when the firmware did not give it.
int64_t known(int64_t v) { return v > 0 ? v : -1; }

// Firmware text as a detail document gives it, without the trailing spaces
// the plain report trims.
void trim_spaces(std::string* text) {
  size_t n = text->size();
  while (n > 0 && (*text)[n - 1] == ' ') --n;
  text->resize(n);
}

// A member name as the reader met it, and how it was led into.
struct name_entry {
  const char* text;  // in the document; nullptr: decoded, at offset in the level's arena
  size_t offset;
  size_t size;
  // The bytes from the end of the last member's value (for the first member,
  // from the opening brace) up to this member's value: white space, the
  // comma, the name and the colon. A member led in by the same bytes, with
  // no white space after them, has the same name.
  const char* lead;
  size_t lead_size;
  // Its role, found for objects of role_kind.
  kind role_kind;
  role r;
};

// The names of an object read whole, in its order, all distinct and none
// with an escape: objects of one kind (a detail document's devices, its
// firmware strings) give the same names in the same order, and an object
// that repeats a shape's names needs no other test that they are distinct.
using shape = std::vector<name_entry>;
constexpr size_t kShapes = 8;
// Up to this many names, a new one is compared with each; past it, a set.
constexpr size_t kLookAlong = 64;

// What the reader keeps for the objects at one depth: only one object at a
// time is read at each.
struct level {
  shape shapes[kShapes];          // most recently used first; empty ones last
  std::vector<name_entry> fresh;  // names past the shape's, in the object being read
  std::string arena;              // names with an escape, decoded
  std::set<std::string> many;     // every name so far of a long object that left its shape
  const char* data(const name_entry& e) const {
    return e.text != nullptr ? e.text : arena.data() + e.offset;
  }
};

class reader {
 public:
  // Offsets in messages count from text; the reading starts from bytes on
  // (past a byte-order mark).
  reader(const char* text, size_t size, size_t from)
      : begin_(text), end_(text + size), p_(text + from) {
    // Room for every depth up front, so that an object holds on to its
    // level while deeper ones are added; each is made when first reached.
    levels_.reserve(kMaxDepth + 2);
  }

  bool document(std::string* error) {
    skip_space();
    bool ok = value(0, kind::document, nullptr, scalar::none);
    if (ok) {
      skip_space();
      if (p_ != end_) ok = fail("text after the document");
    }
    if (!ok) *error = why_ + " at byte " + std::to_string(p_ - begin_);
    return ok;
  }

  // What the document said, once it is read.
  bool is_object = false;
  bool has_schema = false;
  std::string schema = "?";  // "?" unless a string
  int8_t readable = kAbsent;
  bool has_devices = false, devices_listed = false, device_without_locator = false;
  bool has_slots = false, slots_listed = false, slot_without_name = false;
  bool has_total = false;
  std::vector<module_state> devices, slots;
  // The first member, in the order of the text, whose value has a type
  // raminfo never writes there; "" when none has.
  std::string type_error;

 private:
  bool fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }

  // Most calls find no white space at all: one test, inline. The rest is
  // indentation, which comes in runs of spaces read a word at a time.
  void skip_space() {
    if (p_ != end_ && static_cast<unsigned char>(*p_) > ' ') return;
    skip_space_run();
  }

  void skip_space_run() {
    while (p_ != end_) {
      const char c = *p_;
      if (c == ' ') {
        ++p_;
        if (kWordScan && p_ != end_ && *p_ == ' ') {
          while (end_ - p_ >= 8) {
            const uint64_t other = load8(p_) ^ (kOnes * ' ');
            if (other != 0) {
              p_ += first_flagged(other);
              break;
            }
            p_ += 8;
          }
        }
      } else if (c == '\n' || c == '\t' || c == '\r') {
        ++p_;
      } else {
        return;
      }
    }
  }

  // Whether the text at at holds the lead of e and then no white space: what
  // reading those bytes did where e was met, it would do again. A control
  // byte after the lead is refused too (one test for both), and the slower
  // reading finds the same fault at it.
  bool at_lead(const char* at, const name_entry& e) const {
    const size_t n = e.lead_size;
    const char* const lead = e.lead;
    if (static_cast<size_t>(end_ - at) <= n || static_cast<unsigned char>(at[n]) <= ' ')
      return false;
    size_t i = 0;
    if (kWordScan && n >= 8) {
      // Whole words, the last one ending where the lead does.
      for (; i + 8 < n; i += 8)
        if (load8(at + i) != load8(lead + i)) return false;
      return load8(at + n - 8) == load8(lead + n - 8);
    }
    for (; i < n; ++i)
      if (at[i] != lead[i]) return false;
    return true;
  }

  template <size_t N>
  bool literal(const char (&word)[N]) {
    constexpr size_t n = N - 1;
    if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0)
      return fail("unknown word");
    p_ += n;
    return true;
  }

  // Reads one value; what of it is kept depends on k (for an object or an
  // array) and on s (for anything else), into where.
  bool value(int depth, kind k, void* where, scalar s) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (p_ >= end_) return fail("unexpected end");
    switch (*p_) {
      case '{': {
        const bool object_kind = k == kind::document || k == kind::device || k == kind::slot ||
                                 k == kind::with_raw || k == kind::with_name;
        return object(depth, object_kind ? k : kind::other, where);
      }
      case '[': {
        const bool list_kind = k == kind::device_list || k == kind::slot_list;
        return array(depth, list_kind ? k : kind::other);
      }
      case '"': return string(s == scalar::text ? static_cast<std::string*>(where) : nullptr);
      case 't':
        if (s == scalar::flag) *static_cast<int8_t*>(where) = kTrue;
        return literal("true");
      case 'f':
        if (s == scalar::flag) *static_cast<int8_t*>(where) = kFalse;
        return literal("false");
      case 'n': return literal("null");
      default: return number(s == scalar::whole ? static_cast<int64_t*>(where) : nullptr);
    }
  }

  // Reads a value nothing is kept of, as value(depth, kind::other, nullptr,
  // scalar::none) would. Most of a detail document is such values: their
  // scalars are read here, inline where the members are, without the kinds
  // and targets; a string with an escape and a number with more than digits
  // go the longer way, from their first byte.
  RAMINFO_INLINE bool skip(int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (p_ >= end_) return fail("unexpected end");
    const char c = *p_;
    if (digit(c)) {
      const char* q = p_ + 1;
      while (q < end_ && digit(*q)) ++q;
      if ((c != '0' || q - p_ == 1) && (q == end_ || (*q != '.' && *q != 'e' && *q != 'E'))) {
        p_ = q;
        return true;
      }
      return number(nullptr);
    }
    switch (c) {
      case 'n': return literal("null");
      case 't': return literal("true");
      case 'f': return literal("false");
      case '"': {
        const char* const run = plain_run(p_ + 1, end_);
        if (run < end_ && *run == '"') {
          p_ = run + 1;
          return true;
        }
        return string(nullptr);
      }
      case '{': return object(depth, kind::other, nullptr);
      case '[': return array(depth, kind::other);
      default: return number(nullptr);
    }
  }

  // Reads a number; with out, the whole number it gives: -1 when negative,
  // fractional numbers cut to their whole part, -1 above 2^53 (exact in a
  // double, and far above any size in bytes).
  bool number(int64_t* out) {
    const char* const start = p_;
    if (p_ < end_ && *p_ == '-') ++p_;
    const char* const digits = p_;
    while (p_ < end_ && digit(*p_)) ++p_;
    if (p_ == digits) return fail("not a value");
    // JSON has no leading zeros: 04096 is no number (nor octal).
    if (*digits == '0' && p_ - digits > 1) {
      p_ = digits + 1;
      return fail("malformed number");
    }
    const char* const digits_end = p_;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      const char* const fraction = p_;
      while (p_ < end_ && digit(*p_)) ++p_;
      if (p_ == fraction) return fail("malformed number");
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      const char* const exponent = p_;
      while (p_ < end_ && digit(*p_)) ++p_;
      if (p_ == exponent) return fail("malformed number");
    }
    if (out == nullptr) return true;
    const bool negative = *start == '-';
    // Up to 15 digits, exact in a double: no need for strtod.
    if (p_ == digits_end && p_ - digits <= 15) {
      int64_t whole = 0;
      for (const char* d = digits; d < p_; ++d) whole = whole * 10 + (*d - '0');
      *out = negative && whole != 0 ? -1 : whole;  // -0 is 0
      return true;
    }
    const double n = std::strtod(std::string(start, p_).c_str(), nullptr);
    *out = n >= 0 && n <= 9007199254740992.0 ? static_cast<int64_t>(n) : -1;
    return true;
  }

  static void put_utf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out += static_cast<char>(0xC0 | cp >> 6);
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += static_cast<char>(0xE0 | cp >> 12);
      *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | cp >> 18);
      *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool hex4(uint32_t* out) {
    if (end_ - p_ < 4) return fail("short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = *p_++;
      v <<= 4;
      if (h >= '0' && h <= '9')
        v |= static_cast<uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f')
        v |= static_cast<uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        v |= static_cast<uint32_t>(h - 'A' + 10);
      else
        return fail("bad \\u escape");
    }
    *out = v;
    return true;
  }

  // Reads a string from its opening quote, its bytes decoded into out; out
  // null: checks it all the same, keeping nothing.
  bool string(std::string* out) {
    ++p_;  // the opening quote
    if (out != nullptr) out->clear();
    // Escapes of a string not kept are decoded into scratch_, which nobody reads.
    std::string* const sink = out != nullptr ? out : &scratch_;
    scratch_.clear();
    while (p_ < end_) {
      // A run of bytes that stand for themselves, appended at once.
      const char* const run = plain_run(p_, end_);
      if (out != nullptr) out->append(p_, static_cast<size_t>(run - p_));
      p_ = run;
      if (p_ >= end_) break;
      const char c = *p_++;
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        *sink += c;
        continue;
      }
      if (p_ >= end_) break;
      const char e = *p_++;
      switch (e) {
        case '"':
        case '\\':
        case '/': *sink += e; break;
        case 'b': *sink += '\b'; break;
        case 'f': *sink += '\f'; break;
        case 'n': *sink += '\n'; break;
        case 'r': *sink += '\r'; break;
        case 't': *sink += '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!hex4(&cp)) return false;
          // A surrogate pair makes one code point; a lone half is kept as is.
          if (cp >= 0xD800 && cp <= 0xDBFF && end_ - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u') {
            const char* const back = p_;
            p_ += 2;
            uint32_t low = 0;
            if (!hex4(&low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF)
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            else
              p_ = back;
          }
          put_utf8(cp, sink);
          break;
        }
        default: return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }

  bool array(int depth, kind k) {
    ++p_;
    if (k == kind::device_list) devices_listed = true;
    if (k == kind::slot_list) slots_listed = true;
    skip_space();
    if (p_ < end_ && *p_ == ']') return ++p_, true;
    for (;;) {
      skip_space();
      if (k == kind::device_list) {
        device_record d;
        if (!value(depth + 1, kind::device, &d, scalar::none)) return false;
        add_device(&d);
      } else if (k == kind::slot_list) {
        slot_record s;
        if (!value(depth + 1, kind::slot, &s, scalar::none)) return false;
        add_slot(&s);
      } else if (!skip(depth + 1)) {
        return false;
      }
      skip_space();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
        continue;
      }
      if (p_ < end_ && *p_ == ']') return ++p_, true;
      return fail("expected ',' or ']'");
    }
  }

  void add_device(device_record* d) {
    if (!d->is_object || !d->has_locator) {
      device_without_locator = true;
      return;
    }
    module_state& m = d->m;
    for (std::string* text : {&m.slot, &m.bank_locator, &m.manufacturer, &m.part_number, &m.serial})
      trim_spaces(text);
    if (d->populated == kTrue && d->bytes > 0) m.size_bytes = static_cast<uint64_t>(d->bytes);
    // 0 is "unknown" here too, and what a source that lacks the value (udev's
    // rounded voltages) gives.
    m.speed_mts = known(m.speed_mts);
    m.configured_speed_mts = known(m.configured_speed_mts);
    m.voltage_mv = known(m.voltage_mv);
    m.rank = known(m.rank);
    m.system_memory = d->system_memory == kAbsent || d->system_memory == kTrue;
    devices.push_back(std::move(m));
  }

  void add_slot(slot_record* s) {
    if (!s->is_object || !s->has_slot) {
      slot_without_name = true;
      return;
    }
    module_state& m = s->m;
    // size_mb is a 32-bit field; anything larger is no size the report wrote.
    if (s->size_mb > 0 && s->size_mb <= INT32_MAX)
      m.size_bytes = static_cast<uint64_t>(s->size_mb) << 20;
    m.speed_mts = known(m.speed_mts);
    m.configured_speed_mts = known(m.configured_speed_mts);
    m.voltage_mv = known(m.voltage_mv);
    slots.push_back(std::move(m));
  }

  // Where the value of a member with role r, in an object whose record is at
  // where, goes: the kind it is read as, its target, and how a
  // scalar is kept.
  struct target {
    kind k;
    void* where;
    scalar s;
  };

  target member_target(void* where, role r) {
    auto* d = static_cast<device_record*>(where);
    auto* s = static_cast<slot_record*>(where);
    switch (r) {
      case role::skip: break;
      case role::schema: has_schema = true; return {kind::other, &schema, scalar::text};
      case role::readable: readable = kOther; return {kind::other, &readable, scalar::flag};
      case role::devices: has_devices = true; return {kind::device_list, nullptr, scalar::none};
      case role::slots: has_slots = true; return {kind::slot_list, nullptr, scalar::none};
      case role::total_mb: has_total = true; break;
      case role::locator: d->has_locator = true; return {kind::with_raw, &d->m.slot, scalar::none};
      case role::bank_locator: return {kind::with_raw, &d->m.bank_locator, scalar::none};
      case role::manufacturer: return {kind::with_raw, &d->m.manufacturer, scalar::none};
      case role::part_number: return {kind::with_raw, &d->m.part_number, scalar::none};
      case role::serial_number: return {kind::with_raw, &d->m.serial, scalar::none};
      case role::memory_type: return {kind::with_name, &d->m.type, scalar::none};
      case role::form_factor: return {kind::with_name, &d->m.form_factor, scalar::none};
      case role::vendor: return {kind::with_name, &d->m.vendor, scalar::none};
      case role::size_bytes: return {kind::other, &d->bytes, scalar::whole};
      case role::speed_mts: return {kind::other, &d->m.speed_mts, scalar::whole};
      case role::configured_speed_mts:
        return {kind::other, &d->m.configured_speed_mts, scalar::whole};
      case role::configured_voltage_mv: return {kind::other, &d->m.voltage_mv, scalar::whole};
      case role::rank: return {kind::other, &d->m.rank, scalar::whole};
      case role::populated:
        d->populated = kOther;
        return {kind::other, &d->populated, scalar::flag};
      case role::system_memory:
        d->system_memory = kOther;
        return {kind::other, &d->system_memory, scalar::flag};
      case role::slot_name: s->has_slot = true; return {kind::other, &s->m.slot, scalar::text};
      case role::slot_size_mb: return {kind::other, &s->size_mb, scalar::whole};
      case role::slot_type: return {kind::other, &s->m.type, scalar::text};
      case role::slot_manufacturer: return {kind::other, &s->m.manufacturer, scalar::text};
      case role::slot_part_number: return {kind::other, &s->m.part_number, scalar::text};
      case role::slot_serial: return {kind::other, &s->m.serial, scalar::text};
      case role::slot_form_factor: return {kind::other, &s->m.form_factor, scalar::text};
      case role::slot_speed_mts: return {kind::other, &s->m.speed_mts, scalar::whole};
      case role::slot_configured_speed_mts:
        return {kind::other, &s->m.configured_speed_mts, scalar::whole};
      case role::slot_voltage_mv: return {kind::other, &s->m.voltage_mv, scalar::whole};
      case role::raw:
      case role::name: return {kind::other, where, scalar::text};
    }
    return {kind::other, nullptr, scalar::none};
  }

  // Reads a member name from its opening quote into *e: where the text holds
  // it when it has no escape (the common case, nothing copied), decoded into
  // the level's arena otherwise.
  bool name(level* lv, name_entry* e) {
    const char* const start = p_ + 1;
    const char* const run = plain_run(start, end_);
    if (run < end_ && *run == '"') {
      e->text = start;
      e->size = static_cast<size_t>(run - start);
      p_ = run + 1;
      return true;
    }
    if (!string(&decoded_)) return false;
    e->text = nullptr;
    e->offset = lv->arena.size();
    e->size = decoded_.size();
    lv->arena += decoded_;
    return true;
  }

  static bool same_name(const level& lv, const name_entry& a, const name_entry& b) {
    return a.size == b.size && std::memcmp(lv.data(a), lv.data(b), a.size) == 0;
  }

  // True when e, the name of this object's member after the first `kept` of
  // the shape and the fresh ones before it, is one of those names.
  bool seen_before(level* lv, const shape* sh, size_t kept, const name_entry& e) {
    const size_t before = kept + lv->fresh.size() - 1;
    if (before < kLookAlong) {
      for (size_t i = 0; i < kept; ++i)
        if (same_name(*lv, (*sh)[i], e)) return true;
      for (size_t i = 0; i + 1 < lv->fresh.size(); ++i)
        if (same_name(*lv, lv->fresh[i], e)) return true;
      return false;
    }
    // Past a few dozen members a set takes over, so that a hostile object
    // costs no time squared.
    if (lv->many.empty()) {
      for (size_t i = 0; i < kept; ++i) lv->many.emplace(lv->data((*sh)[i]), (*sh)[i].size);
      for (size_t i = 0; i + 1 < lv->fresh.size(); ++i)
        lv->many.emplace(lv->data(lv->fresh[i]), lv->fresh[i].size);
    }
    return !lv->many.emplace(lv->data(e), e.size).second;
  }

  bool object(int depth, kind k, void* where) {
    ++p_;
    if (k == kind::document) is_object = true;
    if (k == kind::device) static_cast<device_record*>(where)->is_object = true;
    if (k == kind::slot) static_cast<slot_record*>(where)->is_object = true;
    if (levels_.size() <= static_cast<size_t>(depth))
      levels_.resize(static_cast<size_t>(depth) + 1);
    level& lv = levels_[static_cast<size_t>(depth)];
    const char* const open = p_;
    // The shape this object starts like: its first member led in by the
    // same bytes.
    // The shapes are kept most recent first, so that objects of two kinds
    // that start alike (a detail document's arrays and devices both start
    // with "handle") each find their own.
    shape* sh = nullptr;
    for (size_t i = 0; i < kShapes && !lv.shapes[i].empty(); ++i) {
      if (at_lead(open, lv.shapes[i][0])) {
        std::rotate(lv.shapes, lv.shapes + i, lv.shapes + i + 1);
        sh = &lv.shapes[0];
        break;
      }
    }
    // While the names repeat the shape's, they are known to be distinct;
    // from the first that differs on (kept), each is checked against the
    // names before it.
    size_t count = 0;
    size_t kept = 0;
    bool repeating = sh != nullptr;
    // The shape does not change while the object is read.
    name_entry* const shape_names = sh != nullptr ? sh->data() : nullptr;
    const size_t shape_size = sh != nullptr ? sh->size() : 0;
    bool escaped = false;
    lv.fresh.clear();
    lv.arena.clear();
    lv.many.clear();
    const char* value_end = open;
    for (;;) {
      name_entry* e = nullptr;
      if (repeating && count < shape_size && at_lead(value_end, shape_names[count])) {
        e = &shape_names[count];
        p_ = value_end + e->lead_size;
      } else {
        p_ = value_end;
        skip_space();
        if (count == 0) {
          if (p_ < end_ && *p_ == '}') return ++p_, true;
        } else if (p_ < end_ && *p_ == ',') {
          ++p_;
          skip_space();
        } else if (p_ < end_ && *p_ == '}') {
          ++p_;
          break;
        } else {
          return fail("expected ',' or '}'");
        }
        if (p_ >= end_ || *p_ != '"') return fail("expected a member name");
        name_entry read{};
        if (!name(&lv, &read)) return false;
        skip_space();
        if (p_ >= end_ || *p_ != ':') return fail("expected ':'");
        if (repeating && count < shape_size && read.text != nullptr &&
            same_name(lv, read, shape_names[count])) {
          e = &shape_names[count];
        } else {
          if (repeating) {
            repeating = false;
            kept = count;
          }
          escaped = escaped || read.text == nullptr;
          read.role_kind = k;
          read.r = role_of(k, lv.data(read), read.size);
          lv.fresh.push_back(read);
          // Which of two values would count is anyone's guess; refuse both.
          if (seen_before(&lv, sh, kept, lv.fresh.back())) return fail("a member given twice");
          e = &lv.fresh.back();
        }
        ++p_;
        // After a member's colon: most often one space.
        if (end_ - p_ >= 2 && p_[0] == ' ' && static_cast<unsigned char>(p_[1]) > ' ')
          ++p_;
        else
          skip_space();
        if (!lv.fresh.empty() && e == &lv.fresh.back()) {
          e->lead = value_end;
          e->lead_size = static_cast<size_t>(p_ - value_end);
        }
      }
      if (e->role_kind != k) {
        e->role_kind = k;
        e->r = role_of(k, lv.data(*e), e->size);
      }
      if (e->r == role::skip) {
        if (!skip(depth + 1)) return false;
      } else {
        const target t = member_target(where, e->r);
        if (p_ < end_ && (type_at(*p_) & value_types(e->r)) == 0) {
          // Read on, keeping nothing of it: a JSON error later in the text
          // is the one to tell.
          if (type_error.empty())
            type_error = "\"" + std::string(lv.data(*e), e->size) + "\" at byte " +
                         std::to_string(p_ - begin_) + " is " + type_words(type_at(*p_)) +
                         ", not " + type_words(value_types(e->r));
          if (!skip(depth + 1)) return false;
        } else if (!value(depth + 1, t.k, t.where, t.s)) {
          return false;
        }
      }
      ++count;
      value_end = p_;
    }
    // A new shape (or a longer one) is kept for the objects to come.
    if (!escaped && !repeating) {
      shape next;
      next.reserve(kept + lv.fresh.size());
      if (sh != nullptr) next.assign(sh->begin(), sh->begin() + static_cast<ptrdiff_t>(kept));
      next.insert(next.end(), lv.fresh.begin(), lv.fresh.end());
      std::rotate(lv.shapes, lv.shapes + kShapes - 1, lv.shapes + kShapes);
      lv.shapes[0] = std::move(next);
    }
    return true;
  }

  const char* const begin_;
  const char* const end_;
  const char* p_;
  std::string scratch_;  // escapes of a string not kept
  std::string decoded_;  // a member name with an escape
  std::vector<level> levels_;
  size_t values_ = 0;
  std::string why_;
};

}  // namespace

bool state_from_text(const std::string& text, memory_state* out, std::string* error) {
  return state_from_text(text.data(), text.size(), out, error);
}

bool state_from_text(const char* text, size_t size, memory_state* out, std::string* error) {
  *out = memory_state();
  // Windows editors (Notepad, PowerShell's Out-File -Encoding utf8) start a
  // UTF-8 file with a byte-order mark, which is no part of the document.
  const size_t bom = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  reader r(text, size, bom);
  if (!r.document(error)) {
    *error = "not JSON: " + *error;
    return false;
  }
  if (!r.is_object) {
    *error = "not a raminfo report: the document is no JSON object";
    return false;
  }
  if (!r.type_error.empty()) {
    *error = r.type_error;
    return false;
  }
  if (r.has_schema) {
    if (r.schema != raminfo_detail::kSchema) {
      *error = "a document of schema \"" + printable_text(r.schema) +
               "\", where this raminfo reads \"" + raminfo_detail::kSchema + "\"";
      return false;
    }
    if (!r.has_devices || !r.devices_listed) {
      *error = "not a raminfo detail document: no \"devices\" list";
      return false;
    }
    if (r.readable == kFalse) {
      *error = "saved when the table could not be read (\"readable\": false)";
      return false;
    }
    if (r.device_without_locator) {
      *error = "not a raminfo detail document: a device without \"locator\"";
      return false;
    }
    out->detail = true;
    out->modules = std::move(r.devices);
  } else {
    if (!r.has_slots || !r.slots_listed || !r.has_total) {
      *error = "not a raminfo report: no \"slots\" list and \"total_mb\"";
      return false;
    }
    if (r.slot_without_name) {
      *error = "not a raminfo report: a slot without \"slot\"";
      return false;
    }
    out->modules = std::move(r.slots);
  }
  size_t end = size;
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ' ||
                     text[end - 1] == '\t'))
    --end;
  out->text_bytes = end - bom;
  return true;
}
