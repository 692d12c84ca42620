// The detail document as JSON: keys in a fixed order, two-space indentation,
// every string valid UTF-8.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>

#include "detail/detail.h"
#include "text/text.h"

namespace raminfo_detail {

namespace {

// Bytes copied into a string literal as they are: printable ASCII but for
// the quote and the backslash.
struct plain_bytes {
  bool is[256] = {};
  constexpr plain_bytes() {
    for (int c = 0x20; c < 0x7F; ++c) is[c] = c != '"' && c != '\\';
  }
};
constexpr plain_bytes kPlain;

// Copies n bytes with a few loads and stores when n is small, as most keys,
// numbers and firmware strings are; the library's memcpy for the rest.
inline void copy_bytes(char* dst, const char* src, size_t n) {
  if (n > 16 && n <= 32) {
    uint64_t a, b, c, d;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + 8, 8);
    std::memcpy(&c, src + n - 16, 8);
    std::memcpy(&d, src + n - 8, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + 8, &b, 8);
    std::memcpy(dst + n - 16, &c, 8);
    std::memcpy(dst + n - 8, &d, 8);
  } else if (n >= 8 && n <= 16) {
    uint64_t a, b;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 8, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + n - 8, &b, 8);
  } else if (n >= 4 && n < 8) {
    uint32_t a, b;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + n - 4, 4);
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + n - 4, &b, 4);
  } else if (n < 4) {
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  } else {
    std::memcpy(dst, src, n);
  }
}

// The most one input byte can become: "\u00XX".
constexpr size_t kEscapedWidth = 6;

// Writes bytes as a JSON string literal at dst, which has room for
// kEscapedWidth * size + 2 bytes; returns the end of what it wrote, and
// clears *utf8 when some byte was not part of valid UTF-8. A run of plain
// bytes is copied in one go; only the others take a branch of their own.
char* escape_into(char* dst, const char* bytes, size_t size, bool* utf8) {
  static const char hex[] = "0123456789abcdef";
  *dst++ = '"';
  for (size_t i = 0; i < size;) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    uint32_t cp = 0;
    if (kPlain.is[c]) {
      size_t run = i + 1;
      while (run < size && kPlain.is[static_cast<unsigned char>(bytes[run])]) ++run;
      copy_bytes(dst, bytes + i, run - i);
      dst += run - i;
      i = run;
    } else if (c == '"' || c == '\\') {
      *dst++ = '\\';
      *dst++ = static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      std::memcpy(dst, "\\u00", 4);
      dst[4] = hex[c >> 4];
      dst[5] = hex[c & 15];
      dst += 6;
      ++i;
    } else if (const size_t len = utf8_sequence(bytes, size, i, &cp)) {
      for (size_t k = 0; k < len; ++k) dst[k] = bytes[i + k];
      dst += len;
      i += len;
    } else {
      std::memcpy(dst, "\xEF\xBF\xBD", 3);  // U+FFFD REPLACEMENT CHARACTER
      dst += 3;
      ++i;
      *utf8 = false;
    }
  }
  *dst++ = '"';
  return dst;
}

}  // namespace

void append_json_string(std::string* out, const char* bytes, size_t size) {
  const size_t old = out->size();
  out->resize(old + kEscapedWidth * size + 2);
  char* const begin = &(*out)[0];
  bool utf8 = true;
  out->resize(static_cast<size_t>(escape_into(begin + old, bytes, size, &utf8) - begin));
}

std::string json_string(const std::string& bytes) {
  std::string out;
  append_json_string(&out, bytes.data(), bytes.size());
  return out;
}

namespace {

// A member's key and its length. A literal's length is known where it is
// written, so that no key is measured at run time.
struct key_name {
  const char* text;
  size_t size;
  template <size_t N>
  constexpr key_name(const char (&literal)[N]) : text(literal), size(N - 1) {}
  constexpr key_name(std::nullptr_t) : text(nullptr), size(0) {}
  template <typename P, typename = std::enable_if_t<std::is_same_v<P, const char*>>>
  key_name(P k) : text(k), size(k == nullptr ? 0 : std::strlen(k)) {}
};

// Writes the document into one buffer: every key, number and string goes
// straight into it, with no string made per value. The buffer is a string of
// the writer's own that grows as needed, or storage the caller gives, which
// is used with no allocation as long as the document fits (past that, the
// writer moves to a string of its own).
class writer {
 public:
  explicit writer(size_t expected) { buf_.reserve(expected); }
  writer(char* storage, size_t size) : data_(storage), size_(size), given_(true) {}

