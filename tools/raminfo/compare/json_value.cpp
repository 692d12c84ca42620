#include "compare/json_value.h"

#include <cstdlib>
#include <cstring>
#include <set>

json_value::json_value() = default;
json_value::json_value(const json_value&) = default;
json_value::json_value(json_value&&) noexcept = default;
json_value& json_value::operator=(const json_value&) = default;
json_value& json_value::operator=(json_value&&) noexcept = default;
json_value::~json_value() = default;

namespace {

constexpr int kMaxDepth = 64;
// A detail document of 128 devices holds about 10,000 values; each costs a
// node of a few hundred bytes, so this keeps a hostile baseline small.
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

// A member name where the text holds it: no escape in it, or decoded into
// the names' own buffer (arena) when it has one.
struct name_ref {
  const char* text;  // nullptr: at offset in the buffer
  size_t offset, size;
  // Whether the reader keeps the member: -1 until it has been asked.
  signed char keep = -1;
  // The bytes between the last member's value and this one's (the comma,
  // the line break and indentation, the name and the colon); none (0) before
  // the first member.
  const char* lead = nullptr;
  size_t lead_size = 0;
};

class parser {
 public:
  parser(const char* text, size_t size, json_keep keep)
      : begin_(text), end_(text + size), p_(text), keep_(keep) {
    // Room for every depth up front: an object holds on to its depth's
    // entries while deeper ones are added.
    keys_.reserve(kMaxDepth + 2);
    names_.reserve(kMaxDepth + 2);
  }

  bool document(json_value* out, std::string* error) {
    skip_space();
    bool ok = value(out, 0);
    if (ok) {
      skip_space();
      if (p_ != end_) ok = fail("text after the document");
    }
    if (!ok) *error = why_ + " at byte " + std::to_string(p_ - begin_);
    return ok;
  }

 private:
  struct depth_names {
    std::vector<name_ref> refs;
    // The names of the last object read whole at this depth, in its order.
    std::vector<name_ref> last;
    std::string arena;  // the names with an escape, decoded
    // The white space last skipped before a name at this depth (a line break
    // and indentation), its first sixteen bytes as two words.
    uint64_t indent[2] = {0, 0};
    size_t indent_size = 0;
    // How many members the last object kept at this depth: room for as many
    // is made up front.
    size_t kept = 8;
    const char* data(const name_ref& r) const {
      return r.text != nullptr ? r.text : arena.data() + r.offset;
    }
  };

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

  // The white space before a member name: most often a line break and the
  // same indentation as before the last name at this depth, compared in two
  // words. Anything else is skipped as usual and is what is looked for next.
  void skip_indent(depth_names* names) {
    const size_t n = names->indent_size;
    if (kWordScan && n != 0 && end_ - p_ > 16) {
      const uint64_t first = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
      const uint64_t second = n <= 8    ? 0
                              : n == 16 ? ~uint64_t{0}
                                        : (uint64_t{1} << (8 * (n - 8))) - 1;
      if (((load8(p_) ^ names->indent[0]) & first) == 0 &&
          ((load8(p_ + 8) ^ names->indent[1]) & second) == 0 &&
          static_cast<unsigned char>(p_[n]) > ' ') {
        p_ += n;
        return;
      }
    }
    const char* const start = p_;
    skip_space();
    const size_t skipped = static_cast<size_t>(p_ - start);
    if (kWordScan && skipped != 0 && skipped <= 16 && end_ - start > 16) {
      names->indent[0] = load8(start);
      names->indent[1] = load8(start + 8);
      names->indent_size = skipped;
    }
  }

  // After a member's colon: most often one space.
  void skip_after_colon() {
    if (end_ - p_ >= 2 && p_[0] == ' ' && static_cast<unsigned char>(p_[1]) > ' ')
      ++p_;
    else
      skip_space();
  }

  template <size_t N>
  bool literal(const char (&word)[N]) {
    constexpr size_t n = N - 1;
    if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0)
      return fail("unknown word");
    p_ += n;
    return true;
  }

  static bool space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

