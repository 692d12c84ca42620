#include "dmidecode_compare.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

// The differences between our report and dmidecode's text that are ours by
// design. Each is applied by name below; anything they do not cover is a
// disagreement.
//
// kStringAsCopied: we trim trailing spaces, escape " and \, drop bytes 0x01 to
//   0x1F and keep at most 62 bytes (63 when the last is escaped) so a string
//   always fits its 64-byte field; dmidecode prints the whole string.
// kNonPrintableAsDot: dmidecode shows every byte below 0x20, 0x7F and every
//   byte above 0x7F as '.'; we drop the first kind and pass the others through,
//   so a '.' of dmidecode stands for '.', nothing, or one such byte of ours.
// kStringAbsent: a string number of 0 is "Not Specified" and one past the
//   string set "<BAD INDEX>" for dmidecode; both are "" for us, as is a string
//   whose number byte the structure is too short to hold (dmidecode: no line).
// kTypeOutsideOurNames: dmidecode names every memory type of DSP0134; we name
//   eight and report every other code as "Unknown".
// kFormFactorOutsideOurNames: likewise, every form factor outside our six
//   names is "Other" for us.
// kSpeedWordFFFF: a Speed or Configured Memory Speed word of 0xFFFF is copied
//   as 65535; dmidecode follows it to the Extended Speed (SMBIOS 3.3) or
//   prints "Unknown".
// kNumberAbsent: a speed or voltage of 0 ("Unknown" for dmidecode), or one
//   beyond the structure's length (no line), is 0 for us.
// kSizeInMiB: dmidecode prints the size in the largest unit that keeps it
//   whole; we give whole MiB, rounded down, so under 1 MiB is 0.
// kNotPopulatedIsShort: a device of size 0, unknown size (0xFFFF) or under
//   1 MiB is {"slot","size_mb":0} for us; dmidecode may still list its fields.
// kShortType17NotADevice: a type-17 structure of fewer than 21 bytes has no
//   room for the fields we report, so we skip it; dmidecode lists it bare.
// kTruncatedLast: a last structure whose string set is not closed (or whose
//   formatted area runs) before the table's end is refused by dmidecode as
//   "<TRUNCATED>"; our walk still yields it and reads what the table holds.
// kReportFull: our report must fit 16 KiB, so it stops adding devices once its
//   text reaches 16,128 bytes or when the next one would leave no room for the
//   closing "]}"; dmidecode lists them all.

namespace {

constexpr size_t kFieldCap = 64;        // our text fields, NUL included
constexpr size_t kReportCap = 16384;    // our report's buffer, NUL included
constexpr size_t kLargestObject = 439;  // a populated device with every field at its longest
constexpr size_t kClose = 3;            // "]}" and the NUL

const std::set<std::string> kOurTypeNames = {"SDRAM", "DDR",    "DDR2", "DDR3",
                                             "DDR4",  "LPDDR4", "DDR5", "LPDDR5"};
const std::set<std::string> kOurFormFactorNames = {"SIMM",   "DIMM",  "RIMM",
                                                   "SODIMM", "SRIMM", "FB-DIMM"};

struct DmiDevice {
  int handle = 0;
  int length = 0;  // the structure's length byte
  bool truncated = false;
  std::map<std::string, std::string> fields;

  std::optional<std::string> field(const std::string& key) const {
    auto it = fields.find(key);
    if (it == fields.end()) return std::nullopt;
    return it->second;
  }
};

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string dmidecode_path() {
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':'))
      if (!dir.empty()) dirs.push_back(dir);
  }
  dirs.push_back("/usr/sbin");
  dirs.push_back("/sbin");
  for (const std::string& dir : dirs) {
    const std::string candidate = dir + "/dmidecode";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

}  // namespace

std::optional<std::string> run_dmidecode(const std::string& dmi_path, const std::string& types,
                                         std::string* error) {
  const std::string exe = dmidecode_path();
  if (exe.empty()) {
    *error = "dmidecode not found";
    return std::nullopt;
  }
  // A broken table makes dmidecode complain on stderr; only stdout is decoded.
  const std::string command =
      shell_quote(exe) + " --from-dump " + shell_quote(dmi_path) + " -t " + types + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *error = "cannot start " + command;
    return std::nullopt;
  }
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  const int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = command + " failed";
    return std::nullopt;
  }
  return out;
}

