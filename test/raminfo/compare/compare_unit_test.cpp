// The comparison behind raminfo --compare, over inventories built by hand,
// and the reader of the baseline documents it compares with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "compare/compare.h"
#include "detail/detail.h"
#include "generator.h"
#include "reference_reader.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kMiB = uint64_t{1} << 20;

module_state mod(const std::string& slot, const std::string& serial, const std::string& part,
                 uint64_t bytes = 16 * kGiB, const std::string& bank = "") {
  module_state m;
  m.slot = slot;
  m.serial = serial;
  m.part_number = part;
  m.size_bytes = bytes;
  m.bank_locator = bank;
  m.manufacturer = "Kingston";
  m.type = "DDR4";
  m.speed_mts = 3200;
  return m;
}

module_state empty_slot(const std::string& slot, const std::string& bank = "") {
  module_state m;
  m.slot = slot;
  m.bank_locator = bank;
  return m;
}

memory_state side(std::vector<module_state> modules) {
  memory_state s;
  s.modules = std::move(modules);
  return s;
}

struct CompareCase {
  const char* name;
  std::vector<module_state> before, now;
  std::vector<std::string> lines;
  int missing = 0, changed = 0, added = 0;
};

module_state with_leading_spaces(module_state m) {
  m.serial = "  " + m.serial;
  m.part_number = " " + m.part_number;
  return m;
}

module_state with(module_state m, void (*edit)(module_state*)) {
  edit(&m);
  return m;
}

const module_state kA = mod("DIMM 1", "254857A6", "KF3200C16D4/32GX", 32 * kGiB, "P0 CHANNEL A");
const module_state kB = mod("DIMM 1", "2048690C", "KF3200C16D4/32GX", 32 * kGiB, "P0 CHANNEL B");

