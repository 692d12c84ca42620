// Compares `raminfo --detail` with `dmidecode -t 16,17` and `-t 19,20`, field
// by field.
//
// For every field, the text dmidecode would print is built from our decoded
// value and set against dmidecode's line; a field our length byte leaves out
// (null) must have no line. The differences that are ours by design:
//
// kDmidecodeGroupGate: dmidecode prints a structure's fields in groups, each
//   only when the length byte covers the whole group (type 17: 0x15, 0x17,
//   0x1B, 0x1C, 0x22, 0x28, 0x34, 0x3C, 0x44, 0x4C, 0x54; type 16: 0x0F); we
//   decode each field its length covers, so we may hold a value where
//   dmidecode prints no line.
// kBeyondDmidecode: dmidecode 3.4 stops at SMBIOS 3.3; the PMIC0 and RCD
//   fields (SMBIOS 3.7, 0x5C-0x63) have no line, and names added later (HBM3,
//   CAMM) are nameless codes to it (see kNamelessCode).
// kExtendedSpeedGate: dmidecode reads the Extended Speed (0x54) only when the
//   length byte also covers the Extended Configured Memory Speed (0x5C); we
//   read each field the length covers, so at lengths 0x58-0x5B a speed word
//   of 0xFFFF is "Unknown" to dmidecode and the extended figure to us.
// kOlderName: dmidecode 3.4 calls memory technology 7 "Intel Optane DC
//   persistent memory", the name DSP0134 3.2 gave it; ours is the later
//   "Intel Optane persistent memory"; array location 0xA4 is "CXL Flexbus
//   1.0" to it, "CXL Add-on Card" to us. It spells Type Detail bit 6
//   "RAMBus"; DSP0134 and we write "RAMBUS".
// kNamelessCode: a code without a DSP0134 name is null for us (the raw code
//   stays beside it); dmidecode prints words in angle brackets or, for the
//   reserved memory types 0x15-0x17, "Reserved".
// kNonPrintableAsDot: dmidecode shows bytes below 0x20, 0x7F and above 0x7F
//   as '.'; we keep the firmware's bytes (bytes_hex when not UTF-8).
// kStringAbsent: string number 0 is "Not Specified" for dmidecode, and one
//   past the string set "<BAD INDEX>"; for us "raw" is null for both, with
//   the string number beside it.
// kSizeGroups: dmidecode writes a size with at most its two highest non-zero
//   1024-groups ("7680 GB" for 7681 GiB and a bit); we write the exact bytes,
//   and compare through dmidecode's rounding.
// kUnknownAsNull: dmidecode's "Unknown" for a speed of 0, a rank of 0 or an
//   unknown size is null in our decoded key (the raw one keeps the number).
// kEmptySlotQuirk: for a size word of 0 ("No Module Installed") dmidecode
//   prints nothing after Type Detail; we decode the rest of the structure.
// kTruncatedLast: a last structure whose string set is not closed before the
//   table's end is "<TRUNCATED>" for dmidecode; it is compared up to the
//   fields dmidecode printed for it (none).
// kKibAddress: dmidecode prints a mapped address too large for its 64-bit
//   byte figure in KiB with a trailing k; that one is not compared. It
//   prints no interleave line for 0.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "detail_doc.h"
#include "dmidecode_compare.h"

namespace {

using detail_doc::number;
using nlohmann::json;

struct DmiStructure {
  int handle = 0;
  int type = 0;
  int length = 0;
  bool truncated = false;
  std::map<std::string, std::string> lines;
};

std::vector<DmiStructure> parse(const std::string& text) {
  std::vector<DmiStructure> out;
  std::istringstream in(text);
  std::string line;
  DmiStructure* cur = nullptr;
  while (std::getline(in, line)) {
    unsigned handle = 0;
    int type = 0, length = 0;
    if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %d, %d bytes", &handle, &type, &length) ==
        3) {
      cur = nullptr;
      if (type != 16 && type != 17 && type != 19 && type != 20) continue;
      out.push_back(DmiStructure{static_cast<int>(handle), type, length, false, {}});
      cur = &out.back();
      continue;
    }
    if (cur == nullptr || line.size() < 2 || line[0] != '\t' || line[1] == '\t') continue;
    if (line == "\t<TRUNCATED>") {
      cur->truncated = true;
      continue;
    }
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    cur->lines[line.substr(1, colon - 1)] = line.substr(colon + 2);
  }
  return out;
}