  // Whether the text at p_ holds the lead of the member ref and then no
  // white space: what reading those bytes did in the last object (past the
  // value's end, the comma and the name, up to the next value) it would do
  // again.
  bool at_lead(const name_ref& ref) const {
    const size_t n = ref.lead_size;
    const char* const lead = ref.lead;
    if (n == 0 || static_cast<size_t>(end_ - p_) <= n || space(p_[n])) return false;
    size_t i = 0;
    if (kWordScan && n >= 8) {
      // Whole words, the last one ending where the lead does.
      for (; i + 8 < n; i += 8)
        if (load8(p_ + i) != load8(lead + i)) return false;
      return load8(p_ + n - 8) == load8(lead + n - 8);
    }
    for (; i < n; ++i)
      if (p_[i] != lead[i]) return false;
    return true;
  }

  // Reads one value into out; out null: reads and checks it all the same,
  // keeping nothing.
  bool value(json_value* out, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (p_ >= end_) return fail("unexpected end");
    const char c = *p_;
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      if (out == nullptr) return string(nullptr);
      out->type = json_value::kind::string;
      return string(&out->text);
    }
    if (c == 't' || c == 'f') {
      if (out != nullptr) {
        out->type = json_value::kind::boolean;
        out->boolean = c == 't';
      }
      return c == 't' ? literal("true") : literal("false");
    }
    if (c == 'n') {
      if (out != nullptr) out->type = json_value::kind::null;
      return literal("null");
    }
    return number(out);
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  bool number(json_value* out) {
    const char* const start = p_;
    if (p_ < end_ && *p_ == '-') ++p_;
    const char* const digits = p_;
    while (p_ < end_ && digit(*p_)) ++p_;
    if (p_ == digits) return fail("not a value");
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
    out->type = json_value::kind::number;
    // A whole number of up to 15 digits is exact in a double, as strtod
    // would give it; anything else goes to strtod.
    const bool negative = *start == '-';
    if (p_ == digits_end && p_ - digits <= 15) {
      uint64_t whole = 0;
      for (const char* d = digits; d < p_; ++d)
        whole = whole * 10 + static_cast<uint64_t>(*d - '0');
      out->number = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
      return true;
    }
    out->number = std::strtod(std::string(start, p_).c_str(), nullptr);
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

  // Reads a member name from its opening quote into *ref: where the text
  // holds it when it has no escape (the common case, nothing copied),
  // decoded into the depth's buffer otherwise.
  bool name(depth_names* names, name_ref* ref) {
    const char* const start = p_ + 1;
    const char* const run = plain_run(start, end_);
    if (run < end_ && *run == '"') {
      *ref = name_ref{start, 0, static_cast<size_t>(run - start), -1, nullptr, 0};
      p_ = run + 1;
      return true;
    }
    if (!string(&decoded_)) return false;
    *ref = name_ref{nullptr, names->arena.size(), decoded_.size(), -1, nullptr, 0};
    names->arena += decoded_;
    return true;
  }

  bool array(json_value* out, int depth) {
    ++p_;
    if (out != nullptr) out->type = json_value::kind::array;
    skip_space();
    if (p_ < end_ && *p_ == ']') return ++p_, true;
    for (;;) {
      skip_space();
      json_value* item = nullptr;
      if (out != nullptr) item = &out->items.emplace_back();
      if (!value(item, depth + 1)) return false;
      skip_space();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
        continue;
      }
      if (p_ < end_ && *p_ == ']') return ++p_, true;
      return fail("expected ',' or ']'");
    }
  }

  // A hash of a name from its length and its first and last eight bytes:
  // enough to tell apart the names of one object, whose bytes are compared
  // only when two hashes agree.
  static uint64_t name_hash(const char* name, size_t n) {
    uint64_t a = 0, b = 0;
    if (n >= 8) {
      std::memcpy(&a, name, 8);
      std::memcpy(&b, name + n - 8, 8);
    } else {
      std::memcpy(&a, name, n);
    }
    uint64_t h = (a ^ (b * 0x9E3779B97F4A7C15u) ^ n) * 0xBF58476D1CE4E5B9u;
    return h ^ (h >> 31);
  }