const CompareCase kCases[] = {
    {"nothing_changed", {kA, kB}, {kA, kB}, {}},
    // The ASRock Rack X570D4U names two slots "DIMM 1": the order of their
    // structures says nothing.
    {"repeated_slot_name_other_order", {kA, kB}, {kB, kA}, {}},
    {"repeated_slot_name_other_order_without_banks",
     {with(kA, [](module_state* m) { m->bank_locator = ""; }),
      with(kB, [](module_state* m) { m->bank_locator = ""; })},
     {with(kB, [](module_state* m) { m->bank_locator = ""; }),
      with(kA, [](module_state* m) { m->bank_locator = ""; })},
     {}},
    // Nothing tells the two modules apart but their sizes: matched so that
    // neither appears to change size.
    {"repeated_slot_without_serials_other_order",
     {mod("DIMM 1", "", "", 8 * kGiB), mod("DIMM 1", "", "", 16 * kGiB)},
     {mod("DIMM 1", "", "", 16 * kGiB), mod("DIMM 1", "", "", 8 * kGiB)},
     {}},
    // The bank tells which "DIMM 1" a module is in.
    {"swapped_between_channels",
     {kA, kB},
     {with(kA, [](module_state* m) { m->bank_locator = "P0 CHANNEL B"; }),
      with(kB, [](module_state* m) { m->bank_locator = "P0 CHANNEL A"; })},
     {"DIMM 1 (P0 CHANNEL A): now in slot DIMM 1 (P0 CHANNEL B) (Kingston KF3200C16D4/32GX, 32 "
      "GiB, serial 254857A6)",
      "DIMM 1 (P0 CHANNEL B): now in slot DIMM 1 (P0 CHANNEL A) (Kingston KF3200C16D4/32GX, 32 "
      "GiB, serial 2048690C)"},
     0,
     2},
    // A plain baseline has no bank: either "DIMM 1" is the module's slot.
    {"bank_only_on_one_side",
     {with(kA, [](module_state* m) { m->bank_locator = ""; }),
      with(kB, [](module_state* m) { m->bank_locator = ""; })},
     {kB, kA},
     {}},
    {"one_of_two_repeated_slots_emptied",
     {kA, kB},
     {empty_slot("DIMM 1", "P0 CHANNEL A"), kB},
     {"DIMM 1 (P0 CHANNEL A): missing (was Kingston KF3200C16D4/32GX, 32 GiB, serial 254857A6)",
      "total 64 GiB → 32 GiB"},
     1},
    // udev's decoder strips white space at either end of a string.
    {"leading_spaces_on_one_side",
     {with_leading_spaces(mod("A1", "0123ABCD", "M393A2K43BB1-CTD"))},
     {mod("A1", "0123ABCD", "M393A2K43BB1-CTD")},
     {}},
    // udev gives no property for a slot name holding DEL or bytes that are not
    // UTF-8, and none for such a serial.
    {"slot_name_udev_drops",
     {mod("DIMM\x7F"
          "A",
          "0123ABCD", "M393A2K43BB1-CTD"),
      mod("DIMM_\xFC", "0123ABCE", "M393A2K43BB1-CTD")},
     {mod("", "0123ABCE", "M393A2K43BB1-CTD"), mod("", "0123ABCD", "M393A2K43BB1-CTD")},
     {}},
    {"serial_udev_drops",
     {mod("A1",
          "01\x7F"
          "3ABCD",
          "M393A2K43BB1-CTD")},
     {mod("A1", "", "M393A2K43BB1-CTD")},
     {}},
    // udev's entry says nothing of arrays: a flash device becomes system
    // memory, and the total stays the system memory either side knows of.
    {"flash_device_either_side_knows",
     {mod("A1", "1", "P", 8 * kGiB),
      with(mod("SYSTEM ROM", "", "", 2 * kMiB), [](module_state* m) { m->system_memory = false; })},
     {mod("A1", "1", "P", 8 * kGiB), mod("SYSTEM ROM", "", "", 2 * kMiB)},
     {}},
    {"flash_device_gone",
     {mod("A1", "1", "P", 8 * kGiB),
      with(mod("SYSTEM ROM", "", "", 2 * kMiB), [](module_state* m) { m->system_memory = false; })},
     {mod("A1", "1", "P", 8 * kGiB), empty_slot("SYSTEM ROM")},
     {"SYSTEM ROM: missing (was Kingston, 2 MiB)"},
     1},
    // Both sides of the total in one unit.
    {"all_modules_gone",
     {mod("A1", "1", "P", 32 * kGiB), mod("A2", "2", "P", 32 * kGiB)},
     {empty_slot("A1"), empty_slot("A2")},
     {"A1: missing (was Kingston P, 32 GiB, serial 1)",
      "A2: missing (was Kingston P, 32 GiB, serial 2)", "total 64 GiB → 0 GiB"},
     2},
    {"size_changed_across_units",
     {mod("A1", "1", "P", 512 * kMiB)},
     {mod("A1", "1", "P", 2 * kGiB)},
     {"A1: size 0.5 GiB → 2 GiB", "total 0.5 GiB → 2 GiB"},
     0,
     1},
    // 32 GiB and 32 GiB and 2 MiB both round to 32.0 GiB: MiB tell them apart.
    {"total_differs_below_its_unit",
     {mod("A1", "1", "P", 32 * kGiB)},
     {mod("A1", "1", "P", 32 * kGiB), mod("B1", "2", "Q", 2 * kMiB)},
     {"B1: new module (Kingston Q, 2 MiB, serial 2)", "total 32768 MiB → 32770 MiB"},
     0,
     0,
     1},
    {"replaced_in_its_slot",
     {mod("A1", "1111", "P"), mod("A2", "2222", "P")},
     {mod("A1", "3333", "P"), mod("A2", "2222", "P")},
     {"A1: replaced: serial 1111 → 3333"},
     0,
     1},
    {"moved_to_an_empty_slot",
     {mod("A1", "1111", "P"), empty_slot("A2")},
     {empty_slot("A1"), mod("A2", "1111", "P")},
     {"A1: now in slot A2 (Kingston P, 16 GiB, serial 1111)"},
     0,
     1},
    // A serial and part number two modules share cannot say where one went.
    {"shared_serials_never_move",
     {mod("A1", "XXXXXXXX", "P"), mod("A2", "XXXXXXXX", "P"), empty_slot("A3")},
     {empty_slot("A1"), mod("A2", "XXXXXXXX", "P"), mod("A3", "XXXXXXXX", "P")},
     {"A1: missing (was Kingston P, 16 GiB, serial XXXXXXXX)",
      "A3: new module (Kingston P, 16 GiB, serial XXXXXXXX)"},
     1,
     0,
     1},
    {"speed_changed_with_placeholder_serial",
     {mod("A1", "Not Specified", "P")},
     {with(mod("A1", "SerNum0", "P"), [](module_state* m) { m->speed_mts = 2933; })},
     {"A1: speed 3200 → 2933 MT/s"},
     0,
     1},
    // "Hynix Semiconductor" (the firmware) and "80AD" (another firmware, or
    // udev) are one maker; a real change of maker shows its one spelling.
    {"two_spellings_of_one_maker",
     {with(mod("A1", "1111", "P"),
           [](module_state* m) { m->manufacturer = "Hynix Semiconductor"; })},
     {with(mod("A1", "1111", "P"), [](module_state* m) { m->manufacturer = "80AD"; })},
     {}},
    // A maker's name saved by an older raminfo is the same maker today; the
    // part number names the maker where the string's code names a maker of
    // no memory.
    {"an_older_name_of_one_maker",
     {with(mod("A1", "1111", "P"), [](module_state* m) { m->vendor = "Crucial Technology"; })},
     {with(mod("A1", "1111", "P"), [](module_state* m) { m->vendor = "Crucial"; })},
     {}},
    {"maker_named_by_the_part_number",
     {with(mod("A1", "1111", "CMZ8GX3M2A1600C9"),
           [](module_state* m) { m->manufacturer = "0215"; })},
     {with(mod("A1", "1111", "CMZ8GX3M2A1600C9"),
           [](module_state* m) { m->manufacturer = "Corsair"; })},
     {}},
    {"maker_changed",
     {with(mod("A1", "1111", "P"), [](module_state* m) { m->manufacturer = "Samsung"; })},
     {with(mod("A1", "1111", "P"), [](module_state* m) { m->manufacturer = "00AD00B300AD"; })},
     {"A1: manufacturer Samsung → SK Hynix"},
     0,
     1},
    {"control_bytes_shown_as_question_marks",
     {mod("A1", "1111", "P")},
     {mod("A1", "22\x1B[2J", "P")},
     {"A1: replaced: serial 1111 → 22?[2J"},
     0,
     1},
};

