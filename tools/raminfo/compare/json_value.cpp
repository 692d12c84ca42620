#include "compare/json_value.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace {

constexpr int kMaxDepth = 64;
// A detail document of 128 devices holds about 10,000 values; each costs a
// node of a few hundred bytes, so this keeps a hostile baseline small.
constexpr size_t kMaxValues = 200000;

class parser {
 public:
  explicit parser(const std::string& text) : s_(text) {}

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

  void skip_space() {
    // Every byte of white space is at most ' ': one test passes the rest.
    while (pos_ < s_.size() && static_cast<unsigned char>(s_[pos_]) <= ' ' &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool literal(const char* word) {
    if (s_.compare(pos_, std::strlen(word), word) != 0) return fail("unknown word");
    pos_ += std::strlen(word);
    return true;
  }

  bool value(json_value* out, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (pos_ >= s_.size()) return fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      out->type = json_value::kind::string;
      return string(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->type = json_value::kind::boolean;
      out->boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') {
      out->type = json_value::kind::null;
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
      size_t run = pos_;
      while (run < s_.size() && s_[run] != '"' && s_[run] != '\\' &&
             static_cast<unsigned char>(s_[run]) >= 0x20)
        ++run;
      out->append(s_, pos_, run - pos_);
      pos_ = run;
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
    out->type = json_value::kind::array;
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      skip_space();
      out->items.emplace_back();
      if (!value(&out->items.back(), depth + 1)) return false;
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

  // True when key names a member of out already; records it otherwise.
  bool seen_before(const json_value& out, const std::string& key, int depth, uint64_t stamp) {
    if (names_.size() <= static_cast<size_t>(depth))
      names_.resize(static_cast<size_t>(depth) + 1, std::vector<name_slot>(kSlots));
    std::vector<name_slot>& slots = names_[static_cast<size_t>(depth)];
    const uint64_t h = name_hash(key);
    for (size_t i = h % kSlots;; i = (i + 1) % kSlots) {
      name_slot& s = slots[i];
      if (s.stamp != stamp) {
        s = name_slot{stamp, h, out.members.size()};
        return false;
      }
      if (s.hash == h && out.members[s.member].first == key) return true;
    }
  }

  bool object(json_value* out, int depth) {
    ++pos_;
    out->type = json_value::kind::object;
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    // Past a few dozen members a set takes over from the slots, so that a
    // hostile object costs no time squared.
    std::set<std::string> seen;
    const uint64_t stamp = ++stamps_;
    out->members.reserve(8);
    for (;;) {
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a member name");
      std::string key;
      if (!string(&key)) return false;
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != ':') return fail("expected ':'");
      // Which of two values would count is anyone's guess; refuse both.
      if (out->members.size() < kLookAlong) {
        if (seen_before(*out, key, depth, stamp)) return fail("a member given twice");
      } else {
        if (seen.empty())
          for (const auto& m : out->members) seen.insert(m.first);
        if (!seen.insert(key).second) return fail("a member given twice");
      }
      ++pos_;
      skip_space();
      out->members.emplace_back(std::move(key), json_value());
      if (!value(&out->members.back().second, depth + 1)) return false;
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
  std::vector<std::vector<name_slot>> names_;  // by depth
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

bool parse_json(const std::string& text, json_value* out, std::string* error) {
  *out = json_value();
  return parser(text).document(out, error);
}