namespace {

// The Memory Devices of dmidecode's text, in order, with their "Key: Value"
// lines as printed (values keep their trailing spaces).
std::vector<DmiDevice> parse_dmidecode(const std::string& text) {
  std::vector<DmiDevice> devices;
  std::istringstream in(text);
  std::string line;
  DmiDevice* current = nullptr;
  while (std::getline(in, line)) {
    unsigned handle = 0;
    int type = 0, length = 0;
    if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %d, %d bytes", &handle, &type, &length) ==
        3) {
      current = nullptr;
      if (type != 17) continue;
      if (length < 21) continue;  // kShortType17NotADevice
      devices.push_back(DmiDevice{static_cast<int>(handle), length, false, {}});
      current = &devices.back();
      continue;
    }
    if (current == nullptr || line.size() < 2 || line[0] != '\t' || line[1] == '\t') continue;
    if (line == "\t<TRUNCATED>") {
      current->truncated = true;
      continue;
    }
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    current->fields[line.substr(1, colon - 1)] = line.substr(colon + 2);
  }
  return devices;
}

std::string json_escape(const std::string& s) {
  std::string e;
  for (char c : s) {
    if (c == '"' || c == '\\') e += '\\';
    e += c;
  }
  return e;
}

// Whether our field text (as parsed from the JSON, bytes above 0x7F shown as
// 0x7F) is what our copying rules make of a firmware string that dmidecode
// printed as `dmi`. A '.' of dmidecode may stand for several source bytes
// (kNonPrintableAsDot), so the copy is run over every choice.
bool string_copy_agrees(const std::string& ours, const std::string& dmi) {
  const std::string want = json_escape(ours);
  // kStringAsCopied: trailing spaces are trimmed, so our field never ends in one.
  if (!want.empty() && want.back() == ' ') return false;
  // The copy writes `want` followed by the spaces it later trims.
  auto at = [&](size_t o) { return o < want.size() ? want[o] : ' '; };
  constexpr char kDropped = 0;  // a control byte, dropped by the copy
  constexpr char kDel = 0x7F;   // 0x7F or a byte above it, copied as it is
  std::vector<std::array<int8_t, kFieldCap + 1>> memo(dmi.size() + 1);
  for (auto& row : memo) row.fill(-1);
  auto step = [&](auto&& self, size_t i, size_t o) -> bool {
    // kStringAsCopied: each byte needs room for two output bytes and the NUL.
    if (i == dmi.size() || o + 2 >= kFieldCap) return o >= want.size();
    int8_t& seen = memo[i][o];
    if (seen >= 0) return seen != 0;
    std::vector<char> sources;
    if (dmi[i] == '.')
      sources = {'.', kDropped, kDel};
    else
      sources = {dmi[i]};
    bool ok = false;
    for (char b : sources) {
      if (b == kDropped)
        ok = self(self, i + 1, o);
      else if (b == '"' || b == '\\')
        ok = at(o) == '\\' && at(o + 1) == b && self(self, i + 1, o + 2);
      else
        ok = at(o) == b && self(self, i + 1, o + 1);
      if (ok) break;
    }
    seen = ok ? 1 : 0;
    return ok;
  };
  return step(step, 0, 0);
}

bool string_agrees(const std::string& ours, const std::optional<std::string>& dmi) {
  if (!dmi) return ours.empty();  // kStringAbsent: no line
  if ((*dmi == "Not Specified" || *dmi == "<BAD INDEX>") && ours.empty())
    return true;  // kStringAbsent
  return string_copy_agrees(ours, *dmi);
}

// Size in MiB from dmidecode's "Size" text; kSizeInMiB and kNotPopulatedIsShort.
std::optional<int64_t> dmi_size_mb(const std::string& text) {
  if (text == "No Module Installed" || text == "Unknown") return 0;
  unsigned long long n = 0;
  char unit[8] = {};
  if (std::sscanf(text.c_str(), "%llu %7s", &n, unit) != 2) return std::nullopt;
  static const std::map<std::string, int> kShift = {{"bytes", -20}, {"kB", -10}, {"MB", 0},
                                                    {"GB", 10},     {"TB", 20},  {"PB", 30}};
  auto it = kShift.find(unit);
  if (it == kShift.end()) return std::nullopt;
  return it->second < 0 ? static_cast<int64_t>(n >> -it->second)
                        : static_cast<int64_t>(n << it->second);
}

// A speed in MT/s ("2400 MT/s"; "MHz" in older dmidecode); nullopt for
// "Unknown" or a missing line.
std::optional<int64_t> dmi_number(const std::optional<std::string>& text) {
  long long n = 0;
  if (!text || std::sscanf(text->c_str(), "%lld", &n) != 1) return std::nullopt;
  return n;
}