  // The document written, with its closing newline, the buffer's spare room
  // cut off.
  std::string finish() {
    put('\n');
    if (given_) return std::string(data_, used_);
    buf_.resize(used_);
    return std::move(buf_);
  }
  // The same, NUL-terminated, where it was written: the caller's storage,
  // or (when it did not fit there) the writer's own buffer.
  const char* finish_in_storage() {
    put('\n');
    put('\0');
    return data_;
  }

  void open(key_name key, char bracket) {
    char* at = member(key, 1);
    *at++ = bracket;
    end(at);
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    if (!first_) newline();
    put(bracket);
    first_ = false;
  }
  void null(key_name key) {
    char* at = member(key, 4);
    std::memcpy(at, "null", 4);
    end(at + 4);
  }
  void boolean(key_name key, bool v) {
    char* at = member(key, 5);
    std::memcpy(at, v ? "true " : "false", 5);
    end(at + (v ? 4 : 5));
  }
  void number(key_name key, uint64_t v) {
    char* at = member(key, 20);  // the digits of 2^64 - 1
    end(std::to_chars(at, at + 20, v).ptr);
  }
  void string(key_name key, const char* v) {
    if (v == nullptr) return null(key);
    const size_t n = std::strlen(v);
    char* at = member(key, kEscapedWidth * n + 2);
    bool utf8 = true;
    end(escape_into(at, v, n, &utf8));
  }
  void string(key_name key, const std::string& v) {
    char* at = member(key, kEscapedWidth * v.size() + 2);
    bool utf8 = true;
    end(escape_into(at, v.data(), v.size(), &utf8));
  }
  template <typename T>
  void number(key_name key, const opt<T>& v) {
    if (v)
      number(key, static_cast<uint64_t>(*v));
    else
      null(key);
  }
  void boolean(key_name key, const opt<bool>& v) {
    if (v)
      boolean(key, *v);
    else
      null(key);
  }
  void code(key_name key, const opt<coded>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("code", static_cast<uint64_t>(v->code));
    string("name", v->name);
    close('}');
  }
  void bits(key_name key, const opt<flags>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("raw", static_cast<uint64_t>(v->raw));
    open("names", '[');
    for (const char* n : v->names) string(nullptr, n);
    close(']');
    close('}');
  }
  void text_value(key_name key, const opt<text_field>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("string_number", static_cast<uint64_t>(v->number));
    if (v->raw) {
      const std::string& raw = *v->raw;
      char* at = member("raw", kEscapedWidth * raw.size() + 2);
      bool utf8 = true;
      end(escape_into(at, raw.data(), raw.size(), &utf8));
      if (utf8) {
        null("bytes_hex");
      } else {
        // Hex digits need no escaping: the literal is written as it is.
        static const char digits[] = "0123456789ABCDEF";
        at = member("bytes_hex", 2 * raw.size() + 2);
        *at++ = '"';
        for (char c : *v->raw) {
          *at++ = digits[static_cast<unsigned char>(c) >> 4];
          *at++ = digits[static_cast<unsigned char>(c) & 15];
        }
        *at++ = '"';
        end(at);
      }
    } else {
      null("raw");
      null("bytes_hex");
    }
    boolean("placeholder", v->placeholder);
    close('}');
  }

