// The dmidecode comparison itself: every difference it excuses is one that the
// host really shows, and a report changed in any field is caught.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "dmidecode_compare.h"
#include "table_builder.h"

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// Saves the table for dmidecode and returns the host's report of it.
std::string report_of(const Bytes& t, const std::string& dmi_path) {
  write_dmidecode_dump(t, dmi_path);
  const CliResult r = run_cli({"--from-dump", dmi_path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

Bytes with_extended_speeds(Bytes formatted, uint32_t speed, uint32_t configured) {
  for (int i = 0; i < 4; ++i) {
    formatted[0x54 + i] = static_cast<uint8_t>(speed >> (8 * i));
    formatted[0x58 + i] = static_cast<uint8_t>(configured >> (8 * i));
  }
  return formatted;
}

// A populated module whose four strings are these.
Bytes module(const std::vector<std::string>& strings, Dimm d = Dimm{.size = 4096}) {
  d.locator = 1;
  d.manufacturer = 2;
  d.serial = 3;
  d.part = 4;
  return d.with(strings);
}

struct RuleCase {
  const char* name;
  Bytes (*table)();
};

// Each table shows one or more of the differences the comparison excuses.
const RuleCase kRuleCases[] = {
    {"strings_escaped_trimmed_and_cut",
     [] {
       return table({module({"DIMM \"A\"\\1   ", "Sam\tsung", std::string(70, 'P'),
                             std::string(61, 'Q') + "\"tail"}),
                     module({"  lead", std::string(59, 'x') + "   yz", "\x01\x02", "\x1f"}),
                     end_of_table()});
     }},
    {"bytes_above_0x7e",
     [] {
       return table({module({"caf\xe9", "\x7f\x80\xff", "s.n", "p\xc3\xa9"}), end_of_table()});
     }},
    {"strings_absent",
     [] {
       return table(
           {Dimm{.size = 2048, .locator = 1, .manufacturer = 0, .serial = 7, .part = 2}.with(
                {"DIMM_B0", "Not Specified"}),
            Dimm{.size = 2048, .locator = 0}.with({}), end_of_table()});
     }},
    {"names_outside_our_tables",
     [] {
       return table(
           {module({"a", "b", "c", "d"}, Dimm{.size = 1024, .form_factor = 0x02, .type = 0x07}),
            module({"a", "b", "c", "d"}, Dimm{.size = 1024, .form_factor = 0x10, .type = 0x1B}),
            module({"a", "b", "c", "d"}, Dimm{.size = 1024, .form_factor = 0x00, .type = 0x00}),
            module({"a", "b", "c", "d"}, Dimm{.size = 1024, .form_factor = 0xFF, .type = 0xFF}),
            end_of_table()});
     }},
    {"speed_word_ffff",
     [] {
       return table(
           {module({"a", "b", "c", "d"},
                   Dimm{.size = 1024, .speed = 0xFFFF, .configured_speed = 0xFFFF}),
            structure(with_extended_speeds(
                Dimm{.length = 0x5C, .size = 1024, .speed = 0xFFFF, .configured_speed = 0xFFFF}
                    .formatted(),
                70000, 68000)),
            end_of_table()});
     }},
    {"numbers_absent",
     [] {
       return table({module({"a", "b", "c", "d"}, Dimm{.size = 1024}), end_of_table()});
     }},
    {"sizes",
     [] {
       return table({Dimm{.size = 0x8000 | 512}.with({}), Dimm{.size = 0x8000 | 2048}.with({}),
                     Dimm{.size = 0x8000 | 1536}.with({}),
                     module({"unknown size", "b", "c", "d"}, Dimm{.size = 0xFFFF, .speed = 2400}),
                     Dimm{.size = 0x7FFF, .extended_size = 0x80008000}.with({}),
                     Dimm{.length = 31, .size = 0x7FFF, .extended_size = 8}.with({}),
                     Dimm{.size = 0x7FFF, .extended_size = 0}.with({}),
                     Dimm{.size = 0x7FFF, .extended_size = 3 << 20}.with({}),
                     Dimm{.size = 0}.with({}), end_of_table()});
     }},
    {"lengths",
     [] {
       std::vector<Bytes> pieces;
       for (uint8_t length : {20, 21, 22, 23, 26, 27, 33, 34, 39, 40})
         pieces.push_back(module({"slot", "maker", "serial", "part"}, Dimm{.length = length,
                                                                           .size = 512,
                                                                           .speed = 1600,
                                                                           .configured_speed = 1333,
                                                                           .voltage = 1500}));
       pieces.push_back(end_of_table());
       return table(pieces);
     }},
    {"last_string_set_not_closed",
     [] {
       Bytes t = table({module({"a", "b", "c", "d"}), module({"LAST", "m", "s", "p"})});
       t.pop_back();
       return t;
     }},
    {"last_formatted_area_cut",
     [] {
       Bytes t = table({module({"a", "b", "c", "d"}), Dimm{.size = 1024}.formatted()});
       t.resize(t.size() - 8);
       return t;
     }},
    {"report_full",
     [] {
       std::vector<Bytes> pieces;
       for (int i = 0; i < 80; ++i)
         pieces.push_back(module({std::to_string(i) + std::string(60, 's'), std::string(62, 'm'),
                                  std::string(62, 'n'), std::string(62, 'p')}));
       return table(pieces);
     }},
};

class ExcusedDifferenceTest : public testing::TestWithParam<RuleCase> {};

TEST_P(ExcusedDifferenceTest, HostAndDmidecodeAgree) {
  if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  const TempDir dir;
  const std::string dmi = dir.path() + "/t.dmi";
  const std::string report = report_of(GetParam().table(), dmi);
  const std::vector<std::string> diffs = compare_with_dmidecode(report, dmi);
  EXPECT_TRUE(diffs.empty()) << report << "\n" << joined(diffs);
}

INSTANTIATE_TEST_SUITE_P(Rules, ExcusedDifferenceTest, testing::ValuesIn(kRuleCases),
                         [](const testing::TestParamInfo<RuleCase>& info) {
                           return std::string(info.param.name);
                         });

// A report changed in one place, and the text the disagreement must name.
struct Tampering {
  const char* name;
  void (*change)(nlohmann::json& slots);
  const char* names;
};

const Tampering kTamperings[] = {
    {"slot", [](nlohmann::json& s) { s[1]["slot"] = "DIMM_A2"; }, "device 1 (\"DIMM_A2\""},
    {"empty_slot", [](nlohmann::json& s) { s[0]["slot"] = "X"; }, "device 0 (\"X\""},
    {"size", [](nlohmann::json& s) { s[1]["size_mb"] = 4096; }, "size_mb: ours 4096"},
    {"empty_size", [](nlohmann::json& s) { s[0]["size_mb"] = 1; }, "size_mb: ours 1"},
    {"type", [](nlohmann::json& s) { s[1]["type"] = "DDR3"; }, "type: ours \"DDR3\""},
    {"type_unknown", [](nlohmann::json& s) { s[1]["type"] = "Unknown"; }, "type"},
    {"speed", [](nlohmann::json& s) { s[1]["speed_mts"] = 3201; }, "speed_mts: ours 3201"},
    {"speed_ffff", [](nlohmann::json& s) { s[1]["speed_mts"] = 65535; }, "speed_mts: ours 65535"},
    {"configured_speed", [](nlohmann::json& s) { s[1]["configured_speed_mts"] = 0; },
     "configured_speed_mts"},
    {"manufacturer", [](nlohmann::json& s) { s[1]["manufacturer"] = "Samsang"; }, "manufacturer"},
    {"manufacturer_untrimmed", [](nlohmann::json& s) { s[1]["manufacturer"] = "Samsung "; },
     "manufacturer"},
    {"part_number", [](nlohmann::json& s) { s[1]["part_number"] = "M393"; }, "part_number"},
    {"serial", [](nlohmann::json& s) { s[1]["serial"] = ""; }, "serial"},
    {"voltage", [](nlohmann::json& s) { s[1]["voltage_mv"] = 1350; }, "voltage_mv: ours 1350"},
    {"form_factor", [](nlohmann::json& s) { s[1]["form_factor"] = "SODIMM"; }, "form_factor"},
    {"key_missing", [](nlohmann::json& s) { s[1].erase("serial"); }, "serial"},
    {"empty_slot_full_object", [](nlohmann::json& s) { s[0]["type"] = "DDR4"; }, "keys"},
    {"device_dropped", [](nlohmann::json& s) { s.erase(1); }, "device count: ours 1, dmidecode 2"},
    {"device_added", [](nlohmann::json& s) { s.push_back(s[0]); }, "device count: ours 3"},
};

class TamperingTest : public testing::TestWithParam<Tampering> {};

TEST_P(TamperingTest, IsNamedOnce) {
  if (!dmidecode_available()) GTEST_SKIP() << "dmidecode is not installed";
  const TempDir dir;
  const std::string dmi = dir.path() + "/t.dmi";
  const Bytes t =
      table({Dimm{.size = 0, .locator = 1}.with({"DIMM_A0"}),
             module({"DIMM_A1", "Samsung", "0123ABCD", "M393A2K43BB1-CTD"},
                    Dimm{.size = 8192, .speed = 3200, .configured_speed = 2933, .voltage = 1200}),
             end_of_table()});
  nlohmann::json report = nlohmann::json::parse(report_of(t, dmi));
  ASSERT_TRUE(compare_with_dmidecode(report.dump(), dmi).empty()) << "untouched report";
  GetParam().change(report["slots"]);
  const std::vector<std::string> diffs = compare_with_dmidecode(report.dump(), dmi);
  ASSERT_EQ(diffs.size(), 1u) << joined(diffs);
  EXPECT_NE(diffs[0].find(GetParam().names), std::string::npos) << diffs[0];
}

INSTANTIATE_TEST_SUITE_P(Report, TamperingTest, testing::ValuesIn(kTamperings),
                         [](const testing::TestParamInfo<Tampering>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