std::string hex4(uint64_t v) {
  char b[24];  // room for any 64-bit value
  std::snprintf(b, sizeof b, "0x%04" PRIX64, v);
  return b;
}

// dmidecode's rendering of a size (kSizeGroups): value in units of 1024^shift
// bytes, shown in the largest unit with at most two 1024-groups.
std::string dmi_size(uint64_t value, int shift) {
  static const char* const unit[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB", "ZB"};
  uint16_t split[7];
  for (int i = 0; i < 7; ++i) split[i] = static_cast<uint16_t>((value >> (10 * i)) & 0x3FF);
  int i = 6;
  while (i > 0 && split[i] == 0) --i;
  unsigned long capacity;
  if (i > 0 && split[i - 1] != 0) {
    --i;
    capacity = split[i] + (static_cast<unsigned long>(split[i + 1]) << 10);
  } else {
    capacity = split[i];
  }
  return std::to_string(capacity) + " " + unit[i + shift];
}

std::string dmi_handle(uint64_t h) {
  if (h == 0xFFFE) return "Not Provided";
  if (h == 0xFFFF) return "No Error";
  return hex4(h);
}

std::string dmi_bytes_size(uint64_t v) {
  if (v == ~uint64_t{0}) return "Unknown";
  if (v == 0) return "None";
  return dmi_size(v, 0);
}

std::string dmi_maker(uint64_t id) {
  if (id == 0) return "Unknown";
  char b[40];
  std::snprintf(b, sizeof b, "Bank %d, Hex 0x%02X", static_cast<int>(id & 0x7F) + 1,
                static_cast<unsigned>(id >> 8));
  return b;
}

std::string dmi_voltage(uint64_t mv) {
  if (mv == 0) return "Unknown";
  char b[32];
  std::snprintf(b, sizeof b, mv % 100 ? "%g V" : "%.1f V", static_cast<float>(mv) / 1000);
  return b;
}

// kNonPrintableAsDot, kStringAbsent.
std::string dmi_string(const json& text) {
  const auto bytes = detail_doc::firmware_bytes(text);
  if (!bytes) return text["string_number"] == 0 ? "Not Specified" : "<BAD INDEX>";
  std::string out = *bytes;
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F) c = '.';
  }
  return out;
}

std::string dmi_flags(const json& f) {
  if ((f["raw"].get<uint64_t>() & 0xFFFE) == 0) return "None";
  std::string out;
  for (const auto& n : f["names"]) {
    const std::string name = n.get<std::string>();
    out +=
        (out.empty() ? "" : " ") + (name == "RAMBUS" ? std::string("RAMBus") : name);  // kOlderName
  }
  return out;
}

class Check {
 public:
  Check(const std::string& what, const json& ours, const DmiStructure& dmi,
        std::vector<std::string>* out)
      : what_(what), ours_(ours), dmi_(dmi), out_(out) {}

  // Compares dmidecode's line `key` with `want` (built from our key `ours`).
  // gate: the length at which dmidecode prints the line (kDmidecodeGroupGate).
  void line(const char* key, const char* ours, int gate, const std::optional<std::string>& want) {
    const auto it = dmi_.lines.find(key);
    const std::optional<std::string> got =
        it == dmi_.lines.end() ? std::nullopt : std::optional<std::string>(it->second);
    if (dmi_.truncated) return;  // kTruncatedLast
    const bool null = ours_[ours].is_null();
    // kEmptySlotQuirk: the fields after Type Detail (gates above 0x15).
    const bool quirk = dmi_.type == 17 && gate > 0x15 && number(ours_, "size_raw") == 0;
    if (dmi_.length < gate || quirk) {
      if (got) report(key, ours, "a line dmidecode should not print here: \"" + *got + "\"");
      return;  // kDmidecodeGroupGate
    }
    if (null) {
      if (got) report(key, ours, "null, dmidecode \"" + *got + "\"");
      return;
    }
    if (!want) return;  // checked by the caller
    if (!got || *got != *want)
      report(key, ours,
             "ours means \"" + *want + "\", dmidecode " + (got ? "\"" + *got + "\"" : "(no line)"));
  }

