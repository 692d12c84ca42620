// Memory devices rebuilt from udev database entries, decoded back by the
// library's own decoder (over the test double), and the raw fields of the
// rebuilt structures where the report does not show them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/dimm.h"
#include "fake_platform.h"
#include "smbios/smbios.h"
#include "sources/udev.h"

namespace {

// A device as the report shows it (text fields JSON-escaped).
struct Shown {
  std::string slot;
  int32_t size_mb;
  std::string type;
  int32_t speed_mts;
  int32_t configured_speed_mts;
  std::string manufacturer;
  std::string part_number;
  std::string serial;
  int32_t voltage_mv;
  std::string form_factor;
};

std::vector<Shown> decode(const std::vector<uint8_t>& block) {
  fresh_library(block);
  std::vector<Shown> out;
  dimm_info d;
  for (int i = 0; for_each_dimm(i, &d) == 1; ++i)
    out.push_back({d.slot, d.size_mb, d.type, d.speed_mts, d.configured_speed_mts, d.manufacturer,
                   d.part_number, d.serial, d.voltage_mv, d.form_factor});
  return out;
}

std::string joined(const std::vector<std::string>& notes) {
  std::string s;
  for (const std::string& n : notes) s += n + "\n";
  return s;
}

struct EntryCase {
  const char* name;
  std::string entry;
  std::vector<Shown> devices;
  // Each must appear in the notes; none when empty, then the notes are empty.
  std::vector<std::string> notes;
};

// One populated DDR4 module, as systemd's decoder describes it.
const std::string kModule =
    "E:MEMORY_DEVICE_0_SIZE=17179869184\n"
    "E:MEMORY_DEVICE_0_FORM_FACTOR=DIMM\n"
    "E:MEMORY_DEVICE_0_LOCATOR=DIMM_A1\n"
    "E:MEMORY_DEVICE_0_TYPE=DDR4\n"
    "E:MEMORY_DEVICE_0_SPEED_MTS=3200\n"
    "E:MEMORY_DEVICE_0_MANUFACTURER=Samsung\n"
    "E:MEMORY_DEVICE_0_SERIAL_NUMBER=0123ABCD\n"
    "E:MEMORY_DEVICE_0_PART_NUMBER=M393A2K43BB1-CTD\n"
    "E:MEMORY_DEVICE_0_CONFIGURED_SPEED_MTS=2933\n";
const Shown kModuleShown = {"DIMM_A1",          16384,      "DDR4", 3200,  2933, "Samsung",
                            "M393A2K43BB1-CTD", "0123ABCD", 0,      "DIMM"};

Shown module_with(int32_t voltage_mv) {
  Shown s = kModuleShown;
  s.voltage_mv = voltage_mv;
  return s;
}

// A device with only a slot name and these property lines.
std::string device(int n, const std::string& slot, const std::vector<std::string>& lines = {}) {
  const std::string prefix = "E:MEMORY_DEVICE_" + std::to_string(n) + "_";
  std::string s = prefix + "LOCATOR=" + slot + "\n";
  for (const std::string& line : lines) s += prefix + line + "\n";
  return s;
}

Shown empty_slot(const std::string& slot) {
  return {slot, 0, "Unknown", 0, 0, "", "", "", 0, "Other"};
}

Shown sized(const std::string& slot, int32_t size_mb) {
  Shown s = empty_slot(slot);
  s.size_mb = size_mb;
  return s;
}

const EntryCase kEntries[] = {
    {"module_as_udev_describes_it", kModule, {kModuleShown}, {}},
    {"other_line_kinds_skipped",
     "I:5123456\nS:disk/by-id/x\nL:10\nW:3\n\nE:ID_VENDOR=QEMU\nE:NOEQUALS\n"
     "G:MEMORY_DEVICE_1_LOCATOR=tag\nQ:systemd\nMEMORY_DEVICE_2_LOCATOR=bare\n" +
         kModule + "G:systemd\nV:1\n",
     {kModuleShown},
     {}},
    {"last_line_without_newline", "V:1\nE:MEMORY_DEVICE_0_LOCATOR=A0", {empty_slot("A0")}, {}},
    {"empty_value_is_no_property",
     device(0, "A0", {"TYPE=", "FORM_FACTOR="}),
     {empty_slot("A0")},
     {}},
    // udev stores values verbatim: nothing is unquoted or unescaped.
    {"values_verbatim",
     device(0, "\"Bank 0\"", {"MANUFACTURER=a=b\\x20c\\\\", "SIZE=1073741824"}),
     {{"\\\"Bank 0\\\"", 1024, "Unknown", 0, 0, "a=b\\\\x20c\\\\\\\\", "", "", 0, "Other"}},
     {}},
    {"no_string_markers_are_no_string",
     device(0, "Not Specified",
            {"SIZE=1073741824", "MANUFACTURER=<BAD INDEX>", "SERIAL_NUMBER=Not Specified",
             "PART_NUMBER=Not Specified "}),
     {{"", 1024, "Unknown", 0, 0, "", "Not Specified", "", 0, "Other"}},
     {}},
    {"present_missing_size_given", device(0, "A0", {"SIZE=2147483648"}), {sized("A0", 2048)}, {}},
    {"present_0_is_empty", device(0, "A0", {"PRESENT=0"}), {empty_slot("A0")}, {}},
    {"present_0_wins_over_size",
     device(0, "A0", {"PRESENT=0", "SIZE=2147483648"}),
     {empty_slot("A0")},
     {}},
    {"neither_size_nor_present_is_unknown_size",
     device(0, "A0", {"TYPE=DDR4"}),
     {{"A0", 0, "DDR4", 0, 0, "", "", "", 0, "Other"}},
     {}},
    {"indices_in_number_order_with_gaps",
     device(10, "ten") + device(2, "two") + device(0, "zero"),
     {empty_slot("zero"), empty_slot("two"), empty_slot("ten")},
     {}},
    {"size_not_a_byte_count", device(0, "A0", {"SIZE=4G"}), {sized("A0", 0)}, {"sizes"}},
    {"size_too_large_for_extended_size",
     device(0, "A0", {"SIZE=18446744073709551615"}),
     {sized("A0", 0)},
     {"sizes"}},
    // udev's decoder keeps the Extended Size's reserved bit 31: 2^31 MiB more
    // than the 64 GiB module, which the firmware path masks off as this does.
    {"extended_size_reserved_bit_masked",
     device(0, "A0", {"SIZE=2251868533161984"}),
     {sized("A0", 65536)},
     {}},
    {"extended_size_beyond_32_bits_unknown",
     device(0, "A0", {"SIZE=4503599627370496"}),
     {sized("A0", 0)},
     {"sizes"}},
    {"type_and_form_factor_names_any_case",
     device(0, "A0", {"SIZE=1073741824", "TYPE=lpddr5", "FORM_FACTOR=sodimm"}),
     {{"A0", 1024, "LPDDR5", 0, 0, "", "", "", 0, "SODIMM"}},
     {}},
    // systemd writes a code it has no name for in angle brackets.
    {"nameless_codes_unknown_without_note",
     device(0, "A0", {"SIZE=1073741824", "TYPE=<NO NAME>", "FORM_FACTOR=<NO NAME>"}),
     {sized("A0", 1024)},
     {}},
    {"unknown_names_unknown_with_note",
     device(0, "A0", {"SIZE=1073741824", "TYPE=DDR9", "FORM_FACTOR=Hexagon\x01"}),
     {sized("A0", 1024)},
     {"type 'DDR9' (taken as Unknown)", "form factor 'Hexagon?' (taken as Unknown)"}},
    // Notes go to a terminal: the same printable rule as the views.
    {"notes_printable",
     device(0, "A0",
            {"SIZE=1073741824",
             "TYPE=\xC2\x9B"
             "2J\xE2\x80\xAE"
             "4RDD\x7F",
             "FORM_FACTOR=M\xFC"
             "\xE2\x81\xA6"
             "x"}),
     {sized("A0", 1024)},
     {"type '?2J?4RDD?' (taken as Unknown)", "form factor 'M??x' (taken as Unknown)"}},
    {"speeds_16_bit",
     device(0, "A0", {"SIZE=1073741824", "SPEED_MTS=65535"}),
     {{"A0", 1024, "Unknown", 65535, 0, "", "", "", 0, "Other"}},
     {}},
    {"speed_beyond_16_bit_left_out",
     device(0, "A0", {"SIZE=1073741824", "SPEED_MTS=70000", "CONFIGURED_SPEED_MTS=x"}),
     {sized("A0", 1024)},
     {"speeds"}},
    // systemd prints multiples of 100 mV as "%.1g": 1.2 V is "1", 1.5 V "2".
    {"whole_volts_left_out",
     kModule + "E:MEMORY_DEVICE_0_CONFIGURED_VOLTAGE=1\n",
     {module_with(0)},
     {"voltages"}},
    {"decimal_volts_exact",
     kModule + "E:MEMORY_DEVICE_0_CONFIGURED_VOLTAGE=1.35\n",
     {module_with(1350)},
     {}},
    {"below_one_volt_exact",
     kModule + "E:MEMORY_DEVICE_0_CONFIGURED_VOLTAGE=0.6\n",
     {module_with(600)},
     {}},
    {"volts_beyond_millivolts_left_out",
     kModule + "E:MEMORY_DEVICE_0_CONFIGURED_VOLTAGE=1.2345\n",
     {module_with(0)},
     {"voltages"}},
    {"volts_in_exponent_form_left_out",
     kModule + "E:MEMORY_DEVICE_0_CONFIGURED_VOLTAGE=1e+01\n",
     {module_with(0)},
     {"voltages"}},
    // udev keeps 16 KiB of the decoder's output. systemd 252 counts the
    // devices after the last one; others count each array's before its devices.
    {"entry_cut_before_the_device_count",
     "E:MEMORY_ARRAY_LOCATION=System Board Or Motherboard\n" + device(0, "A0") + device(1, "A1"),
     {empty_slot("A0"), empty_slot("A1")},
     {"devices past the first 2, as udev's entry ends early"}},
    {"entry_cut_after_a_device_count",
     "E:MEMORY_ARRAY_LOCATION=System Board Or Motherboard\nE:MEMORY_ARRAY_NUM_DEVICES=4\n" +
         device(0, "A0") + device(1, "A1"),
     {empty_slot("A0"), empty_slot("A1")},
     {"devices past the first 2 of the 4 udev counted"}},
    {"whole_entry_with_its_count",
     "E:MEMORY_ARRAY_LOCATION=System Board Or Motherboard\n" + device(0, "A0") +
         "E:MEMORY_ARRAY_NUM_DEVICES=1\n",
     {empty_slot("A0")},
     {}},
};

class UdevEntry : public testing::TestWithParam<EntryCase> {};

TEST_P(UdevEntry, RebuildsWhatTheReportShows) {
  const EntryCase& c = GetParam();
  udev_rebuild r;
  ASSERT_TRUE(udev_entry_to_block(c.entry, &r));
  EXPECT_EQ(r.devices, c.devices.size());
  const std::vector<Shown> got = decode(r.block);
  ASSERT_EQ(got.size(), c.devices.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("device " + std::to_string(i));
    const Shown& want = c.devices[i];
    EXPECT_EQ(got[i].slot, want.slot);
    EXPECT_EQ(got[i].size_mb, want.size_mb);
    EXPECT_EQ(got[i].type, want.type);
    EXPECT_EQ(got[i].speed_mts, want.speed_mts);
    EXPECT_EQ(got[i].configured_speed_mts, want.configured_speed_mts);
    EXPECT_EQ(got[i].manufacturer, want.manufacturer);
    EXPECT_EQ(got[i].part_number, want.part_number);
    EXPECT_EQ(got[i].serial, want.serial);
    EXPECT_EQ(got[i].voltage_mv, want.voltage_mv);
    EXPECT_EQ(got[i].form_factor, want.form_factor);
  }
  if (c.notes.empty()) {
    EXPECT_TRUE(r.notes.empty()) << joined(r.notes);
  }
  for (const std::string& note : c.notes)
    EXPECT_NE(joined(r.notes).find(note), std::string::npos) << joined(r.notes);
  // A cut entry must not pass for a whole one: --compare would call the lost
  // devices missing.
  EXPECT_EQ(r.incomplete, c.notes.size() == 1 && c.notes[0].rfind("devices past", 0) == 0);
}

INSTANTIATE_TEST_SUITE_P(Entries, UdevEntry, testing::ValuesIn(kEntries),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UdevEntry, WithoutDeviceProperties) {
  udev_rebuild r;
  for (const std::string& entry :
       {std::string(), std::string("I:1\nV:1\n"),
        std::string("E:MEMORY_ARRAY_LOCATION=System Board Or Motherboard\n"
                    "E:MEMORY_ARRAY_NUM_DEVICES=2\n"),
        std::string("E:MEMORY_DEVICE_X_SIZE=1\nE:MEMORY_DEVICE_0\nE:MEMORY_DEVICE_1_=2\n")}) {
    EXPECT_FALSE(udev_entry_to_block(entry, &r)) << entry;
  }
}

// ---- Raw fields --------------------------------------------------------------

uint32_t le(const std::vector<uint8_t>& b, size_t off, size_t width) {
  uint32_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | b[off + i];
  return v;
}

// The first rebuilt structure starts after the 8-byte block header.
constexpr size_t kFirst = 8;

struct SizeCase {
  const char* bytes;
  uint16_t word;
  uint32_t extended;
};

// Size word and Extended Size, DMTF DSP0134 7.18.4 and 7.18.5.
const SizeCase kSizes[] = {
    {"524288", 0x8200, 0},                     // 512 KiB: in KiB
    {"1572864", 0x8600, 0},                    // 1.5 MiB: off a MiB boundary, in KiB
    {"1000", 0x8000, 0},                       // under 1 KiB: rounded down
    {"1073741824", 1024, 0},                   // 1 GiB: in MiB
    {"34357641216", 0x7FFE, 0},                // 32766 MiB: the largest size word
    {"34359738368", 0x7FFF, 32768},            // 32 GiB: Extended Size
    {"34358689792", 0x7FFF, 32767},            // 32767 MiB: 0x7FFF means "see Extended Size"
    {"2251799812636672", 0x7FFF, 0x7FFFFFFF},  // the largest Extended Size
    {"2251799813685248", 0x8000, 0},           // 2^31 MiB: reserved bit 31 alone, masked
    {"2251868533161984", 0x7FFF, 0x10000},     // 64 GiB with bit 31, masked
    {"4503599627370496", 0xFFFF, 0},           // beyond 32 bits of MiB: unknown
    {"0", 0x8000, 0},                          // udev prints 0 for Extended Size 0
};

TEST(UdevEntry, SizeFields) {
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(c.bytes);
    udev_rebuild r;
    ASSERT_TRUE(udev_entry_to_block(device(0, "A0", {std::string("SIZE=") + c.bytes}), &r));
    EXPECT_EQ(le(r.block, kFirst + 0x0C, 2), c.word);
    EXPECT_EQ(le(r.block, kFirst + 0x1C, 4), c.extended);
  }
}

