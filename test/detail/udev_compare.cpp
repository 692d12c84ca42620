// Compares `raminfo --detail` with systemd's dmi_memory_id (`-F FILE`), the
// decoder behind udev's MEMORY_ARRAY_* and MEMORY_DEVICE_* properties.
//
// From our document we build the properties dmi_memory_id prints and set
// them against its output, key by key. What it loses or drops is named here:
//
// kUdevVoltsOneDigit: a voltage in whole tenths of a volt is printed with one
//   significant digit ("%.1g": 1.2 V is "1", 1.5 V is "2"), others with
//   "%g" (1.35 V is "1.35"); ours are millivolts.
// kUdevNoExtendedSpeed: a speed word of 0xFFFF is printed as 65535; the
//   Extended Speed fields (SMBIOS 3.3) are not read.
// kUdevSkipsUnknowns: a value of 0 or "unknown" (widths, speeds, rank,
//   voltages, maker and product IDs, sizes of 0 or all ones) and a code
//   outside its name table get no property; we keep the raw value.
// kUdevStripsStrings: strings lose leading and trailing whitespace and a blank
//   one gets no property; string number 0 is "Not Specified" and a missing
//   string "<BAD INDEX>" (ours: raw null beside the number).
// kUdevDropsUnprintable: a string that still holds a byte below 0x20 or 0x7F
//   once stripped gets no property; other bytes above 0x7F pass through as
//   ours do (we compare the firmware's bytes).
// kUdevNoEcNone: an error correction of "None" (3) gets no property.
// kUdevArrayTotal: MEMORY_ARRAY_NUM_DEVICES is printed once, the number of
//   Memory Devices it walked (whatever the arrays declare); ours are per
//   array (declared_devices, devices_found).
// kUdevSystemArraysOnly: arrays whose use is not System Memory (3) get no
//   properties.
// kUdevNoName: a code outside udev's tables (form factors end before CAMM,
//   0x11) is printed as words in angle brackets, read here as kNoName; ours is
//   the code beside its name, or a null name.
// kUdevDropsInvalidUtf8: a string that is not valid UTF-8 gets no property
//   (ours keeps it, with its bytes in bytes_hex).
// kUdevNoneModes: an operating mode capability with no bit set gets no
//   property (a type detail with none is "None", as ours).
// kUdevNewerFields: the PMIC0 and RCD fields (SMBIOS 3.7), array use, the
//   array's error information handle and the device's handles are not
//   printed.
#include "udev_compare.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "command_output.h"
#include "detail_doc.h"

namespace {

// What a value udev prints in angle brackets (a code it has no name for) is
// read as, and what ours mean where the name is null (kUdevNoName).
const std::string kNoName = "(no name)";

// The value of one line of udev's output, with a nameless code read as kNoName.
std::string udev_value(const std::string& v) {
  return v.size() >= 2 && v.front() == '<' && v.back() == '>' ? kNoName : v;
}

using detail_doc::number;
using nlohmann::json;

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// kUdevStripsStrings; nullopt: no property.
std::optional<std::string> udev_string(const json& text) {
  const auto bytes = detail_doc::firmware_bytes(text);
  if (!bytes) return text["string_number"] == 0 ? "Not Specified" : "<BAD INDEX>";
  if (text["bytes_hex"].is_string()) return std::nullopt;  // kUdevDropsInvalidUtf8
  const char* ws = " \t\n\r";
  const size_t first = bytes->find_first_not_of(ws);
  if (first == std::string::npos) return std::nullopt;
  const std::string stripped = bytes->substr(first, bytes->find_last_not_of(ws) - first + 1);
  for (char c : stripped)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return std::nullopt;  // kUdevDropsUnprintable
  return stripped;
}

std::string joined(const json& flags) {
  if ((flags["raw"].get<uint64_t>() & 0xFFFE) == 0) return "None";
  std::string out;
  for (const auto& n : flags["names"]) out += (out.empty() ? "" : " ") + n.get<std::string>();
  return out;
}

std::string hex(const char* fmt, uint64_t v) {
  char b[40];
  std::snprintf(b, sizeof b, fmt, static_cast<unsigned>(v));
  return b;
}

std::string maker(uint64_t id) {
  char b[40];
  std::snprintf(b, sizeof b, "Bank %d, Hex 0x%02X", static_cast<int>(id & 0x7F) + 1,
                static_cast<unsigned>(id >> 8));
  return b;
}

// The properties dmi_memory_id prints for one device.
class Expect {
 public:
  std::map<std::string, std::string> props;