  // A coded value (kNamelessCode, kBeyondDmidecode).
  void code(const char* key, const char* ours, int gate) {
    if (ours_[ours].is_null()) return line(key, ours, gate, std::nullopt);
    const json& c = ours_[ours];
    const auto it = dmi_.lines.find(key);
    const bool nameless =
        it != dmi_.lines.end() &&
        ((it->second.size() >= 2 && it->second.front() == '<' && it->second.back() == '>') ||
         it->second == "Reserved");
    if (nameless && (c["name"].is_null() || kNewerNames.count(c["name"].get<std::string>())))
      return;
    static const std::map<std::string, std::string> older = {
        {"Intel Optane persistent memory", "Intel Optane DC persistent memory"},
        {"CXL Add-on Card", "CXL Flexbus 1.0"}};  // kOlderName
    std::string name = c["name"].is_null() ? "(nameless)" : c["name"].get<std::string>();
    if (older.count(name)) name = older.at(name);
    line(key, ours, gate, name);
  }

  void text(const char* key, const char* ours, int gate) {
    line(key, ours, gate,
         ours_[ours].is_null() ? std::nullopt : std::optional(dmi_string(ours_[ours])));
  }

  template <typename F>
  void value(const char* key, const char* ours, int gate, F render) {
    const auto v = number(ours_, ours);
    line(key, ours, gate, v ? std::optional<std::string>(render(*v)) : std::nullopt);
  }

  // A decoded figure whose null is dmidecode's "Unknown" (kUnknownAsNull);
  // present tells whether the raw field is there at all.
  template <typename F>
  void figure(const char* key, const char* ours, const char* raw, int gate, F render) {
    if (ours_[raw].is_null()) return line(key, raw, gate, std::nullopt);
    const auto v = number(ours_, ours);
    line(key, raw, gate, v ? render(*v) : std::string("Unknown"));
  }

  void report(const std::string& key, const std::string& ours, const std::string& detail) {
    out_->push_back(what_ + " (handle " + hex4(static_cast<uint64_t>(dmi_.handle)) + "): " + key +
                    " [" + ours + "]: " + detail);
  }

  // dmidecode's number on line `key` (hex with 0x, else decimal) against
  // ours; a KiB figure dmidecode marks with a trailing k, or a missing
  // figure of ours, is not compared.
  void number_line(const char* key, const char* ours, int gate) {
    const auto it = dmi_.lines.find(key);
    const auto v = number(ours_, ours);
    if (!v || dmi_.truncated || dmi_.length < gate) return;  // kTruncatedLast, kDmidecodeGroupGate
    if (it == dmi_.lines.end()) return report(key, ours, "no line from dmidecode");
    const std::string& got = it->second;
    if (!got.empty() && got.back() == 'k') return;
    const bool hex = got.rfind("0x", 0) == 0;
    const uint64_t theirs = std::strtoull(got.c_str() + (hex ? 2 : 0), nullptr, hex ? 16 : 10);
    if (theirs != *v)
      report(key, ours, "ours " + std::to_string(*v) + ", dmidecode \"" + got + "\"");
  }

  const json& ours() const { return ours_; }

 private:
  static inline const std::set<std::string> kNewerNames = {"HBM3", "CAMM"};  // kBeyondDmidecode
  std::string what_;
  const json& ours_;
  const DmiStructure& dmi_;
  std::vector<std::string>* out_;
};