class Compare : public testing::TestWithParam<CompareCase> {};

TEST_P(Compare, GivesTheseLinesAndCounts) {
  const CompareCase& k = GetParam();
  const comparison c = compare_states(side(k.before), side(k.now));
  EXPECT_EQ(c.lines, k.lines);
  EXPECT_EQ(c.missing, k.missing);
  EXPECT_EQ(c.changed, k.changed);
  EXPECT_EQ(c.added, k.added);
  // The other way round, a module missing is a module new: the same number
  // of differences.
  const comparison back = compare_states(side(k.now), side(k.before));
  EXPECT_EQ(back.missing, k.added);
  EXPECT_EQ(back.added, k.missing);
  EXPECT_EQ(back.changed, k.changed);
}

INSTANTIATE_TEST_SUITE_P(States, Compare, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The baseline reader over documents written by hand.
struct ReadCase {
  const char* name;
  std::string text;
  bool detail;
  std::vector<module_state> modules;  // the fields compared below
};

const std::string kDetailHead = R"({"schema":"raminfo-detail/1","readable":true,"arrays":[],)";

const ReadCase kReads[] = {
    {"plain_report",
     R"({"total_mb":-1,"slots":[{"slot":"A1","size_mb":4096,"type":"DDR3","speed_mts":1333,)"
     R"("configured_speed_mts":0,"manufacturer":"Micron","part_number":"18KSF","serial":"346C",)"
     R"("voltage_mv":1500,"form_factor":"DIMM"},{"slot":"A2","size_mb":0}]})"
     "\n",
     false,
     {with(mod("A1", "346C", "18KSF", 4 * kGiB),
           [](module_state* m) {
             m->manufacturer = "Micron", m->type = "DDR3", m->speed_mts = 1333;
             m->voltage_mv = 1500, m->form_factor = "DIMM";
           }),
      empty_slot("A2")}},
    // size_mb is the library's 32-bit field: no larger value is a size.
    {"plain_sizes_out_of_range",
     R"({"total_mb":-1,"slots":[{"slot":"A1","size_mb":4294967296},{"slot":"A2","size_mb":-5}]})",
     false,
     {empty_slot("A1"), empty_slot("A2")}},
    // PowerShell's Out-File and Notepad start a UTF-8 file with a byte-order
    // mark; the document is what follows it.
    {"plain_report_after_a_byte_order_mark",
     "\xEF\xBB\xBF"
     R"({"total_mb":-1,"slots":[{"slot":"A1","size_mb":4096,"type":"DDR4",)"
     R"("speed_mts":3200,"manufacturer":"Kingston","part_number":"18KSF","serial":"346C"}]})"
     "\r\n",
     false,
     {mod("A1", "346C", "18KSF", 4 * kGiB)}},
    {"detail_document",
     kDetailHead +
         R"("devices":[{"locator":{"raw":"DIMM 1"},"bank_locator":{"raw":"P0 CHANNEL B  "},)"
         R"("populated":true,"size_bytes":34359738368,"memory_type":{"code":26,"name":"DDR4"},)"
         R"("serial_number":{"raw":"2048690C"},"part_number":{"raw":"KF3200C16D4/32GX   "},)"
         R"("manufacturer":{"raw":"Kingston"},"speed_mts":2400,"rank":2,"system_memory":true},)"
         R"({"locator":{"raw":"SYSTEM ROM"},"populated":true,"size_bytes":2097152,)"
         R"("system_memory":false},{"locator":{"raw":"DIMM 0"},"populated":false,"size_bytes":0}]})",
     true,
     {with(kB, [](module_state* m) { m->speed_mts = 2400, m->rank = 2; }),
      with(mod("SYSTEM ROM", "", "", 2 * kMiB),
           [](module_state* m) {
             m->system_memory = false, m->manufacturer = "", m->type = "", m->speed_mts = -1;
           }),
      empty_slot("DIMM 0")}},
    // A size the document gives for a slot it calls empty is no module.
    {"detail_size_of_an_empty_slot",
     kDetailHead + R"("devices":[{"locator":{"raw":"A"},"populated":false,"size_bytes":1024}]})",
     true,
     {empty_slot("A")}},
};

class ReadBaseline : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadBaseline, ReadsEveryDevice) {
  const ReadCase& k = GetParam();
  memory_state s;
  std::string error;
  ASSERT_TRUE(state_from_text(k.text, &s, &error)) << error;
  EXPECT_EQ(s.detail, k.detail);
  size_t end = k.text.size();
  while (end > 0 && (k.text[end - 1] == '\n' || k.text[end - 1] == '\r')) --end;
  EXPECT_EQ(s.text_bytes, end - (k.text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0));
  ASSERT_EQ(s.modules.size(), k.modules.size());
  for (size_t i = 0; i < s.modules.size(); ++i) {
    SCOPED_TRACE(i);
    const module_state& got = s.modules[i];
    const module_state& want = k.modules[i];
    EXPECT_EQ(got.slot, want.slot);
    EXPECT_EQ(got.size_bytes, want.size_bytes);
    if (want.size_bytes == 0) continue;
    EXPECT_EQ(got.serial, want.serial);
    EXPECT_EQ(got.part_number, want.part_number);
    EXPECT_EQ(got.manufacturer, want.manufacturer);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.bank_locator, want.bank_locator);
    EXPECT_EQ(got.speed_mts, want.speed_mts);
    EXPECT_EQ(got.configured_speed_mts, -1);  // 0 and absent are unknown
    EXPECT_EQ(got.voltage_mv, want.voltage_mv < 0 ? -1 : want.voltage_mv);
    EXPECT_EQ(got.rank, want.rank);
    EXPECT_EQ(got.system_memory, want.system_memory);
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, ReadBaseline, testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
  const char* name;
  std::string text;
  const char* reason;
};