  void put(const std::string& key, const std::string& value) { props[key] = value; }
  void number_if(const std::string& key, const std::optional<uint64_t>& v) {
    if (v && *v != 0) put(key, std::to_string(*v));  // kUdevSkipsUnknowns
  }
  void code(const std::string& key, const json& c) {
    if (c.is_object() && c["name"].is_string()) put(key, c["name"].get<std::string>());
  }
  void text(const std::string& key, const json& t) {
    if (t.is_null()) return;
    if (const auto s = udev_string(t)) put(key, *s);
  }
};

Expect expect_device(const json& d) {
  Expect e;
  const auto len = d["length"].get<unsigned>();
  if (len < 0x15) return e;
  const auto width = [&](const char* key, const char* ours) {
    const auto w = number(d, ours);
    if (w && *w != 0xFFFF) e.number_if(key, w);
  };
  width("TOTAL_WIDTH", "total_width_bits");
  width("DATA_WIDTH", "data_width_bits");
  const auto size_raw = number(d, "size_raw");
  if (size_raw == 0)
    e.put("PRESENT", "0");
  else if (!d["size_bytes"].is_null())
    e.put("SIZE", std::to_string(number(d, "size_bytes").value()));
  const auto name_or_none = [&](const char* key, const json& c, uint64_t last) {
    if (c.is_null()) return;
    const bool known = c["code"] >= 1 && c["code"] <= last && c["name"].is_string();
    e.put(key, known ? c["name"].get<std::string>() : kNoName);  // kUdevNoName
  };
  name_or_none("FORM_FACTOR", d["form_factor"], 0x10);
  const auto set = number(d, "device_set");
  if (set == 0xFF)
    e.put("SET", "Unknown");
  else
    e.number_if("SET", set);
  e.text("LOCATOR", d["locator"]);
  e.text("BANK_LOCATOR", d["bank_locator"]);
  e.code("TYPE", d["memory_type"]);
  e.put("TYPE_DETAIL", joined(d["type_detail"]));
  if (len < 0x17) return e;
  e.number_if("SPEED_MTS", number(d, "speed_raw"));  // kUdevNoExtendedSpeed
  if (len < 0x1B) return e;
  e.text("MANUFACTURER", d["manufacturer"]);
  e.text("SERIAL_NUMBER", d["serial_number"]);
  e.text("ASSET_TAG", d["asset_tag"]);
  e.text("PART_NUMBER", d["part_number"]);
  if (len < 0x1C) return e;
  e.number_if("RANK", number(d, "rank"));
  if (len < 0x22) return e;
  e.number_if("CONFIGURED_SPEED_MTS", number(d, "configured_speed_raw"));
  if (len < 0x28) return e;
  const auto volts = [&](const char* key, const char* ours) {
    const auto mv = number(d, ours);
    if (!mv || *mv == 0) return;
    char b[32];  // kUdevVoltsOneDigit
    std::snprintf(b, sizeof b, *mv % 100 ? "%g" : "%.1g", static_cast<double>(*mv) / 1000);
    e.put(key, b);
  };
  volts("MINIMUM_VOLTAGE", "minimum_voltage_mv");
  volts("MAXIMUM_VOLTAGE", "maximum_voltage_mv");
  volts("CONFIGURED_VOLTAGE", "configured_voltage_mv");
  if (len < 0x34) return e;
  name_or_none("MEMORY_TECHNOLOGY", d["memory_technology"], 0x07);
  const std::string modes = joined(d["operating_mode_capability"]);
  if (modes != "None") e.put("MEMORY_OPERATING_MODE_CAPABILITY", modes);  // kUdevNoneModes
  e.text("FIRMWARE_VERSION", d["firmware_version"]);
  const auto id = [&](const char* key, const char* ours, bool is_maker) {
    const auto v = number(d, ours);
    if (v && *v != 0) e.put(key, is_maker ? maker(*v) : hex("0x%04X", *v));
  };
  id("MODULE_MANUFACTURER_ID", "module_manufacturer_id", true);
  id("MODULE_PRODUCT_ID", "module_product_id", false);
  id("MEMORY_SUBSYSTEM_CONTROLLER_MANUFACTURER_ID", "subsystem_controller_manufacturer_id", true);
  id("MEMORY_SUBSYSTEM_CONTROLLER_PRODUCT_ID", "subsystem_controller_product_id", false);
  const auto size = [&](const char* key, const char* ours, unsigned gate) {
    const auto v = number(d, ours);
    if (len >= gate && v && *v != 0 && *v != ~uint64_t{0}) e.put(key, std::to_string(*v));
  };
  size("NON_VOLATILE_SIZE", "non_volatile_size_bytes", 0x3C);
  size("VOLATILE_SIZE", "volatile_size_bytes", 0x44);
  size("CACHE_SIZE", "cache_size_bytes", 0x4C);
  size("LOGICAL_SIZE", "logical_size_bytes", 0x54);
  return e;
}

// MEMORY_ARRAY_* lines of one array, in the order dmi_memory_id prints them.
std::vector<std::string> expect_array(const json& a) {
  std::vector<std::string> out;
  if (a["length"].get<unsigned>() < 0x0F || a["use"]["code"] != 3) return out;
  const auto name = [](const json& c) {
    return c["name"].is_string() ? c["name"].get<std::string>() : kNoName;  // kUdevNoName
  };
  out.push_back("MEMORY_ARRAY_LOCATION=" + name(a["location"]));
  if (a["error_correction"]["code"] != 3)  // kUdevNoEcNone
    out.push_back("MEMORY_ARRAY_EC_TYPE=" + name(a["error_correction"]));
  if (!a["maximum_capacity_bytes"].is_null())
    out.push_back("MEMORY_ARRAY_MAX_CAPACITY=" +
                  std::to_string(number(a, "maximum_capacity_bytes").value()));
  return out;
}

}  // namespace