// String number n of the first structure.
std::string string_number(const std::vector<uint8_t>& block, size_t n) {
  const char* s = reinterpret_cast<const char*>(&block[kFirst + block[kFirst + 1]]);
  for (size_t i = 1; i < n; ++i) s += std::strlen(s) + 1;
  return s;
}

// The fields beyond the report's, rebuilt for views that show more.
TEST(UdevEntry, FieldsBeyondTheReport) {
  udev_rebuild r;
  ASSERT_TRUE(udev_entry_to_block(
      device(0, "DIMM_A1",
             {"TOTAL_WIDTH=72", "DATA_WIDTH=64", "SIZE=17179869184", "SET=Unknown",
              "BANK_LOCATOR=P0_Node0_Channel0_Dimm0", "TYPE=DDR4",
              "TYPE_DETAIL=Synchronous Registered (Buffered)", "ASSET_TAG=Tag 7", "RANK=2",
              "MINIMUM_VOLTAGE=1.14", "MAXIMUM_VOLTAGE=1", "CONFIGURED_VOLTAGE=1.26"}) +
          device(1, "DIMM_A2", {"PRESENT=0", "SET=3", "TYPE_DETAIL=None"}) +
          device(2, "DIMM_A3", {"PRESENT=0", "TYPE_DETAIL=Synchronous Sideways"}),
      &r));
  const std::vector<uint8_t>& b = r.block;
  EXPECT_EQ(b[kFirst], 17);
  EXPECT_EQ(b[kFirst + 1], 0x28);
  EXPECT_EQ(le(b, kFirst + 0x08, 2), 72u);
  EXPECT_EQ(le(b, kFirst + 0x0A, 2), 64u);
  EXPECT_EQ(b[kFirst + 0x0F], 0xFF);  // set: unknown
  EXPECT_EQ(le(b, kFirst + 0x13, 2), (1u << 7) | (1u << 13));
  EXPECT_EQ(b[kFirst + 0x1B] & 0x0F, 2);
  EXPECT_EQ(le(b, kFirst + 0x22, 2), 1140u);
  EXPECT_EQ(le(b, kFirst + 0x24, 2), 0u);  // whole volts: absent
  EXPECT_EQ(le(b, kFirst + 0x26, 2), 1260u);
  EXPECT_EQ(string_number(b, b[kFirst + 0x10]), "DIMM_A1");
  EXPECT_EQ(string_number(b, b[kFirst + 0x11]), "P0_Node0_Channel0_Dimm0");
  EXPECT_EQ(string_number(b, b[kFirst + 0x19]), "Tag 7");
  EXPECT_EQ(b[kFirst + 0x17], 0);  // no manufacturer: string number 0

  // The second and third structures: widths udev left out are unknown.
  size_t second = kFirst + b[kFirst + 1];
  while (b[second] != 0 || b[second + 1] != 0) ++second;
  second += 2;
  EXPECT_EQ(b[second], 17);
  EXPECT_EQ(le(b, second + 0x08, 2), 0xFFFFu);
  EXPECT_EQ(b[second + 0x0F], 3);
  EXPECT_EQ(le(b, second + 0x13, 2), 0u);
  size_t third = second + b[second + 1];
  while (b[third] != 0 || b[third + 1] != 0) ++third;
  third += 2;
  EXPECT_EQ(le(b, third + 0x13, 2), 1u << 2);  // a name not known: Unknown

  // Header: SMBIOS 2.8, the table's length; the table ends with type 127.
  EXPECT_EQ(b[1], 2);
  EXPECT_EQ(b[2], 8);
  EXPECT_EQ(le(b, 4, 4), b.size() - 8);
  EXPECT_EQ(b[b.size() - 6], 127);
}

}  // namespace