const BadCase kBad[] = {
    {"not_json", "{", "not JSON: "},
    {"slot_without_name", R"({"total_mb":0,"slots":[{"size_mb":1}]})", "a slot without \"slot\""},
    {"slot_not_an_object", R"({"total_mb":0,"slots":[3]})", "a slot without \"slot\""},
    {"no_total", R"({"slots":[]})", "no \"slots\" list and \"total_mb\""},
    // Values of a type or form raminfo never writes, where the comparison
    // reads them: refused at their byte, never read as absent.
    {"schema_not_a_string", R"({"schema":1,"devices":[]})",
     "\"schema\" at byte 10 is a number, not a string"},
    {"size_with_a_leading_zero", R"({"total_mb":-1,"slots":[{"slot":"A1","size_mb":04096}]})",
     "not JSON: malformed number at byte 48"},
    {"slot_a_number", R"({"total_mb":-1,"slots":[{"slot":7}]})",
     "\"slot\" at byte 32 is a number, not a string"},
    {"total_a_string", R"({"total_mb":"x","slots":[]})",
     "\"total_mb\" at byte 12 is a string, not a number"},
    {"size_a_string", R"({"total_mb":-1,"slots":[{"slot":"A3","size_mb":"4096"}]})",
     "\"size_mb\" at byte 47 is a string, not a number"},
    {"readable_a_string", R"({"schema":"raminfo-detail/1","readable":"yes","devices":[]})",
     "\"readable\" at byte 40 is a string, not true or false"},
    {"locator_a_string", kDetailHead + R"("devices":[{"locator":"A1"}]})",
     "\"locator\" at byte 79 is a string, not an object or null"},
    {"raw_a_number", kDetailHead + R"("devices":[{"locator":{"raw":1}}]})",
     "\"raw\" at byte 86 is a number, not a string or null"},
    {"size_bytes_true", kDetailHead + R"("devices":[{"locator":null,"size_bytes":true}]})",
     "\"size_bytes\" at byte 97 is true or false, not a number or null"},
    // The first in the text is told.
    {"two_wrong_values", R"({"total_mb":"x","slots":[{"slot":7}]})",
     "\"total_mb\" at byte 12 is a string, not a number"},
    // A JSON error anywhere is told before any value's type.
    {"wrong_type_then_broken_json", R"({"total_mb":"x","slots":[})", "not JSON: "},
    // The mark once, at the start; a second one is no JSON.
    {"two_byte_order_marks", "\xEF\xBB\xBF\xEF\xBB\xBF{}", "not JSON: not a value at byte 3"},
    {"device_without_locator", kDetailHead + R"("devices":[{"size_bytes":1}]})",
     "a device without \"locator\""},
    {"unreadable_table", R"({"schema":"raminfo-detail/1","readable":false,"devices":[]})",
     "\"readable\": false"},
};