  // The names of the members of an object being read, at one depth: open
  // addressing over twice as many slots as members are looked up this way.
  // A slot belongs to the object whose stamp it holds, so that nothing is
  // cleared between objects.
  struct name_slot {
    uint64_t stamp = 0, hash = 0;
    size_t member = 0;
  };
  static constexpr size_t kLookAlong = 64;
  static constexpr size_t kSlots = 2 * kLookAlong;

  // True when the name refs[count] is one of the count names before it in
  // the object read at depth; records it otherwise.
  bool seen_before(const depth_names& names, size_t count, int depth, uint64_t stamp) {
    std::vector<name_slot>& slots = names_[static_cast<size_t>(depth)];
    const name_ref& key = names.refs[count];
    const char* const text = names.data(key);
    const uint64_t h = name_hash(text, key.size);
    for (size_t i = h % kSlots;; i = (i + 1) % kSlots) {
      name_slot& s = slots[i];
      if (s.stamp != stamp) {
        s = name_slot{stamp, h, count};
        return false;
      }
      const name_ref& other = names.refs[s.member];
      if (s.hash == h && other.size == key.size &&
          std::memcmp(names.data(other), text, key.size) == 0)
        return true;
    }
  }

  // True when the text at p_ is the quoted name last (which has no escape),
  // up to its closing quote.
  bool at_name(const name_ref& last) const {
    const size_t n = last.size;
    if (last.text == nullptr || static_cast<size_t>(end_ - p_) < n + 2 || p_[n + 1] != '"')
      return false;
    const char* const a = p_ + 1;
    if (kWordScan && n <= 8 && end_ - a >= 8) {
      // Both names lie at least eight bytes before the end (the last one
      // earlier in the text): one word each, the bytes past the name masked.
      const uint64_t mask = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
      return ((load8(a) ^ load8(last.text)) & mask) == 0;
    }
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
      if (load8(a + i) != load8(last.text + i)) return false;
    if (kWordScan && n >= 8) return load8(a + n - 8) == load8(last.text + n - 8);
    for (; i < n; ++i)
      if (a[i] != last.text[i]) return false;
    return true;
  }