namespace {

TEST(BoundedFile, ReadsUpToItsLimitOnly) {
  const std::string path = testing::TempDir() + "raminfo_bounded_file";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("0123456789", 1, 10, f), 10u);
  std::fclose(f);
  std::string text;
  std::string error;
  EXPECT_TRUE(read_bounded_file(path, 10, &text, &error)) << error;
  EXPECT_EQ(text, "0123456789");
  EXPECT_FALSE(read_bounded_file(path, 9, &text, &error));
  EXPECT_EQ(error, path + ": larger than the limit of 9 bytes");
  std::remove(path.c_str());
  EXPECT_FALSE(read_bounded_file(path, 10, &text, &error));
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
}

#if !defined(_WIN32)
// Where only a regular file belongs (udev's entry), a FIFO without a writer
// and a device are refused at once; read as anything, a device still is read.
// Windows has neither FIFOs nor /dev/zero, and no udev entry to read.
TEST(BoundedFile, RegularOnlyRefusesFifosAndDevicesWithoutBlocking) {
  const std::string fifo = testing::TempDir() + "raminfo_bounded_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    std::string text;
    std::string error;
    EXPECT_FALSE(read_bounded_file(path, 10, &text, &error, file_kind::regular_only));
    EXPECT_EQ(error, path + ": not a regular file, so it is not read");
  }
  std::remove(fifo.c_str());
  std::string text;
  std::string error;
  EXPECT_FALSE(read_bounded_file("/dev/zero", 10, &text, &error));
  EXPECT_EQ(error, "/dev/zero: larger than the limit of 10 bytes");
}