class ReadBadBaseline : public testing::TestWithParam<BadCase> {};

TEST_P(ReadBadBaseline, SaysWhy) {
  memory_state s;
  std::string error;
  EXPECT_FALSE(state_from_text(GetParam().text, &s, &error));
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
  // The tests' tree reader, written apart from it, finds the same.
  std::string reference;
  EXPECT_FALSE(reference_state_from_text(GetParam().text, &s, &reference));
  EXPECT_EQ(error, reference);
}

INSTANTIATE_TEST_SUITE_P(Documents, ReadBadBaseline, testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

// A plain report that the library's 16 KiB limit may have cut cannot be
// compared with: a module it never listed would be new.
TEST(PlainBaselineCut, OnlyALongReportListingFewerDevicesThanTheTable) {
  memory_state plain = side({mod("A1", "1", "P"), mod("A2", "2", "P")});
  struct {
    bool detail;
    size_t text_bytes, present_devices;
    bool cut;
  } const cases[] = {
      {false, 16000, 3, true},   // long, and the table has more devices
      {false, 16000, 2, false},  // the table has no device it lacks
      {false, 15000, 3, false},  // too short for the limit to have cut it
      {true, 40000, 3, false},   // a detail document is never cut
  };
  for (const auto& k : cases) {
    plain.detail = k.detail;
    plain.text_bytes = k.text_bytes;
    EXPECT_EQ(plain_baseline_may_be_cut(plain, k.present_devices), k.cut)
        << k.detail << " " << k.text_bytes << " " << k.present_devices;
  }
}

// The present devices come from one walk of the table, not from the report
// the limit may cut; their text comes back unescaped.
TEST(StateFromInventory, EveryDeviceWithItsText) {
  inventory inv;
  dimm_info d{};
  std::strcpy(d.slot, "Bank \\\"0\\\"");
  std::strcpy(d.serial, "C:\\\\1");
  std::strcpy(d.part_number, "P");
  std::strcpy(d.manufacturer, "M");
  d.size_mb = 4096;
  d.speed_mts = 0;
  d.type = "DDR4";
  d.form_factor = "DIMM";
  inv.devices.assign(200, d);
  inv.devices[1].size_mb = 0;
  const memory_state s = state_from_inventory(inv);
  ASSERT_EQ(s.modules.size(), 200u);
  EXPECT_FALSE(s.detail);
  EXPECT_EQ(s.modules[0].slot, "Bank \"0\"");
  EXPECT_EQ(s.modules[0].serial, "C:\\1");
  EXPECT_EQ(s.modules[0].size_bytes, 4 * kGiB);
  EXPECT_EQ(s.modules[0].speed_mts, -1);
  EXPECT_EQ(s.modules[1].size_bytes, 0u);
  EXPECT_EQ(s.modules[199].size_bytes, 4 * kGiB);
}

}  // namespace