void check_array(Check& c) {
  const json& a = c.ours();
  c.code("Location", "location", 0x0F);
  c.code("Use", "use", 0x0F);
  c.code("Error Correction Type", "error_correction", 0x0F);
  // The capacity is in KiB, or in bytes behind 0x80000000 (kSizeGroups).
  const auto raw = number(a, "maximum_capacity_raw");
  c.figure("Maximum Capacity", "maximum_capacity_bytes", "maximum_capacity_raw", 0x0F,
           [&](uint64_t bytes) {
             return raw && *raw == 0x80000000u ? dmi_size(bytes, 0) : dmi_size(bytes >> 10, 1);
           });
  c.value("Error Information Handle", "error_information_handle", 0x0F, dmi_handle);
  c.value("Number Of Devices", "declared_devices", 0x0F,
          [](uint64_t n) { return std::to_string(n); });
}

// A byte of type 20 where 0 has no line and 0xFF is "Unknown".
std::optional<std::string> position_text(const json& ours, const char* key) {
  const auto v = number(ours, key);
  if (!v || *v == 0) return std::nullopt;
  return *v == 0xFF ? std::string("Unknown") : std::to_string(*v);
}

void check_mapped(Check& c) {
  const json& m = c.ours();
  const int gate = m["type"] == 19 ? 0x0F : 0x13;
  c.number_line("Starting Address", "starting_address_bytes", gate);
  c.number_line("Ending Address", "ending_address_bytes", gate);
  if (m["type"] == 19) {
    c.value("Physical Array Handle", "array_handle", 0x0F, hex4);
    c.value("Partition Width", "partition_width", 0x0F,
            [](uint64_t n) { return std::to_string(n); });
    return;
  }
  c.value("Physical Device Handle", "device_handle", 0x13, hex4);
  c.value("Memory Array Mapped Address Handle", "array_mapped_address_handle", 0x13, hex4);
  for (const auto& [key, ours] : {std::pair{"Interleave Position", "interleave_position"},
                                  std::pair{"Interleaved Data Depth", "interleaved_data_depth"}}) {
    const auto want = position_text(m, ours);
    if (want) c.line(key, ours, 0x13, want);
  }
}

void check_device(Check& c) {
  const json& d = c.ours();
  c.value("Array Handle", "array_handle", 0x15, hex4);
  c.value("Error Information Handle", "error_information_handle", 0x15, dmi_handle);
  const auto width = [](uint64_t w) {
    return w == 0 || w == 0xFFFF ? std::string("Unknown") : std::to_string(w) + " bits";
  };
  c.value("Total Width", "total_width_bits", 0x15, width);
  c.value("Data Width", "data_width_bits", 0x15, width);
  const bool extended = number(d, "size_raw") == 0x7FFF && !d["extended_size_raw"].is_null();
  c.figure("Size", "size_bytes", "size_raw", 0x15, [&](uint64_t bytes) -> std::string {
    if (extended) {
      const uint64_t mb = bytes >> 20;
      if (mb & 0x3FF) return std::to_string(mb) + " MB";
      if (mb & 0xFFC00) return std::to_string(mb >> 10) + " GB";
      return std::to_string(mb >> 20) + " TB";
    }
    return bytes == 0 ? "No Module Installed" : dmi_size(bytes >> 10, 1);
  });
  c.code("Form Factor", "form_factor", 0x15);
  c.value("Set", "device_set", 0x15, [](uint64_t s) {
    return s == 0 ? std::string("None") : s == 0xFF ? std::string("Unknown") : std::to_string(s);
  });
  c.text("Locator", "locator", 0x15);
  c.text("Bank Locator", "bank_locator", 0x15);
  c.code("Type", "memory_type", 0x15);
  c.line("Type Detail", "type_detail", 0x15,
         d["type_detail"].is_null() ? std::nullopt : std::optional(dmi_flags(d["type_detail"])));
  const auto mts = [](uint64_t v) { return std::to_string(v) + " MT/s"; };
  const bool no_extended = d["length"] < 0x5C && number(d, "speed_raw") == 0xFFFF;
  c.figure("Speed", "speed_mts", "speed_raw", 0x17, [&](uint64_t v) {
    return no_extended ? std::string("Unknown") : mts(v);  // kExtendedSpeedGate
  });
  c.text("Manufacturer", "manufacturer", 0x1B);
  c.text("Serial Number", "serial_number", 0x1B);
  c.text("Asset Tag", "asset_tag", 0x1B);
  c.text("Part Number", "part_number", 0x1B);
  c.figure("Rank", "rank", "attributes_raw", 0x1C, [](uint64_t r) { return std::to_string(r); });
  c.figure("Configured Memory Speed", "configured_speed_mts", "configured_speed_raw", 0x22, mts);
  c.value("Minimum Voltage", "minimum_voltage_mv", 0x28, dmi_voltage);
  c.value("Maximum Voltage", "maximum_voltage_mv", 0x28, dmi_voltage);
  c.value("Configured Voltage", "configured_voltage_mv", 0x28, dmi_voltage);
  c.code("Memory Technology", "memory_technology", 0x34);
  c.line("Memory Operating Mode Capability", "operating_mode_capability", 0x34,
         d["operating_mode_capability"].is_null()
             ? std::nullopt
             : std::optional(dmi_flags(d["operating_mode_capability"])));
  c.text("Firmware Version", "firmware_version", 0x34);
  c.value("Module Manufacturer ID", "module_manufacturer_id", 0x34, dmi_maker);
  const auto product = [](uint64_t p) { return p == 0 ? std::string("Unknown") : hex4(p); };
  c.value("Module Product ID", "module_product_id", 0x34, product);
  c.value("Memory Subsystem Controller Manufacturer ID", "subsystem_controller_manufacturer_id",
          0x34, dmi_maker);
  c.value("Memory Subsystem Controller Product ID", "subsystem_controller_product_id", 0x34,
          product);
  c.value("Non-Volatile Size", "non_volatile_size_bytes", 0x3C, dmi_bytes_size);
  c.value("Volatile Size", "volatile_size_bytes", 0x44, dmi_bytes_size);
  c.value("Cache Size", "cache_size_bytes", 0x4C, dmi_bytes_size);
  c.value("Logical Size", "logical_size_bytes", 0x54, dmi_bytes_size);
  // kBeyondDmidecode: the PMIC0 and RCD words have no line in dmidecode 3.4.
}

}  // namespace

