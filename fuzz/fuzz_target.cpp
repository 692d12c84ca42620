// Feeds any byte string to the library as the raw SMBIOS block and checks what
// the exports make of it. Built for libFuzzer, and linked with replay_main.cpp
// as an ordinary test that replays the committed corpus.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/dimm.h"
#include "core/loader.h"
#include "detail/detail.h"
#include "fake_platform.h"
#include "raminfo.h"
#include "smbios/smbios.h"

namespace {

constexpr size_t kJsonCap = 16384;
// The longest object the report can hold (four 63-byte fields, the longest
// names and numbers) with its comma, and the closing "]}" with its NUL; a
// report is cut only when the next object would not fit in what is left.
constexpr size_t kLongestObject = 440;
constexpr size_t kClosing = 3;
constexpr size_t kStopMark = kJsonCap - 256;

[[noreturn]] void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "raminfo fuzz check failed: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// The detail is built only on failure: the checks run millions of times.
#define CHECK(ok, ...)            \
  do {                            \
    if (!(ok)) fail(__VA_ARGS__); \
  } while (0)

// Bytes above 0x7F pass through the library unchanged and need not be UTF-8;
// they stand only inside strings, so any ASCII letter may take their place for
// parsing.
std::string mask_high_bytes(std::string s) {
  for (char& c : s) {
    if (static_cast<unsigned char>(c) > 0x7F) c = 'x';
  }
  return s;
}

// A record text field is escaped for JSON; parsing undoes the escape.
std::string unescape(const char* field) {
  std::string out;
  for (const char* p = field; *p != '\0'; ++p) {
    if (*p == '\\' && (p[1] == '"' || p[1] == '\\')) ++p;
    out.push_back(*p);
  }
  return out;
}

// A record's text field: NUL within its 64 bytes, no control bytes, no
// trailing space, every quote and backslash escaped.
void check_field(const char* field, const char* name) {
  const size_t n = strnlen(field, JSON_FIELD_CAP);
  CHECK(n < JSON_FIELD_CAP, "text field not terminated within 64 bytes", name);
  CHECK(n == 0 || field[n - 1] != ' ', "text field keeps a trailing space", field);
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    CHECK(c >= 0x20, "control byte in a text field", name);
    if (c == '\\') {
      CHECK(i + 1 < n && (field[i + 1] == '"' || field[i + 1] == '\\'),
            "backslash without its escaped character", field);
      ++i;
    } else {
      CHECK(c != '"', "unescaped double quote", field);
    }
  }
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void check_object(const nlohmann::json& o, const dimm_info& d, int j) {
  const auto at = [&] { return "device " + std::to_string(j) + ": " + o.dump(); };
  CHECK(o.is_object(), "slot entry is not an object", at());
  CHECK(o.contains("slot") && o["slot"].is_string(), "object without a slot string", at());
  CHECK(o.contains("size_mb") && o["size_mb"].is_number_integer(), "object without size_mb", at());
  CHECK(o["slot"] == mask_high_bytes(unescape(d.slot)), "slot differs from the enumeration", at());
  CHECK(o["size_mb"] == d.size_mb, "size_mb differs from the enumeration", at());
  CHECK(d.size_mb >= 0, "negative size", at());
  if (d.size_mb == 0) {
    CHECK(o.size() == 2, "an empty device's object has more than slot and size_mb", at());
    return;
  }
  CHECK(o.size() == 10, "a populated device's object lacks keys", at());
  CHECK(o["type"] == d.type && o["form_factor"] == d.form_factor, "names differ", at());
  CHECK(o["speed_mts"] == d.speed_mts && o["configured_speed_mts"] == d.configured_speed_mts &&
            o["voltage_mv"] == d.voltage_mv,
        "numbers differ", at());
  CHECK(o["manufacturer"] == mask_high_bytes(unescape(d.manufacturer)) &&
            o["part_number"] == mask_high_bytes(unescape(d.part_number)) &&
            o["serial"] == mask_high_bytes(unescape(d.serial)),
        "strings differ", at());
}

// The detail document of the cached table: strict UTF-8 JSON of the fixed
// shape, one device per type-17 structure the walk yields, totals that add up.
void check_detail(smbios_view t) {
  const raminfo_detail::document doc = raminfo_detail::decode_detail(t);
  const std::string text = raminfo_detail::detail_json(doc);
  // No masking here: the document must be valid UTF-8 as it stands.
  const nlohmann::json d = nlohmann::json::parse(text, nullptr, false);
  CHECK(!d.is_discarded(), "detail document is not strict JSON", text);
  // The decoder reads no memory error counts: memory_errors says so.
  CHECK(d.is_object() && d.size() == 9 && d["schema"] == raminfo_detail::kSchema &&
            d["readable"] == true && d["arrays"].is_array() && d["devices"].is_array() &&
            d["configuration"].is_object() && d["mapped_addresses"].is_array() &&
            d["findings"].is_array() && d["memory_errors"].is_object() &&
            d["memory_errors"]["available"] == false,
        "detail document shape", text.substr(0, 400));
  size_t type16 = 0, type17 = 0, mapped = 0;
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st;
  while (smbios_next(t, &w, &st)) {
    type16 += st.type == 16;
    type17 += st.type == 17;
    mapped += st.type == 19 || st.type == 20;
  }
  CHECK(d["arrays"].size() == type16 && d["devices"].size() == type17 &&
            d["mapped_addresses"].size() == mapped,
        "detail lists differ from the walk's structures");
  // A finding names devices of the document, and only with a known severity.
  for (const auto& f : d["findings"]) {
    CHECK(f["severity"] == "info" || f["severity"] == "warning", "finding severity", f.dump());
    for (const auto& i : f["devices"])
      CHECK(i.get<size_t>() < type17, "finding names no device", f.dump());
  }
  // Every device and array carries the same keys, null or not.
  constexpr size_t kDeviceKeys = 53, kArrayKeys = 13;
  uint64_t installed = 0;
  size_t slots = 0, populated = 0;
  for (const auto& dev : d["devices"]) {
    CHECK(dev.is_object() && dev.size() == kDeviceKeys && dev["errors"].is_null(), "device keys",
          dev.dump());
    CHECK(dev["length"].get<unsigned>() >= 4, "device length below 4", dev.dump());
    if (!dev["system_memory"].get<bool>()) continue;
    ++slots;
    if (!dev["populated"].get<bool>()) continue;
    ++populated;
    const uint64_t size = dev["size_bytes"].get<uint64_t>();
    installed = size < ~uint64_t{0} - installed ? installed + size : ~uint64_t{0};
  }
  for (const auto& a : d["arrays"])
    CHECK(a.is_object() && a.size() == kArrayKeys, "array keys", a.dump());
  const nlohmann::json& totals = d["totals"];
  CHECK(totals["slots"] == slots && totals["populated"] == populated &&
            totals["installed_bytes"] == installed,
        "detail totals", totals.dump());
  const std::string table = raminfo_detail::detail_table(doc);
  CHECK(!table.empty() && table.back() == '\n', "detail table", table);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fresh_library(std::vector<uint8_t>(data, data + size));

  // What the loader must make of this block.
  const char* expected_status = size == 0   ? "GetSystemFirmwareTable size failed"
                                : size <= 8 ? "smbios too short"
                                            : "";
  const bool loads = size > 8;
  const size_t table_len = loads ? std::min<size_t>(le32(data + 4), size - 8) : 0;

  const std::string text = raminfo_get_json();
  const std::string status = raminfo_last_error();
  const int32_t count = raminfo_slot_count();

  CHECK(text.size() < kJsonCap, "report longer than its buffer", std::to_string(text.size()));
  CHECK(status == expected_status, "status text", "got '" + status + "'");
  CHECK(std::strcmp(raminfo_last_error(), expected_status) == 0, "status text after slot count");

  const nlohmann::json report = nlohmann::json::parse(mask_high_bytes(text), nullptr, false);
  CHECK(!report.is_discarded(), "report is not well-formed JSON", text);
  CHECK(report.is_object() && report.size() == 2 && report.contains("total_mb") &&
            report.contains("slots") && report["slots"].is_array(),
        "report shape", text);
  CHECK(report["total_mb"] == 16384, "total_mb", text);
  const nlohmann::json& slots = report["slots"];

  if (!loads) {
    CHECK(count == -1, "slot count of an unreadable table", std::to_string(count));
    CHECK(slots.empty(), "devices listed for an unreadable table", text);
    dimm_info d;
    for (int i = -2; i <= 1; ++i) CHECK(for_each_dimm(i, &d) == -1, "enumeration without table");
    return 0;
  }

  CHECK(smbios_cached_view().len == table_len, "cached table length");
  const int devices = table_len >= 4 ? count_memory_devices(smbios_cached_view()) : 0;
  CHECK(slots.size() <= static_cast<size_t>(devices), "more objects than devices", text);

  dimm_info d;
  std::memset(&d, 0xA5, sizeof d);
  CHECK(for_each_dimm(-2, &d) == (table_len >= 4 ? 0 : -2), "index -2");
  CHECK(for_each_dimm(-1, &d) == count, "index -1 is the slot count");
  int populated = 0;
  for (int j = 0; j < devices; ++j) {
    std::memset(&d, 0xA5, sizeof d);
    CHECK(for_each_dimm(j, &d) == 1, "a counted device cannot be fetched", std::to_string(j));
    check_field(d.slot, "slot");
    check_field(d.manufacturer, "manufacturer");
    check_field(d.part_number, "part_number");
    check_field(d.serial, "serial");
    if (d.size_mb > 0) ++populated;
    if (static_cast<size_t>(j) < slots.size()) check_object(slots[j], d, j);
  }
  CHECK(for_each_dimm(devices, &d) == -2, "one past the last device");
  check_detail(smbios_cached_view());
  CHECK(populated == count, "slot count differs from the populated devices enumerated");

  const bool cut = slots.size() < static_cast<size_t>(devices);
  if (cut) {
    // The list ends early only at the stop mark or when the next object
    // would not leave room for the closing.
    CHECK(text.size() >= kStopMark || text.size() + kLongestObject + kClosing > kJsonCap,
          "list cut short far from the buffer limit", std::to_string(text.size()));
  } else {
    size_t listed_populated = 0;
    for (const auto& o : slots) listed_populated += o["size_mb"] > 0 ? 1 : 0;
    CHECK(listed_populated == static_cast<size_t>(count), "populated objects != slot count");
  }
  return 0;
}