namespace {

// The present state of a detail comparison is built from the decoded
// document; it must be what reading the written document back gives, on
// tables whose strings hold quotes, control bytes, bytes that are not UTF-8,
// trailing spaces and long text, and whose structures are cut or broken.
TEST(StateFromDetailTest, SameAsReadingTheWrittenDocumentBack) {
  for (const raminfo_gen::Mode mode :
       {raminfo_gen::Mode::well_formed, raminfo_gen::Mode::hostile}) {
    raminfo_gen::GeneratorOptions options;
    options.mode = mode;
    options.max_devices = 24;
    for (uint64_t seed = 1; seed <= 150; ++seed) {
      const raminfo_gen::Bytes t = raminfo_gen::generate_table(seed, options);
      const raminfo_detail::document doc =
          raminfo_detail::decode_detail(smbios_view{t.data(), t.size()});
      memory_state read_back;
      std::string error;
      ASSERT_TRUE(state_from_text(raminfo_detail::detail_json(doc), &read_back, &error))
          << "seed " << seed << ": " << error;
      const memory_state built = state_from_detail(doc);
      ASSERT_EQ(built.detail, read_back.detail) << "seed " << seed;
      ASSERT_EQ(built.modules.size(), read_back.modules.size()) << "seed " << seed;
      for (size_t i = 0; i < built.modules.size(); ++i) {
        const module_state& a = built.modules[i];
        const module_state& b = read_back.modules[i];
        EXPECT_EQ(module_fields(a), module_fields(b)) << "seed " << seed << ", device " << i;
      }
    }
  }
}

}  // namespace

namespace {

// An object with the names k0..k(n-1), each with the value 0.
std::string object_of(int n) {
  std::string out = "{";
  for (int i = 0; i < n; ++i)
    out += (i > 0 ? "," : "") + std::string("\"k") + std::to_string(i) + "\":0";
  return out + "}";
}

// A plain report with one more member, x, whose value is the text given.
const std::string kReportHead = R"({"total_mb":0,"slots":[],"x":)";

std::string error_of(const std::string& text) {
  memory_state s;
  std::string error;
  EXPECT_FALSE(state_from_text(text, &s, &error)) << text;
  return error;
}

// The baseline reader refuses an object that names a member twice wherever
// the repeat is, and only then, whether or not the reader looks at the name.
TEST(BaselineJsonTest, MemberGivenTwiceIsRefusedAndOnlyThen) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
  };
  const std::string many = object_of(70);
  const Case cases[] = {
      {"names_alike_at_both_ends", "{\"abcdefgh_1_stuvwxyz\":1,\"abcdefgh_2_stuvwxyz\":2}", true},
      {"same_names_in_sibling_objects", "[{\"a\":1,\"b\":2},{\"a\":1,\"b\":2}]", true},
      {"same_name_in_an_inner_object", "{\"a\":{\"a\":{\"a\":1}}}", true},
      {"repeat_after_an_inner_object", "{\"a\":1,\"b\":{\"c\":1,\"d\":2},\"a\":2}", false},
      {"repeat_inside_an_inner_object", "{\"a\":{\"c\":1,\"d\":2,\"c\":3}}", false},
      {"repeat_spelled_with_an_escape", "{\"raw\":1,\"r\\u0061w\":2}", false},
      {"repeat_in_an_object_like_the_last", "[{\"a\":1,\"b\":2},{\"a\":1,\"a\":2}]", false},
      {"repeat_past_the_last_objects_names", "[{\"a\":1},{\"a\":1,\"b\":2,\"a\":3}]", false},
      {"many_distinct_names", many, true},
      {"many_names_twice_over", "[" + many + "," + many + "]", true},
      {"repeat_after_many_names", many.substr(0, many.size() - 1) + ",\"k3\":1}", false},
      {"repeat_among_many_names", many.substr(0, many.size() - 1) + ",\"k69\":1}", false},
      {"repeat_after_many_names_like_the_last",
       "[" + many + "," + many.substr(0, many.size() - 1) + ",\"k0\":1}]", false},
  };
  for (const Case& c : cases) {
    memory_state s;
    std::string error;
    EXPECT_EQ(state_from_text(kReportHead + c.text + "}", &s, &error), c.ok)
        << c.name << ": " << error;
    if (!c.ok) {
      EXPECT_NE(error.find("not JSON: a member given twice"), std::string::npos) << c.name;
    }
  }
  // A name one byte off a field's is another member, and leaves the field alone.
  memory_state s;
  std::string error;
  ASSERT_TRUE(state_from_text(
      R"({"total_mb":0,"slots":[{"slot":"A","speed_mts":1},{"slot":"B","speed_mtX":2},)"
      R"({"slot":"C","speed_mts":3,"configured_speed_mts":4,"configuredXspeed_mts":5}]})",
      &s, &error))
      << error;
  ASSERT_EQ(s.modules.size(), 3u);
  EXPECT_EQ(s.modules[0].speed_mts, 1);
  EXPECT_EQ(s.modules[1].speed_mts, -1);
  EXPECT_EQ(s.modules[2].speed_mts, 3);
  EXPECT_EQ(s.modules[2].configured_speed_mts, 4);
}