 private:
  // Room for n more bytes at the end of what is written. The capacity is
  // reserved up front; the string's size runs ahead of what is written by a
  // step at a time, so that the zeros a resize writes stay few and in cache.
  char* room(size_t n) {
    if (size_ - used_ < n) grow(n);
    return data_ + used_;
  }
  void grow(size_t n) {
    if (given_) {
      buf_.assign(data_, used_);
      given_ = false;
    }
    buf_.resize(used_ + std::max(n, kStep));
    data_ = &buf_[0];
    size_ = buf_.size();
  }
  void put(char c) {
    *room(1) = c;
    ++used_;
  }
  void newline() {
    const size_t indent = static_cast<size_t>(depth_) * 2;
    char* at = room(1 + indent + 8);
    *at = '\n';
    // Eight spaces a store: the document nests a few levels deep only.
    for (size_t k = 0; k < indent; k += 8) std::memcpy(at + 1 + k, "        ", 8);
    used_ += 1 + indent;
  }
  // Starts a member (key null: an array element) after a comma when needed,
  // and returns where its value goes, with room for value bytes there: one
  // test of the room for the member's whole line. Keys are this file's own
  // ASCII names, which need no escaping.
  char* member(key_name key, size_t value) {
    const size_t indent = static_cast<size_t>(depth_) * 2;
    char* at = room(2 + indent + 8 + key.size + 4 + value);
    if (depth_ > 0) {
      if (!first_) *at++ = ',';
      *at++ = '\n';
      // Eight spaces a store: the document nests a few levels deep only.
      for (size_t k = 0; k < indent; k += 8) std::memcpy(at + k, "        ", 8);
      at += indent;
    }
    first_ = false;
    if (key.text != nullptr) {
      *at++ = '"';
      copy_bytes(at, key.text, key.size);
      at += key.size;
      std::memcpy(at, "\": ", 3);
      at += 3;
    }
    return at;
  }
  // Ends what was written at the position member() returned.
  void end(const char* at) { used_ = static_cast<size_t>(at - data_); }