std::string udev_decoder_path() {
  static const std::string path = [] {
    std::string p = command_output(
        quote(std::string(RAMINFO_SOURCE_DIR) + "/scripts/udev-decoder") + " 2>/dev/null");
    while (!p.empty() && (p.back() == '\n' || p.back() == '\r')) p.pop_back();
    return p;
  }();
  return path;
}

std::vector<std::string> compare_detail_with_udev(const std::string& detail_json,
                                                  const std::string& tool,
                                                  const std::string& dmi_path) {
  std::vector<std::string> out;
  const json doc = json::parse(detail_json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    out.push_back("not a detail document");
    return out;
  }
  const std::string text = command_output(quote(tool) + " -F " + quote(dmi_path) + " 2>/dev/null");
  std::vector<std::string> arrays;
  std::map<unsigned, std::map<std::string, std::string>> devices;
  std::optional<uint64_t> total;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    unsigned slot = 0;
    int at = 0;
    if (line.rfind("MEMORY_ARRAY_NUM_DEVICES=", 0) == 0) {
      total = std::strtoull(line.c_str() + 25, nullptr, 10);
    } else if (line.rfind("MEMORY_ARRAY_", 0) == 0) {
      const size_t eq = line.find('=');
      arrays.push_back(eq == std::string::npos
                           ? line
                           : line.substr(0, eq + 1) + udev_value(line.substr(eq + 1)));
    } else if (std::sscanf(line.c_str(), "MEMORY_DEVICE_%u_%n", &slot, &at) == 1 && at > 0) {
      const std::string rest = line.substr(static_cast<size_t>(at));
      const size_t eq = rest.find('=');
      if (eq != std::string::npos)
        devices[slot][rest.substr(0, eq)] = udev_value(rest.substr(eq + 1));
    }
  }

  std::vector<std::string> want_arrays;
  for (const json& a : doc["arrays"])
    for (const std::string& l : expect_array(a)) want_arrays.push_back(l);
  const uint64_t want_total = doc["devices"].size();
  if (arrays != want_arrays) {
    std::string got, want;
    for (const auto& l : arrays) got += " " + l;
    for (const auto& l : want_arrays) want += " " + l;
    out.push_back("arrays: udev" + got + "; ours mean" + want);
  }
  // kUdevArrayTotal: printed once there is an array.
  if (total != (want_total > 0 ? std::optional(want_total) : std::nullopt))
    out.push_back("MEMORY_ARRAY_NUM_DEVICES: udev " + (total ? std::to_string(*total) : "(none)") +
                  ", our devices " + std::to_string(want_total));

  const json& devs = doc["devices"];
  for (const auto& [slot, props] : devices)
    if (slot >= devs.size()) out.push_back("udev device " + std::to_string(slot) + ": not ours");
  for (size_t i = 0; i < devs.size(); ++i) {
    const Expect want = expect_device(devs[i]);
    const auto it = devices.find(static_cast<unsigned>(i));
    const std::map<std::string, std::string> none;
    const auto& got = it == devices.end() ? none : it->second;
    const std::string who = "device " + std::to_string(i) + " (handle " +
                            std::to_string(devs[i]["handle"].get<unsigned>()) + ")";
    for (const auto& [key, value] : want.props) {
      const auto g = got.find(key);
      if (g == got.end())
        out.push_back(who + ": " + key + ": udev prints none, ours mean \"" + value + "\"");
      else if (g->second != value)
        out.push_back(who + ": " + key + ": udev \"" + g->second + "\", ours mean \"" + value +
                      "\"");
    }
    for (const auto& [key, value] : got)
      if (!want.props.count(key))
        out.push_back(who + ": " + key + ": udev \"" + value + "\", ours mean no property");
  }
  return out;
}