  bool object(json_value* out, int depth) {
    ++p_;
    if (out != nullptr) out->type = json_value::kind::object;
    skip_space();
    if (p_ < end_ && *p_ == '}') return ++p_, true;
    // The names of this object, kept or not: only one object at a time is
    // being read at each depth.
    if (keys_.size() <= static_cast<size_t>(depth)) {
      keys_.resize(static_cast<size_t>(depth) + 1);
      names_.resize(static_cast<size_t>(depth) + 1, std::vector<name_slot>(kSlots));
    }
    depth_names& names = keys_[static_cast<size_t>(depth)];
    names.refs.clear();
    names.arena.clear();
    // Past a few dozen members a set takes over from the slots, so that a
    // hostile object costs no time squared.
    std::set<std::string> seen;
    const uint64_t stamp = ++stamps_;
    // Objects of one kind (a detail document's devices) give the same names
    // in the same order. While this one repeats the last object's names, they
    // are known to be distinct and where the text holds them, so neither is
    // looked for again; from the first name that differs on, every name is
    // checked, those before it entered in the slots first.
    bool repeating = true;
    size_t slotted = 0;
    if (out != nullptr) out->members.reserve(names.kept);
    // Where the last member's value ended: the next member's lead starts there.
    const char* value_end = nullptr;
    // Set when the member's lead is passed already, its name entered.
    bool led = false;
    for (;;) {
      const size_t count = led ? names.refs.size() - 1 : names.refs.size();
      if (!led) {
        skip_indent(&names);
        if (p_ >= end_ || *p_ != '"') return fail("expected a member name");
        if (repeating && count < names.last.size() && at_name(names.last[count])) {
          names.refs.push_back(names.last[count]);
          names.refs.back().text = p_ + 1;
          p_ += names.last[count].size + 2;
          skip_space();
          if (p_ >= end_ || *p_ != ':') return fail("expected ':'");
        } else {
          repeating = false;
          names.refs.emplace_back();
          if (!name(&names, &names.refs.back())) return false;
          const name_ref key = names.refs.back();
          skip_space();
          if (p_ >= end_ || *p_ != ':') return fail("expected ':'");
          // Which of two values would count is anyone's guess; refuse both.
          if (count < kLookAlong) {
            for (; slotted < count; ++slotted) seen_before(names, slotted, depth, stamp);
            ++slotted;
            if (seen_before(names, count, depth, stamp)) return fail("a member given twice");
          } else {
            if (seen.empty())
              for (size_t i = 0; i < count; ++i)
                seen.emplace(names.data(names.refs[i]), names.refs[i].size);
            if (!seen.emplace(names.data(key), key.size).second)
              return fail("a member given twice");
          }
        }
        ++p_;
        skip_after_colon();
        if (value_end != nullptr) {
          names.refs[count].lead = value_end;
          names.refs[count].lead_size = static_cast<size_t>(p_ - value_end);
        }
      }
      led = false;
      json_value* member = nullptr;
      if (out != nullptr) {
        name_ref& key = names.refs[count];
        if (key.keep < 0) key.keep = keep_ == nullptr || keep_(names.data(key), key.size);
        if (key.keep != 0) {
          out->members.emplace_back(std::string(names.data(key), key.size), json_value());
          member = &out->members.back().second;
        }
      }
      if (!value(member, depth + 1)) return false;
      value_end = p_;
      // The next member as the last object had it at this place, byte for
      // byte: its name, known to be distinct, and no white space to skip.
      const size_t next = names.refs.size();
      if (repeating && next < names.last.size() && names.last[next].text != nullptr &&
          at_lead(names.last[next])) {
        names.refs.push_back(names.last[next]);
        name_ref& ref = names.refs.back();
        ref.text = p_ + (ref.text - ref.lead);
        ref.lead = p_;
        p_ += ref.lead_size;
        led = true;
        continue;
      }
      skip_space();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
        continue;
      }
      if (p_ < end_ && *p_ == '}') {
        ++p_;
        names.last.swap(names.refs);
        if (out != nullptr) names.kept = out->members.size();
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  const char* const begin_;
  const char* const end_;
  const char* p_;
  json_keep keep_;
  std::string scratch_;                        // escapes of a string not kept
  std::string decoded_;                        // a member name with an escape
  std::vector<depth_names> keys_;              // by depth
  std::vector<std::vector<name_slot>> names_;  // by depth
  uint64_t stamps_ = 0;
  size_t values_ = 0;
  std::string why_;
};

}  // namespace

const json_value* json_value::find(const char* key) const {
  if (type != kind::object) return nullptr;
  const size_t n = std::strlen(key);
  // Names are short: compared here rather than in a call per member.
  for (const auto& m : members) {
    if (m.first.size() != n) continue;
    size_t i = 0;
    while (i < n && m.first[i] == key[i]) ++i;
    if (i == n) return &m.second;
  }
  return nullptr;
}

const json_value* json_value::find(const std::string& key) const {
  if (type != kind::object) return nullptr;
  for (const auto& m : members)
    if (m.first == key) return &m.second;
  return nullptr;
}

std::string json_value::text_or(const char* key, const char* fallback) const {
  const json_value* v = find(key);
  return v != nullptr && v->type == kind::string ? v->text : fallback;
}

std::string json_value::text_or(const std::string& key, const std::string& fallback) const {
  const json_value* v = find(key);
  return v != nullptr && v->type == kind::string ? v->text : fallback;
}

double json_value::number_or(const std::string& key, double fallback) const {
  const json_value* v = find(key);
  return v != nullptr && v->type == kind::number ? v->number : fallback;
}

bool parse_json(const char* text, size_t size, json_value* out, std::string* error,
                json_keep keep) {
  *out = json_value();
  return parser(text, size, keep).document(out, error);
}

bool parse_json(const std::string& text, json_value* out, std::string* error, json_keep keep) {
  return parse_json(text.data(), text.size(), out, error, keep);
}