// The reader scans strings, white space and repeated member leads a word at
// a time; whatever byte of a word (or of the short tail before the end) the
// one that matters falls on, it reads the same and stops at the same byte.
TEST(BaselineJsonTest, ReadsTheSameWhereverAByteFallsInAWord) {
  for (size_t n = 0; n <= 17; ++n) {
    SCOPED_TRACE(n);
    const std::string pad(n, 'a'), spaces(n, ' ');
    // A slot's name, as the report gives it.
    const auto text_of = [](const std::string& value) {
      memory_state s;
      std::string error;
      EXPECT_TRUE(state_from_text(R"({"total_mb":0,"slots":[{"slot":)" + value + "}]}", &s, &error))
          << error;
      return s.modules.empty() ? std::string("?") : s.modules[0].slot;
    };
    // Bytes of 0x80 and above stand for themselves; an escape is decoded.
    EXPECT_EQ(text_of("\"" + pad + "\xC3\xA9" + pad + "\""), pad + "\xC3\xA9" + pad);
    EXPECT_EQ(text_of(spaces + "\"" + pad + "\\\"" + pad + "\"" + spaces), pad + "\"" + pad);
    EXPECT_EQ(error_of("\"" + pad + "\x01" + pad + "\""),
              "not JSON: control character in a string at byte " + std::to_string(n + 2));
    EXPECT_EQ(error_of("\"" + pad),
              "not JSON: unterminated string at byte " + std::to_string(n + 1));
    EXPECT_EQ(error_of(spaces + "\n" + spaces + "x"),
              "not JSON: not a value at byte " + std::to_string(2 * n + 1));
    // An object that repeats the last one's names up to a point: a name that
    // differs from the last object's in its final byte is checked as a new
    // one, and refused when this object already has it.
    const std::string x = "\"" + pad + "x\"", y = "\"" + pad + "y\"";
    const std::string twice = "[{" + x + ":1," + y + ":2},{" + x + ":1," + x + ":2}]";
    EXPECT_EQ(error_of(twice),
              "not JSON: a member given twice at byte " + std::to_string(twice.rfind(':')));
    // Member names on lines of their own: the same indentation, one space
    // more, and a control byte where the indentation ends.
    const std::string line = ",\n" + spaces;
    memory_state s;
    std::string error;
    const std::string slot = "{\n" + spaces + "\"slot\": \"A\"" + line + "\"speed_mts\":  2" +
                             line + " \"voltage_mv\": 3}";
    ASSERT_TRUE(
        state_from_text(R"({"total_mb":0,"slots":[)" + slot + "," + slot + "]}", &s, &error))
        << error;
    ASSERT_EQ(s.modules.size(), 2u);
    EXPECT_EQ(s.modules[1].speed_mts, 2);
    EXPECT_EQ(s.modules[1].voltage_mv, 3);
    const std::string bad = "{\n" + spaces + "\"a\": 1" + line + "\"b\": 2" + line + "\x01}";
    EXPECT_EQ(error_of(bad),
              "not JSON: expected a member name at byte " + std::to_string(bad.size() - 2));
  }
}

}  // namespace