std::vector<std::string> compare_detail_with_dmidecode(const std::string& detail_json,
                                                       const std::string& dmi_path) {
  std::vector<std::string> out;
  const json doc = json::parse(detail_json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("arrays") ||
      !doc.contains("devices")) {
    out.push_back("not a detail document: " + detail_json.substr(0, 200));
    return out;
  }
  std::string error;
  const auto text = run_dmidecode(dmi_path, "16,17", &error);
  if (!text) {
    out.push_back("dmidecode: " + error);
    return out;
  }
  std::vector<DmiStructure> arrays, devices;
  for (const DmiStructure& s : parse(*text)) (s.type == 16 ? arrays : devices).push_back(s);
  const auto compare = [&](const char* what, const json& ours, const std::vector<DmiStructure>& dmi,
                           void (*check)(Check&)) {
    if (ours.size() != dmi.size())
      out.push_back(std::string(what) + " count: ours " + std::to_string(ours.size()) +
                    ", dmidecode " + std::to_string(dmi.size()));
    for (size_t i = 0; i < ours.size() && i < dmi.size(); ++i) {
      const std::string name = std::string(what) + " " + std::to_string(i);
      if (ours[i]["handle"] != dmi[i].handle || ours[i]["length"] != dmi[i].length) {
        out.push_back(name + ": handle or length differs from dmidecode's");
        continue;
      }
      Check c(name, ours[i], dmi[i], &out);
      check(c);
    }
  };
  compare("array", doc["arrays"], arrays, check_array);
  compare("device", doc["devices"], devices, check_device);
  // Types 19 and 20, in table order, where the document has them.
  if (!doc.contains("mapped_addresses")) return out;
  const auto mapped_text = run_dmidecode(dmi_path, "19,20", &error);
  if (!mapped_text) {
    out.push_back("dmidecode: " + error);
    return out;
  }
  compare("mapped address", doc["mapped_addresses"], parse(*mapped_text), check_mapped);
  return out;
}