// An attribute of a tree someone else made is read at its own name only: a
// symbolic link there (to a file, a FIFO or nowhere) is refused unopened,
// while a directory on the way may be a link, as sysfs's are.
TEST(BoundedFile, NotLinkedRefusesALinkInTheFilesPlace) {
  const std::string dir = testing::TempDir() + "raminfo_bounded_links";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/real");
  { std::ofstream(dir + "/real/count") << "7\n"; }
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0) << std::strerror(errno);
  std::filesystem::create_symlink("real/count", dir + "/to_file");
  std::filesystem::create_symlink("fifo", dir + "/to_fifo");
  std::filesystem::create_symlink("nowhere", dir + "/dangling");
  std::filesystem::create_directory_symlink("real", dir + "/linked_dir");
  std::string text, error;
  for (const char* link : {"to_file", "to_fifo", "dangling"}) {
    const std::string path = dir + "/" + link;
    EXPECT_FALSE(read_bounded_file(path, 10, &text, &error, file_kind::regular_not_linked));
    EXPECT_EQ(error, path + ": a symbolic link, so it is not read");
  }
  EXPECT_FALSE(read_bounded_file(dir + "/fifo", 10, &text, &error, file_kind::regular_not_linked));
  EXPECT_EQ(error, dir + "/fifo: not a regular file, so it is not read");
  for (const char* path : {"/real/count", "/linked_dir/count"}) {
    EXPECT_TRUE(read_bounded_file(dir + path, 10, &text, &error, file_kind::regular_not_linked))
        << error;
    EXPECT_EQ(text, "7\n");
  }
  // Elsewhere links are followed, as before.
  EXPECT_TRUE(read_bounded_file(dir + "/to_file", 10, &text, &error, file_kind::regular_only))
      << error;
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
