// The detail document as JSON: keys in a fixed order, two-space indentation,
// every string valid UTF-8.
#include <cstdio>

#include "detail/detail.h"
#include "text/text.h"

namespace raminfo_detail {

std::string json_string(const std::string& bytes) {
  std::string out = "\"";
  uint32_t cp = 0;
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const size_t len = utf8_sequence(bytes, i, &cp)) {
      out.append(bytes, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
      ++i;
    }
  }
  return out + "\"";
}

namespace {

class writer {
 public:
  std::string text;

  void open(const char* key, char bracket) {
    member(key);
    text += bracket;
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    if (!first_) newline();
    text += bracket;
    first_ = false;
  }
  void raw(const char* key, const std::string& value) {
    member(key);
    text += value;
  }
  void null(const char* key) { raw(key, "null"); }
  void boolean(const char* key, bool v) { raw(key, v ? "true" : "false"); }
  void number(const char* key, uint64_t v) { raw(key, std::to_string(v)); }
  void string(const char* key, const char* v) {
    if (v == nullptr)
      null(key);
    else
      raw(key, json_string(v));
  }
  template <typename T>
  void number(const char* key, const opt<T>& v) {
    if (v)
      number(key, static_cast<uint64_t>(*v));
    else
      null(key);
  }
  void boolean(const char* key, const opt<bool>& v) {
    if (v)
      boolean(key, *v);
    else
      null(key);
  }
  void code(const char* key, const opt<coded>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("code", static_cast<uint64_t>(v->code));
    string("name", v->name);
    close('}');
  }
  void bits(const char* key, const opt<flags>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("raw", static_cast<uint64_t>(v->raw));
    open("names", '[');
    for (const char* n : v->names) string(nullptr, n);
    close(']');
    close('}');
  }
  void text_value(const char* key, const opt<text_field>& v) {
    if (!v) return null(key);
    open(key, '{');
    number("string_number", static_cast<uint64_t>(v->number));
    if (v->raw) {
      raw("raw", json_string(*v->raw));
      if (is_valid_utf8(*v->raw)) {
        null("bytes_hex");
      } else {
        std::string hex;
        static const char digits[] = "0123456789ABCDEF";
        for (char c : *v->raw) {
          hex += digits[static_cast<unsigned char>(c) >> 4];
          hex += digits[static_cast<unsigned char>(c) & 15];
        }
        raw("bytes_hex", json_string(hex));
      }
    } else {
      null("raw");
      null("bytes_hex");
    }
    boolean("placeholder", v->placeholder);
    close('}');
  }

 private:
  void newline() {
    text += '\n';
    text.append(static_cast<size_t>(depth_) * 2, ' ');
  }
  // Starts a member (key null: an array element) after a comma when needed.
  void member(const char* key) {
    if (depth_ > 0) {
      if (!first_) text += ',';
      newline();
    }
    first_ = false;
    if (key != nullptr) {
      text += json_string(key);
      text += ": ";
    }
  }

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

void write_vendor(writer& w, const opt<vendor_id>& v) {
  if (!v) return w.null("vendor");
  w.open("vendor", '{');
  w.string("name", v->name);
  w.number("jedec_bank", static_cast<uint64_t>(v->bank));
  w.number("jedec_code", static_cast<uint64_t>(v->code));
  w.string("source", v->source);
  w.close('}');
}

void write_errors(writer& w, const opt<module_errors>& e) {
  if (!e) return w.null("errors");
  w.open("errors", '{');
  w.number("corrected", e->corrected);
  w.number("uncorrected", e->uncorrected);
  w.open("edac", '[');
  for (const std::string& name : e->edac) w.raw(nullptr, json_string(name));
  w.close(']');
  w.raw("matched_by", json_string(e->matched_by));
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
  write_vendor(w, d.vendor);
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
    w.raw(key, json_string(*v));
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
    w.raw("reason", json_string(e.reason));
  w.open("unmatched", '[');
  for (const unmatched_errors& u : e.unmatched) {
    w.open(nullptr, '{');
    w.raw("edac", json_string(u.edac));
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
    w.raw("controller", json_string(u.controller));
    w.number("corrected", u.corrected);
    w.number("uncorrected", u.uncorrected);
    w.close('}');
  }
  w.close(']');
  w.close('}');
}

}  // namespace

std::string detail_json(const document& doc) {
  writer w;
  w.open(nullptr, '{');
  w.string("schema", kSchema);
  w.boolean("readable", doc.readable);
  // Only an unreadable table has a reason, so readable documents keep the
  // keys they always had.
  if (!doc.readable) w.raw("reason", json_string(doc.reason));
  w.open("totals", '{');
  w.number("arrays", static_cast<uint64_t>(doc.sum.arrays));
  w.number("slots", static_cast<uint64_t>(doc.sum.slots));
  w.number("populated", static_cast<uint64_t>(doc.sum.populated));
  w.number("installed_bytes", doc.sum.installed_bytes);
  w.boolean("ecc", doc.sum.ecc);
  w.close('}');
  w.open("arrays", '[');
  for (const memory_array& a : doc.arrays) write_array(w, a);
  w.close(']');
  w.open("devices", '[');
  for (const memory_device& d : doc.devices) write_device(w, d);
  w.close(']');
  write_memory_errors(w, doc.errors);
  w.close('}');
  return w.text + "\n";
}

}  // namespace raminfo_detail