  // A step of the size below where the C library's memset turns to rep
  // stosb, which costs an instruction per byte.
  static constexpr size_t kStep = 2000;
  std::string buf_;       // the writer's own buffer, unless given_
  char* data_ = nullptr;  // the buffer written: buf_'s bytes or the caller's storage
  size_t size_ = 0;       // its size; used_ bytes of it are the document
  bool given_ = false;    // data_ is the caller's storage
  size_t used_ = 0;
  int depth_ = 0;
  bool first_ = true;
};

void write_array(writer& w, const memory_array& a) {
  w.open(nullptr, '{');
  w.number("handle", static_cast<uint64_t>(a.handle));
  w.number("length", static_cast<uint64_t>(a.length));
  w.code("location", a.location);
  w.code("use", a.use);
  w.code("error_correction", a.error_correction);
  w.boolean("ecc", a.ecc);
  w.number("maximum_capacity_raw", a.maximum_capacity_raw);
  w.number("extended_maximum_capacity_raw", a.extended_maximum_capacity_raw);
  w.number("maximum_capacity_bytes", a.maximum_capacity_bytes);
  w.number("error_information_handle", a.error_information_handle);
  w.number("declared_devices", a.declared_devices);
  w.number("devices_found", static_cast<uint64_t>(a.devices_found));
  w.boolean("system_memory", a.system_memory);
  w.close('}');
}

void write_vendor(writer& w, const char* key, const opt<vendor_id>& v) {
  if (!v) return w.null(key);
  w.open(key, '{');
  if (v->name.empty())
    w.null("name");
  else
    w.string("name", v->name);
  w.number("jedec_bank", v->bank != 0 ? opt<uint64_t>(v->bank) : std::nullopt);
  w.number("jedec_code", v->bank != 0 ? opt<uint64_t>(v->code) : std::nullopt);
  w.string("source", v->source);
  // Only beside a maker named other than by the string's code.
  if (v->jedec_name) {
    if (v->jedec_name->empty())
      w.null("jedec_name");
    else
      w.string("jedec_name", *v->jedec_name);
  }
  w.close('}');
}

void write_errors(writer& w, const opt<module_errors>& e) {
  if (!e) return w.null("errors");
  w.open("errors", '{');
  w.number("corrected", e->corrected);
  w.number("uncorrected", e->uncorrected);
  w.open("edac", '[');
  for (const std::string& name : e->edac) w.string(nullptr, name);
  w.close(']');
  w.string("matched_by", e->matched_by);
  w.close('}');
}

void write_position(writer& w, const opt<position>& p) {
  if (!p) return w.null("position");
  w.open("position", '{');
  w.number("socket", p->socket);
  w.number("controller", p->controller);
  if (p->channel)
    w.string("channel", *p->channel);
  else
    w.null("channel");
  w.number("slot", p->slot);
  w.string("source", p->source);
  w.close('}');
}

void write_mapped(writer& w, const mapped_address& m) {
  w.open(nullptr, '{');
  w.number("type", static_cast<uint64_t>(m.type));
  w.number("handle", static_cast<uint64_t>(m.handle));
  w.number("length", static_cast<uint64_t>(m.length));
  w.number("starting_address_raw", m.starting_address_raw);
  w.number("ending_address_raw", m.ending_address_raw);
  w.number("extended_starting_address", m.extended_starting_address);
  w.number("extended_ending_address", m.extended_ending_address);
  w.number("starting_address_bytes", m.starting_address_bytes);
  w.number("ending_address_bytes", m.ending_address_bytes);
  // Both types' fields, the other type's null, so that every object has one shape.
  w.number("array_handle", m.array_handle);
  w.number("partition_width", m.partition_width);
  w.number("device_handle", m.device_handle);
  w.number("array_mapped_address_handle", m.array_mapped_address_handle);
  w.number("partition_row_position", m.partition_row_position);
  w.number("interleave_position", m.interleave_position);
  w.number("interleaved_data_depth", m.interleaved_data_depth);
  w.close('}');
}

void write_configuration(writer& w, const configuration& c) {
  w.open("configuration", '{');
  w.number("channels_total", c.channels_total);
  w.number("channels_populated", c.channels_populated);
  w.number("free_slots", static_cast<uint64_t>(c.free_slots));
  w.number("installed_bytes", c.installed_bytes);
  w.number("maximum_capacity_bytes", c.maximum_capacity_bytes);
  w.boolean("ecc", c.ecc);
  w.close('}');
}

void write_finding(writer& w, const finding& f) {
  w.open(nullptr, '{');
  w.string("code", f.code);
  w.string("severity", f.severity);
  w.string("message", f.message);
  w.open("devices", '[');
  for (size_t i : f.devices) w.number(nullptr, static_cast<uint64_t>(i));
  w.close(']');
  w.close('}');
}

void write_device(writer& w, const memory_device& d) {
  w.open(nullptr, '{');
  w.number("handle", static_cast<uint64_t>(d.handle));
  w.number("length", static_cast<uint64_t>(d.length));
  w.number("array_handle", d.array_handle);
  w.number("error_information_handle", d.error_information_handle);
  w.text_value("locator", d.locator);
  w.text_value("bank_locator", d.bank_locator);
  write_position(w, d.where);
  w.number("size_raw", d.size_raw);
  w.number("extended_size_raw", d.extended_size_raw);
  w.number("size_bytes", d.size_bytes);
  w.boolean("populated", d.populated);
  w.boolean("system_memory", d.system_memory);
  w.string("other_memory_reason", d.other_memory_reason);
  w.boolean("ecc", d.ecc);
  w.number("total_width_bits", d.total_width_bits);
  w.number("data_width_bits", d.data_width_bits);
  w.code("form_factor", d.form_factor);
  w.number("device_set", d.device_set);
  w.code("memory_type", d.memory_type);
  w.bits("type_detail", d.type_detail);
  w.number("speed_raw", d.speed_raw);
  w.number("extended_speed_raw", d.extended_speed_raw);
  w.number("speed_mts", d.speed_mts);
  w.number("configured_speed_raw", d.configured_speed_raw);
  w.number("extended_configured_speed_raw", d.extended_configured_speed_raw);
  w.number("configured_speed_mts", d.configured_speed_mts);
  w.text_value("manufacturer", d.manufacturer);
  write_vendor(w, "vendor", d.vendor);
  w.text_value("serial_number", d.serial_number);
  w.text_value("asset_tag", d.asset_tag);
  w.text_value("part_number", d.part_number);
  w.number("attributes_raw", d.attributes_raw);
  w.number("rank", d.rank);
  w.number("minimum_voltage_mv", d.minimum_voltage_mv);
  w.number("maximum_voltage_mv", d.maximum_voltage_mv);
  w.number("configured_voltage_mv", d.configured_voltage_mv);
  w.code("memory_technology", d.memory_technology);
  w.bits("operating_mode_capability", d.operating_mode_capability);
  w.text_value("firmware_version", d.firmware_version);
  w.number("module_manufacturer_id", d.module_manufacturer_id);
  write_vendor(w, "module_manufacturer", d.module_manufacturer);
  w.number("module_product_id", d.module_product_id);
  w.number("subsystem_controller_manufacturer_id", d.subsystem_controller_manufacturer_id);
  w.number("subsystem_controller_product_id", d.subsystem_controller_product_id);
  w.number("non_volatile_size_bytes", d.non_volatile_size_bytes);
  w.number("volatile_size_bytes", d.volatile_size_bytes);
  w.number("cache_size_bytes", d.cache_size_bytes);
  w.number("logical_size_bytes", d.logical_size_bytes);
  w.number("pmic0_manufacturer_id", d.pmic0_manufacturer_id);
  w.number("pmic0_revision_number", d.pmic0_revision_number);
  w.number("rcd_manufacturer_id", d.rcd_manufacturer_id);
  w.number("rcd_revision_number", d.rcd_revision_number);
  write_errors(w, d.errors);
  w.close('}');
}

void write_text(writer& w, const char* key, const opt<std::string>& v) {
  if (v)
    w.string(key, *v);
  else
    w.null(key);
}

void write_memory_errors(writer& w, const memory_errors& e) {
  w.open("memory_errors", '{');
  w.string("source", "edac");
  w.boolean("available", e.available);
  if (e.available)
    w.null("reason");
  else
    w.string("reason", e.reason);
  w.open("unmatched", '[');
  for (const unmatched_errors& u : e.unmatched) {
    w.open(nullptr, '{');
    w.string("edac", u.edac);
    write_text(w, "label", u.label);
    write_text(w, "location", u.location);
    w.number("corrected", u.corrected);
    w.number("uncorrected", u.uncorrected);
    w.close('}');
  }
  w.close(']');
  w.open("unplaced", '[');
  for (const unplaced_errors_count& u : e.unplaced) {
    w.open(nullptr, '{');
    w.string("controller", u.controller);
    w.number("corrected", u.corrected);
    w.number("uncorrected", u.uncorrected);
    w.close('}');
  }
  w.close(']');
  w.close('}');
}

void write_document(writer& w, const document& doc) {
  w.open(nullptr, '{');
  w.string("schema", kSchema);
  w.boolean("readable", doc.readable);
  // Only an unreadable table has a reason, so readable documents keep the
  // keys they always had.
  if (!doc.readable) w.string("reason", doc.reason);
  w.open("totals", '{');
  w.number("arrays", static_cast<uint64_t>(doc.sum.arrays));
  w.number("slots", static_cast<uint64_t>(doc.sum.slots));
  w.number("populated", static_cast<uint64_t>(doc.sum.populated));
  w.number("installed_bytes", doc.sum.installed_bytes);
  w.boolean("ecc", doc.sum.ecc);
  w.close('}');
  write_configuration(w, doc.setup);
  w.open("arrays", '[');
  for (const memory_array& a : doc.arrays) write_array(w, a);
  w.close(']');
  w.open("devices", '[');
  for (const memory_device& d : doc.devices) write_device(w, d);
  w.close(']');
  w.open("mapped_addresses", '[');
  for (const mapped_address& m : doc.mapped) write_mapped(w, m);
  w.close(']');
  w.open("findings", '[');
  for (const finding& f : doc.findings) write_finding(w, f);
  w.close(']');
  write_memory_errors(w, doc.errors);
  w.close('}');
}

}  // namespace

std::string detail_json(const document& doc) {
  // About 2.9 KB per device with its position, and 0.55 KB per array or
  // mapped address, in practice; a guess too small costs a regrowth, which
  // copies all that is written (a third of the writer's work on 512
  // devices), and one too large only address space never touched.
  writer w(2048 + 640 * (doc.arrays.size() + doc.mapped.size()) + 3072 * doc.devices.size() +
           256 * (doc.errors.unmatched.size() + doc.errors.unplaced.size()));
  write_document(w, doc);
  return w.finish();
}

const char* out_of_memory_json() {
  // Written on the first call into static storage, which it fits (370
  // bytes): no allocation. The document's strings are short enough to be
  // kept inside their std::string objects.
  static char storage[1024];
  static std::string spilled;
  static const char* const text = [] {
    document doc;
    doc.reason = kOutOfMemory;
    writer w(storage, sizeof storage);
    write_document(w, doc);
    const char* written = w.finish_in_storage();
    if (written == storage) return written;
    spilled = written;
    return spilled.c_str();
  }();
  return text;
}

}  // namespace raminfo_detail