std::optional<int64_t> dmi_millivolts(const std::optional<std::string>& text) {
  double v = 0;
  if (!text || std::sscanf(text->c_str(), "%lf V", &v) != 1) return std::nullopt;
  return std::llround(v * 1000);
}

std::string shown(const std::optional<std::string>& dmi) {
  return dmi ? "\"" + *dmi + "\"" : std::string("(no line)");
}

class DeviceCheck {
 public:
  DeviceCheck(size_t index, const nlohmann::json& ours, const DmiDevice& dmi,
              std::vector<std::string>* out)
      : index_(index), ours_(ours), dmi_(dmi), out_(out) {}

  void run() {
    if (!ours_.is_object()) {
      disagree("object", ours_.dump(), "a Memory Device");
      return;
    }
    // kTruncatedLast: dmidecode decodes nothing of it, so nothing is compared.
    if (dmi_.truncated) return;

    const auto dmi_size = dmi_.field("Size");
    const std::optional<int64_t> want_size = dmi_size ? dmi_size_mb(*dmi_size) : std::nullopt;
    if (!want_size) {
      disagree("size_mb", text_of("size_mb"), shown(dmi_size) + " (not understood)");
    } else if (ours_.contains("size_mb") &&
               (!has_int("size_mb") || ours_["size_mb"].get<int64_t>() != *want_size)) {
      disagree("size_mb", text_of("size_mb"), shown(dmi_size));
    }
    check_string("slot", "Locator");

    const bool populated = want_size && *want_size > 0;
    const std::set<std::string> want_keys =
        populated ? std::set<std::string>{"slot",
                                          "size_mb",
                                          "type",
                                          "speed_mts",
                                          "configured_speed_mts",
                                          "manufacturer",
                                          "part_number",
                                          "serial",
                                          "voltage_mv",
                                          "form_factor"}
                  : std::set<std::string>{"slot", "size_mb"};  // kNotPopulatedIsShort
    std::string missing, extra;
    for (const auto& k : want_keys)
      if (!ours_.contains(k)) missing += " " + k;
    for (auto it = ours_.begin(); it != ours_.end(); ++it)
      if (!want_keys.count(it.key())) extra += " " + it.key();
    if (!missing.empty() || !extra.empty())
      disagree("keys",
               (missing.empty() ? "" : "lack" + missing) + (extra.empty() ? "" : " have" + extra),
               populated ? "a populated device (all ten keys)"
                         : "an empty slot (slot and size_mb only)");
    if (!populated) return;

    check_name("type", "Type", kOurTypeNames, "Unknown");
    check_name("form_factor", "Form Factor", kOurFormFactorNames, "Other");
    check_speed("speed_mts", dmi_.field("Speed"));
    auto configured = dmi_.field("Configured Memory Speed");
    if (!configured) configured = dmi_.field("Configured Clock Speed");
    check_speed("configured_speed_mts", configured);
    check_string("manufacturer", "Manufacturer");
    check_string("serial", "Serial Number");
    check_string("part_number", "Part Number");
    const auto volts = dmi_.field("Configured Voltage");
    const int64_t want_mv = dmi_millivolts(volts).value_or(0);  // kNumberAbsent
    if (ours_.contains("voltage_mv") && !has_int("voltage_mv")) {
      disagree("voltage_mv", text_of("voltage_mv"), shown(volts));
    } else if (has_int("voltage_mv") && ours_["voltage_mv"].get<int64_t>() != want_mv)
      disagree("voltage_mv", text_of("voltage_mv"), shown(volts));
  }

 private:
  bool has_int(const char* key) const {
    return ours_.contains(key) && ours_[key].is_number_integer();
  }
  bool has_string(const char* key) const { return ours_.contains(key) && ours_[key].is_string(); }
  std::string text_of(const char* key) const {
    return ours_.contains(key) ? ours_[key].dump() : std::string("(missing)");
  }

  void disagree(const std::string& field, const std::string& ours, const std::string& dmi) {
    std::string slot = ours_.is_object() && ours_.contains("slot") ? ours_["slot"].dump() : "?";
    out_->push_back("device " + std::to_string(index_) + " (" + slot + ", handle 0x" +
                    hex(dmi_.handle) + "): " + field + ": ours " + ours + ", dmidecode " + dmi);
  }

  static std::string hex(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", static_cast<unsigned>(v) & 0xFFFF);
    return b;
  }

  void check_string(const char* key, const char* dmi_key) {
    if (!ours_.contains(key)) return;  // reported with the keys
    const auto dmi = dmi_.field(dmi_key);
    if (!has_string(key) || !string_agrees(ours_[key].get<std::string>(), dmi))
      disagree(key, text_of(key), shown(dmi));
  }

