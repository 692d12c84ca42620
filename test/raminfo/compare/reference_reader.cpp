#include "reference_reader.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "detail/detail.h"
#include "text/text.h"

namespace {

struct node {
  enum class kind { null, boolean, number, string, array, object } type = kind::null;
  size_t at = 0;  // where its text starts
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<node> items;
  std::map<std::string, node> members;

  const node* find(const std::string& key) const {
    if (type != kind::object) return nullptr;
    const auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
  }
  std::string text_or(const std::string& key, const std::string& fallback) const {
    const node* v = find(key);
    return v != nullptr && v->type == kind::string ? v->text : fallback;
  }
};

constexpr int kMaxDepth = 64;
constexpr size_t kMaxValues = 200000;

class parser {
 public:
  parser(const std::string& text, size_t from) : s_(text), pos_(from) {}

  bool document(node* out, std::string* error) {
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
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool literal(const std::string& word) {
    if (s_.compare(pos_, word.size(), word) != 0) return fail("unknown word");
    pos_ += word.size();
    return true;
  }

  bool value(node* out, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (++values_ > kMaxValues) return fail("too many values");
    if (pos_ >= s_.size()) return fail("unexpected end");
    out->at = pos_;
    const char c = s_[pos_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      out->type = node::kind::string;
      return string(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->type = node::kind::boolean;
      out->boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    return number(out);
  }

  bool digits() {
    const size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ != start;
  }

  bool number(node* out) {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const size_t first = pos_;
    if (!digits()) return fail("not a value");
    if (s_[first] == '0' && pos_ - first > 1) {
      pos_ = first + 1;
      return fail("malformed number");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return fail("malformed number");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return fail("malformed number");
    }
    out->type = node::kind::number;
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
    ++pos_;
    out->clear();
    while (pos_ < s_.size()) {
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

  bool array(node* out, int depth) {
    ++pos_;
    out->type = node::kind::array;
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

  bool object(node* out, int depth) {
    ++pos_;
    out->type = node::kind::object;
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    for (;;) {
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a member name");
      std::string key;
      if (!string(&key)) return false;
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != ':') return fail("expected ':'");
      if (out->members.count(key) != 0) return fail("a member given twice");
      ++pos_;
      skip_space();
      if (!value(&out->members[key], depth + 1)) return false;
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
  size_t pos_;
  size_t values_ = 0;
  std::string why_;
};

// The types raminfo writes for each member the comparison reads, by where
// the member is; the first value of another type in the text is refused.
enum types : int { kString = 1, kNumber = 2, kBoolean = 4, kNull = 8, kObject = 16 };

int type_bit(const node& v) {
  switch (v.type) {
    case node::kind::string: return kString;
    case node::kind::number: return kNumber;
    case node::kind::boolean: return kBoolean;
    case node::kind::null: return kNull;
    case node::kind::object: return kObject;
    default: return 32;
  }
}

std::string words(int types) {
  switch (types) {
    case kString: return "a string";
    case kNumber: return "a number";
    case kBoolean: return "true or false";
    case kNull: return "null";
    case kObject: return "an object";
    case 32: return "an array";
    case kObject | kNull: return "an object or null";
    case kNumber | kNull: return "a number or null";
    case kString | kNull: return "a string or null";
    default: return "a value";
  }
}

struct type_check {
  size_t at = std::string::npos;
  std::string error;

  void member(const node& object, const std::string& name, int types) {
    const node* v = object.find(name);
    if (v == nullptr || (type_bit(*v) & types) != 0 || v->at >= at) return;
    at = v->at;
    error = "\"" + name + "\" at byte " + std::to_string(v->at) + " is " + words(type_bit(*v)) +
            ", not " + words(types);
  }
};

std::string first_type_error(const node& doc) {
  type_check c;
  c.member(doc, "schema", kString);
  c.member(doc, "readable", kBoolean);
  c.member(doc, "total_mb", kNumber);
  if (const node* devices = doc.find("devices"); devices && devices->type == node::kind::array) {
    for (const node& d : devices->items) {
      for (const char* n : {"locator", "bank_locator", "manufacturer", "part_number",
                            "serial_number", "memory_type", "form_factor", "vendor"}) {
        c.member(d, n, kObject | kNull);
        if (const node* field = d.find(n)) {
          const bool text = std::string(n) != "memory_type" && std::string(n) != "form_factor" &&
                            std::string(n) != "vendor";
          c.member(*field, text ? "raw" : "name", kString | kNull);
        }
      }
      for (const char* n :
           {"size_bytes", "speed_mts", "configured_speed_mts", "configured_voltage_mv", "rank"})
        c.member(d, n, kNumber | kNull);
      for (const char* n : {"populated", "system_memory"}) c.member(d, n, kBoolean);
    }
  }
  if (const node* slots = doc.find("slots"); slots && slots->type == node::kind::array) {
    for (const node& sl : slots->items) {
      for (const char* n : {"slot", "type", "manufacturer", "part_number", "serial", "form_factor"})
        c.member(sl, n, kString);
      for (const char* n : {"size_mb", "speed_mts", "configured_speed_mts", "voltage_mv"})
        c.member(sl, n, kNumber);
    }
  }
  return c.error;
}

int64_t whole(const node* v) {
  if (v == nullptr || v->type != node::kind::number) return -1;
  const double n = v->number;
  if (!(n >= 0 && n <= 9007199254740992.0)) return -1;
  return static_cast<int64_t>(n);
}

int64_t known(int64_t v) { return v > 0 ? v : -1; }

bool plain_state(const node& doc, memory_state* out, std::string* error) {
  const node* slots = doc.find("slots");
  if (slots == nullptr || slots->type != node::kind::array || doc.find("total_mb") == nullptr) {
    *error = "not a raminfo report: no \"slots\" list and \"total_mb\"";
    return false;
  }
  for (const node& s : slots->items) {
    if (s.type != node::kind::object || s.find("slot") == nullptr) {
      *error = "not a raminfo report: a slot without \"slot\"";
      return false;
    }
    module_state m;
    m.slot = s.text_or("slot", "");
    const int64_t mb = whole(s.find("size_mb"));
    m.size_bytes = mb > 0 && mb <= INT32_MAX ? static_cast<uint64_t>(mb) << 20 : 0;
    m.type = s.text_or("type", "");
    m.manufacturer = s.text_or("manufacturer", "");
    m.part_number = s.text_or("part_number", "");
    m.serial = s.text_or("serial", "");
    m.form_factor = s.text_or("form_factor", "");
    m.speed_mts = known(whole(s.find("speed_mts")));
    m.configured_speed_mts = known(whole(s.find("configured_speed_mts")));
    m.voltage_mv = known(whole(s.find("voltage_mv")));
    out->modules.push_back(m);
  }
  return true;
}

std::string detail_text(const node* field) {
  std::string raw = field != nullptr ? field->text_or("raw", "") : "";
  while (!raw.empty() && raw.back() == ' ') raw.pop_back();
  return raw;
}

std::string detail_name(const node* field) {
  return field != nullptr ? field->text_or("name", "") : "";
}

bool detail_state(const node& doc, memory_state* out, std::string* error) {
  const node* devices = doc.find("devices");
  if (devices == nullptr || devices->type != node::kind::array) {
    *error = "not a raminfo detail document: no \"devices\" list";
    return false;
  }
  const node* readable = doc.find("readable");
  if (readable != nullptr && readable->type == node::kind::boolean && !readable->boolean) {
    *error = "saved when the table could not be read (\"readable\": false)";
    return false;
  }
  out->detail = true;
  for (const node& d : devices->items) {
    const node* locator = d.find("locator");
    if (locator == nullptr) {
      *error = "not a raminfo detail document: a device without \"locator\"";
      return false;
    }
    module_state m;
    m.slot = detail_text(locator);
    const node* populated = d.find("populated");
    const int64_t bytes = whole(d.find("size_bytes"));
    if (populated != nullptr && populated->boolean && bytes > 0)
      m.size_bytes = static_cast<uint64_t>(bytes);
    m.type = detail_name(d.find("memory_type"));
    m.form_factor = detail_name(d.find("form_factor"));
    m.manufacturer = detail_text(d.find("manufacturer"));
    m.part_number = detail_text(d.find("part_number"));
    m.serial = detail_text(d.find("serial_number"));
    m.bank_locator = detail_text(d.find("bank_locator"));
    if (const node* vendor = d.find("vendor")) m.vendor = vendor->text_or("name", "");
    m.speed_mts = known(whole(d.find("speed_mts")));
    m.configured_speed_mts = known(whole(d.find("configured_speed_mts")));
    m.voltage_mv = known(whole(d.find("configured_voltage_mv")));
    m.rank = known(whole(d.find("rank")));
    const node* system = d.find("system_memory");
    m.system_memory = system == nullptr || system->boolean;
    out->modules.push_back(m);
  }
  return true;
}

}  // namespace

bool reference_state_from_text(const std::string& text, memory_state* out, std::string* error) {
  *out = memory_state();
  const size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  node doc;
  if (!parser(text, bom).document(&doc, error)) {
    *error = "not JSON: " + *error;
    return false;
  }
  if (doc.type != node::kind::object) {
    *error = "not a raminfo report: the document is no JSON object";
    return false;
  }
  if (const std::string wrong = first_type_error(doc); !wrong.empty()) {
    *error = wrong;
    return false;
  }
  const bool ok = doc.find("schema") != nullptr ? [&] {
    const std::string schema = doc.text_or("schema", "?");
    if (schema != raminfo_detail::kSchema) {
      *error = "a document of schema \"" + printable_text(schema) + "\", where this raminfo reads \"" +
               raminfo_detail::kSchema + "\"";
      return false;
    }
    return detail_state(doc, out, error);
  }()
                                                : plain_state(doc, out, error);
  if (!ok) return false;
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ' ||
                     text[end - 1] == '\t'))
    --end;
  out->text_bytes = end - bom;
  return true;
}
