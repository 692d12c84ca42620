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

class parser {
 public:
  parser(const std::string& text, json_keep keep) : s_(text), keep_(keep) {
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
      if (pos_ != s_.size()) ok = fail("text after the document");
    }
    if (!ok) *error = why_ + " at byte " + std::to_string(pos_);
    return ok;
  }

 private:
  bool fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }

  // The text ends in a NUL (std::string's terminator), which is neither
  // white space nor a byte a string runs on: the scans below stop there
  // without a bounds test per byte.
  void skip_space() {
    const char* p = s_.c_str() + pos_;
    for (;;) {
      // Indentation comes in runs of spaces.
      while (*p == ' ') ++p;
      if (*p != '\n' && *p != '\t' && *p != '\r') break;
      ++p;
    }
    pos_ = static_cast<size_t>(p - s_.c_str());
  }

  template <size_t N>
  bool literal(const char (&word)[N]) {
    constexpr size_t n = N - 1;
    if (s_.size() - pos_ < n || std::memcmp(s_.data() + pos_, word, n) != 0)
      return fail("unknown word");
    pos_ += n;
    return true;
  }

  // Reads one value into out; out null: reads and checks it all the same,
  // keeping nothing.
  bool value(json_value* out, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (pos_ >= s_.size()) return fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      if (out == nullptr) return string(&scratch_);
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

  bool number(json_value* out) {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const size_t digits = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    if (pos_ == digits) return fail("not a value");
    const size_t digits_end = pos_;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      const size_t fraction = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      if (pos_ == fraction) return fail("malformed number");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      const size_t exponent = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      if (pos_ == exponent) return fail("malformed number");
    }
    if (out == nullptr) return true;
    out->type = json_value::kind::number;
    // A whole number of up to 15 digits is exact in a double, as strtod
    // would give it; anything else goes to strtod.
    const bool negative = s_[start] == '-';
    if (pos_ == digits_end && pos_ - digits <= 15) {
      uint64_t whole = 0;
      for (size_t i = digits; i < pos_; ++i)
        whole = whole * 10 + static_cast<uint64_t>(s_[i] - '0');
      out->number = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
      return true;
    }
    out->number = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
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
    if (pos_ + 4 > s_.size()) return fail("short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
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

  bool string(std::string* out) {
    ++pos_;  // the opening quote
    out->clear();
    while (pos_ < s_.size()) {
      // A run of bytes that stand for themselves, appended at once.
      const char* const start = s_.c_str() + pos_;
      const char* run = start;
      while (kStringByte.is[static_cast<unsigned char>(*run)]) ++run;
      out->append(start, static_cast<size_t>(run - start));
      pos_ += static_cast<size_t>(run - start);
      if (pos_ >= s_.size()) break;
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= s_.size()) break;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/': *out += e; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!hex4(&cp)) return false;
          // A surrogate pair makes one code point; a lone half is kept as is.
          if (cp >= 0xD800 && cp <= 0xDBFF && s_.compare(pos_, 2, "\\u") == 0) {
            const size_t back = pos_;
            pos_ += 2;
            uint32_t low = 0;
            if (!hex4(&low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF)
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            else
              pos_ = back;
          }
          put_utf8(cp, out);
          break;
        }
        default: return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }

  bool array(json_value* out, int depth) {
    ++pos_;
    if (out != nullptr) out->type = json_value::kind::array;
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      skip_space();
      json_value* item = nullptr;
      if (out != nullptr) item = &out->items.emplace_back();
      if (!value(item, depth + 1)) return false;
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      return fail("expected ',' or ']'");
    }
  }

  // A hash of a name from its length and its first and last eight bytes:
  // enough to tell apart the names of one object, whose bytes are compared
  // only when two hashes agree.
  static uint64_t name_hash(const std::string& name) {
    const size_t n = name.size();
    uint64_t a = 0, b = 0;
    if (n >= 8) {
      std::memcpy(&a, name.data(), 8);
      std::memcpy(&b, name.data() + n - 8, 8);
    } else {
      std::memcpy(&a, name.data(), n);
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

  // True when keys[count] is one of the count names before it in the object
  // read at depth; records it otherwise.
  bool seen_before(const std::vector<std::string>& keys, size_t count, int depth, uint64_t stamp) {
    std::vector<name_slot>& slots = names_[static_cast<size_t>(depth)];
    const std::string& key = keys[count];
    const uint64_t h = name_hash(key);
    for (size_t i = h % kSlots;; i = (i + 1) % kSlots) {
      name_slot& s = slots[i];
      if (s.stamp != stamp) {
        s = name_slot{stamp, h, count};
        return false;
      }
      if (s.hash == h && keys[s.member] == key) return true;
    }
  }

  bool object(json_value* out, int depth) {
    ++pos_;
    if (out != nullptr) out->type = json_value::kind::object;
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    // The names of this object, kept or not: only one object at a time is
    // being read at each depth.
    if (keys_.size() <= static_cast<size_t>(depth)) {
      keys_.resize(static_cast<size_t>(depth) + 1);
      names_.resize(static_cast<size_t>(depth) + 1, std::vector<name_slot>(kSlots));
    }
    std::vector<std::string>& keys = keys_[static_cast<size_t>(depth)];
    size_t count = 0;
    // Past a few dozen members a set takes over from the slots, so that a
    // hostile object costs no time squared.
    std::set<std::string> seen;
    const uint64_t stamp = ++stamps_;
    if (out != nullptr) out->members.reserve(8);
    for (;;) {
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a member name");
      if (count == keys.size()) keys.emplace_back();
      std::string& key = keys[count];
      if (!string(&key)) return false;
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != ':') return fail("expected ':'");
      // Which of two values would count is anyone's guess; refuse both.
      if (count < kLookAlong) {
        if (seen_before(keys, count, depth, stamp)) return fail("a member given twice");
      } else {
        if (seen.empty())
          seen.insert(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(count));
        if (!seen.insert(key).second) return fail("a member given twice");
      }
      ++count;
      ++pos_;
      skip_space();
      json_value* member = nullptr;
      if (out != nullptr && (keep_ == nullptr || keep_(key))) {
        out->members.emplace_back(key, json_value());
        member = &out->members.back().second;
      }
      if (!value(member, depth + 1)) return false;
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      return fail("expected ',' or '}'");
    }
  }

  const std::string& s_;
  json_keep keep_;
  std::string scratch_;                         // a string value not kept
  std::vector<std::vector<std::string>> keys_;  // by depth
  std::vector<std::vector<name_slot>> names_;   // by depth
  uint64_t stamps_ = 0;
  size_t pos_ = 0;
  size_t values_ = 0;
  std::string why_;
};

}  // namespace

const json_value* json_value::find(const char* key) const {
  if (type != kind::object) return nullptr;
  const size_t n = std::strlen(key);
  for (const auto& m : members)
    if (m.first.size() == n && std::memcmp(m.first.data(), key, n) == 0) return &m.second;
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

bool parse_json(const std::string& text, json_value* out, std::string* error, json_keep keep) {
  *out = json_value();
  return parser(text, keep).document(out, error);
}