  // kTypeOutsideOurNames, kFormFactorOutsideOurNames.
  void check_name(const char* key, const char* dmi_key, const std::set<std::string>& ours_names,
                  const char* fallback) {
    if (!ours_.contains(key)) return;  // reported with the keys
    const auto dmi = dmi_.field(dmi_key);
    const std::string want = dmi && ours_names.count(*dmi) ? *dmi : fallback;
    if (!has_string(key) || ours_[key].get<std::string>() != want)
      disagree(key, text_of(key), shown(dmi));
  }

  void check_speed(const char* key, const std::optional<std::string>& dmi) {
    if (!ours_.contains(key)) return;  // reported with the keys
    if (!has_int(key)) {
      disagree(key, text_of(key), shown(dmi));
      return;
    }
    const int64_t ours = ours_[key].get<int64_t>();
    // kSpeedWordFFFF: dmidecode shows "Unknown" for it, or the Extended Speed
    // when the structure is long enough (0x5C bytes) to hold one.
    if (ours == 0xFFFF && dmi && (*dmi == "Unknown" || dmi_.length >= 0x5C)) return;
    if (ours != dmi_number(dmi).value_or(0))
      disagree(key, text_of(key), shown(dmi));  // kNumberAbsent
  }

  size_t index_;
  const nlohmann::json& ours_;
  const DmiDevice& dmi_;
  std::vector<std::string>* out_;
};

}  // namespace

void write_dmidecode_dump(const std::vector<uint8_t>& table, const std::string& path, uint8_t major,
                          uint8_t minor) {
  // SMBIOS 3.0 entry point, DMTF DSP0134 section 5.2.2.
  std::vector<uint8_t> file(32, 0);
  const char anchor[] = "_SM3_";
  for (int i = 0; i < 5; ++i) file[i] = static_cast<uint8_t>(anchor[i]);
  file[0x06] = 0x18;  // entry point length
  file[0x07] = major;
  file[0x08] = minor;
  file[0x0A] = 0x01;  // entry point revision
  const auto size = static_cast<uint32_t>(table.size());
  for (int i = 0; i < 4; ++i) file[0x0C + i] = static_cast<uint8_t>(size >> (8 * i));
  file[0x10] = 32;  // table address: right after the entry point, as dmidecode writes it
  uint8_t sum = 0;
  for (int i = 0; i < 0x18; ++i) sum = static_cast<uint8_t>(sum + file[i]);
  file[0x05] = static_cast<uint8_t>(0x100 - sum);
  file.insert(file.end(), table.begin(), table.end());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

bool dmidecode_available() { return !dmidecode_path().empty(); }

std::vector<std::string> compare_with_dmidecode(const std::string& report_json,
                                                const std::string& dmi_path) {
  std::vector<std::string> out;
  // Our strings pass bytes above 0x7F through, which need not be UTF-8 and
  // which the JSON parser refuses; dmidecode shows each as '.' anyway, so only
  // their place matters (kNonPrintableAsDot).
  std::string text = report_json;
  for (char& c : text)
    if (static_cast<unsigned char>(c) > 0x7F) c = 0x7F;
  const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("slots") ||
      !report["slots"].is_array()) {
    out.push_back("report: not a JSON object with a slots list: " + report_json);
    return out;
  }
  std::string error;
  const auto dmi_text = run_dmidecode(dmi_path, "17", &error);
  if (!dmi_text) {
    out.push_back("dmidecode: " + error);
    return out;
  }
  const std::vector<DmiDevice> dmi = parse_dmidecode(*dmi_text);
  const nlohmann::json& slots = report["slots"];

  for (size_t i = 0; i < dmi.size(); ++i) {
    if (dmi[i].truncated && i + 1 != dmi.size())
      out.push_back("device " + std::to_string(i) +
                    ": dmidecode reports a truncated structure that is not the last");
  }
  const size_t expected = dmi.size();
  // kReportFull: the list may end early only when one more device might not
  // have fitted.
  std::string_view body = report_json;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
  const size_t list_len = body.size() >= 2 ? body.size() - 2 : 0;  // without "]}"
  const bool full = list_len + kLargestObject + kClose > kReportCap;
  const bool count_ok = slots.size() == expected || (full && slots.size() < expected);
  if (!count_ok)
    out.push_back("device count: ours " + std::to_string(slots.size()) + ", dmidecode " +
                  std::to_string(expected));
  for (size_t i = 0; i < slots.size() && i < dmi.size(); ++i)
    DeviceCheck(i, slots[i], dmi[i], &out).run();
  return out;
}
