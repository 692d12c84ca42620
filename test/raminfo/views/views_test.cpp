// The command-line tool's table and Prometheus views.
#include "views/views.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "table_builder.h"

namespace {

struct TextCase {
  const char* name;
  std::string escaped;
  std::string shown;
  size_t width;
};

const TextCase kTexts[] = {
    {"plain", "DIMM_A1", "DIMM_A1", 7},
    {"escapes_undone", "Bank \\\"0\\\" \\\\1", "Bank \"0\" \\1", 11},
    {"utf8_kept_one_column_per_code_point", "M\xC3\xBCller \xE2\x82\xAC",
     "M\xC3\xBCller \xE2\x82\xAC", 8},
    {"latin1_byte_replaced", "M\xFCller", "M?ller", 6},
    {"truncated_sequence_replaced", "AB\xE2\x82", "AB??", 4},
    {"overlong_form_replaced", "\xC0\xAF", "??", 2},
    {"surrogate_replaced", "\xED\xA0\x80", "???", 3},
    {"cjk_two_columns_each", "\xE5\x86\x85\xE5\xAD\x98 1", "\xE5\x86\x85\xE5\xAD\x98 1", 6},
    {"fullwidth_two_columns", "\xEF\xBC\xA1", "\xEF\xBC\xA1", 2},
    {"combining_mark_no_column", "e\xCC\x81", "e\xCC\x81", 1},
    // A terminal takes U+009B for CSI and acts on what follows.
    {"c1_control_replaced",
     "A\xC2\x9B"
     "2J",
     "A?2J", 4},
    {"del_replaced",
     "A\x7F"
     "B",
     "A?B", 3},
    {"escape_and_line_feed_replaced", "A\x1B[2J\nB", "A?[2J?B", 7},
    {"last_c1_control_replaced", "A\xC2\x9F", "A?", 2},
    {"first_non_control_after_c1_kept", "A\xC2\xA0", "A\xC2\xA0", 2},
    // U+202E shows what follows backwards: "DIMM_A1" could read as a slot it is not.
    {"right_to_left_override_replaced",
     "\xE2\x80\xAE"
     "1A_MMID",
     "?1A_MMID", 8},
    {"first_bidi_embedding_replaced",
     "\xE2\x80\xAA"
     "x",
     "?x", 2},
    {"bidi_isolates_replaced",
     "\xE2\x81\xA6"
     "a\xE2\x81\xA9",
     "?a?", 3},
    {"neighbours_of_bidi_controls_kept", "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
     "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", 4},
    {"code_point_past_unicode_replaced", "\xF4\x90\x80\x80", "????", 4},
};

class DisplayText : public testing::TestWithParam<TextCase> {};

TEST_P(DisplayText, IsPrintableWithKnownWidth) {
  const std::string shown = display_text(GetParam().escaped.c_str());
  EXPECT_EQ(shown, GetParam().shown);
  EXPECT_EQ(display_width(shown), GetParam().width);
}

INSTANTIATE_TEST_SUITE_P(Texts, DisplayText, testing::ValuesIn(kTexts),
                         [](const auto& info) { return std::string(info.param.name); });

inventory load(const Bytes& t, std::optional<uint64_t> total = uint64_t{62} << 30) {
  fresh_library(raw_block(t));
  fake().total_bytes = total;
  inventory inv;
  read_inventory(&inv);
  return inv;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

const Bytes kTwoSlots = table({
    Dimm{.size = 0, .locator = 1}.with({"DIMM_A0"}),
    Dimm{.length = 0x28,
         .size = 0x7FFF,
         .locator = 1,
         .type = 0x22,
         .speed = 5600,
         .manufacturer = 2,
         .serial = 3,
         .part = 4,
         .extended_size = 32768,
         .configured_speed = 4800,
         .voltage = 1100}
        .with({"Sl\xC3\xB6t \"B\"", "M\xFC", "S1", "P1"}),
});

TEST(Table, ColumnsLineUpWhateverTheBytes) {
  const std::vector<std::string> out = lines(render_table(load(kTwoSlots)));
  // The rows, the summary, and the findings under it: the module configured
  // below its rating, the empty slot.
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[4].rfind("info below_rated_speed: ", 0), 0u) << out[4];
  EXPECT_EQ(out[5].rfind("info free_slots: 1 of 2 slots is empty (DIMM_A0)", 0), 0u) << out[5];
  // SIZE starts in the same column on every row, counted in code points.
  const size_t column = display_width(out[0].substr(0, out[0].find("SIZE")));
  EXPECT_EQ(display_width(out[1].substr(0, out[1].find("empty"))), column);
  EXPECT_EQ(display_width(out[2].substr(0, out[2].find("32 GiB"))), column);
  EXPECT_NE(out[2].find("Sl\xC3\xB6t \"B\""), std::string::npos);
  EXPECT_NE(out[2].find("M?"), std::string::npos);
  EXPECT_NE(out[2].find("DDR5  5600 MT/s  4800 MT/s   1.10 V"), std::string::npos);
}

TEST(Table, WideCharactersTakeTwoColumns) {
  const Bytes t = table({
      Dimm{.size = 4096, .locator = 1}.with({"\xE5\x86\x85\xE5\xAD\x98-A1"}),
      Dimm{.size = 4096, .locator = 1}.with({"DIMM-B1"}),
  });
  const std::vector<std::string> out = lines(render_table(load(t)));
  ASSERT_EQ(out.size(), 4u);
  // The CJK name is 7 columns wide like DIMM-B1, so both rows match.
  EXPECT_EQ(out[1].find("4 GiB") - std::strlen("\xE5\x86\x85\xE5\xAD\x98-A1"),
            out[2].find("4 GiB") - std::strlen("DIMM-B1"));
  EXPECT_EQ(out[2].find("4 GiB"), out[0].find("SIZE"));
}

TEST(Table, ClosingLineSumsTheModules) {
  EXPECT_EQ(lines(render_table(load(kTwoSlots)))[3],
            "1 of 2 slots populated, 32 GiB installed; 62 GiB visible to the operating system");
  EXPECT_EQ(lines(render_table(load(kTwoSlots, std::nullopt)))[3],
            "1 of 2 slots populated, 32 GiB installed");
  const Bytes small = table({Dimm{.size = 1536, .locator = 1}.with({"A"})});
  EXPECT_EQ(lines(render_table(load(small, (uint64_t{1} << 30) + (uint64_t{400} << 20)))).back(),
            "1 of 1 slots populated, 1.5 GiB installed; 1.4 GiB visible to the operating system");
}

// A made-up table of 8200 devices of 2^31 - 1 MiB each (the Extended Size's
// largest) sums past 2^64 bytes: the sums stop at 2^64 - 1, never wrap to a
// small total or a negative one.
TEST(Table, SumsStopAtTheLargestValue) {
  std::vector<Bytes> devices;
  for (size_t i = 0; i < 8200; ++i)
    devices.push_back(Dimm{.size = 0x7FFF, .locator = 1, .extended_size = 0x7FFFFFFF}.with({"D"}));
  const inventory inv = load(table(devices));
  ASSERT_EQ(inv.devices.size(), 8200u);
  EXPECT_NE(render_prometheus(inv).find("\nraminfo_installed_bytes 18446744073709551615\n"),
            std::string::npos);
  EXPECT_EQ(lines(render_table(inv)).back(),
            "8200 of 8200 slots populated, 17179869184.0 GiB installed; 62 GiB visible to the "
            "operating system");
}

// Boards that repeat slot names across banks ("DIMM 1" in each channel): the
// bank names the module in every per-module series, and the table shows it
// beside the slot, which it does not where every slot name is its own.
TEST(Views, TheBankTellsRepeatedSlotsApart) {
  const Bytes t = table({
      Dimm{.size = 0, .locator = 1, .bank = 2}.with({"DIMM 0", "P0 CHANNEL A"}),
      Dimm{.size = 8192, .locator = 1, .bank = 2}.with({"DIMM 1", "P0 CHANNEL A"}),
      Dimm{.size = 8192, .locator = 1, .bank = 2}.with({"DIMM 1", "P0 \"CHANNEL\" B\x1b"}),
      Dimm{.size = 8192, .locator = 1}.with({"DIMM 2"}),
  });
  const inventory inv = load(t);
  const std::string prom = render_prometheus(inv);
  for (const char* family :
       {"raminfo_module_size_bytes", "raminfo_module_speed_mts",
        "raminfo_module_configured_speed_mts", "raminfo_module_voltage_volts"}) {
    for (const char* labels : {"{index=\"1\",slot=\"DIMM 1\",bank=\"P0 CHANNEL A\"",
                               "{index=\"2\",slot=\"DIMM 1\",bank=\"P0 \\\"CHANNEL\\\" B?\"",
                               "{index=\"3\",slot=\"DIMM 2\",bank=\"\""})
      EXPECT_NE(prom.find(std::string(family) + labels), std::string::npos)
          << family << labels << "\n"
          << prom;
  }
  const std::vector<std::string> rows = lines(render_table(inv));
  // The rows, the summary and the free slot's finding; the banks name the
  // channels, which follow them where told.
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0].rfind("SLOT    BANK             CHANNEL  SIZE ", 0), 0u) << rows[0];
  EXPECT_EQ(rows[1].rfind("DIMM 0  P0 CHANNEL A     S0/A     empty", 0), 0u) << rows[1];
  EXPECT_EQ(rows[3].rfind("DIMM 1  P0 \"CHANNEL\" B?  S0/B     8 GiB", 0), 0u) << rows[3];
  EXPECT_EQ(rows[4].rfind("DIMM 2  -                -        8 GiB", 0), 0u) << rows[4];
  EXPECT_EQ(lines(render_table(load(kTwoSlots)))[0].find("BANK"), std::string::npos);
}

TEST(Prometheus, LabelsAreEscapedAndSeriesKeptApart) {
  const Bytes t = table({
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2}.with({"DIMM 0", "A\\B \"C\""}),
      Dimm{.size = 8192, .locator = 1}.with({"DIMM 0"}),
  });
  const std::string out = render_prometheus(load(t));
  EXPECT_NE(
      out.find("raminfo_module_size_bytes{index=\"0\",slot=\"DIMM 0\",bank=\"\",type=\"DDR4\","
               "manufacturer=\"A\\\\B \\\"C\\\"\""),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("raminfo_module_size_bytes{index=\"1\",slot=\"DIMM 0\""), std::string::npos);
  EXPECT_NE(out.find("} 8589934592\n"), std::string::npos);
  EXPECT_NE(out.find("raminfo_installed_bytes 17179869184\n"), std::string::npos);
  EXPECT_NE(out.find("raminfo_visible_bytes 66571993088\n"), std::string::npos);
  EXPECT_NE(out.find("raminfo_smbios_readable 1\n"), std::string::npos);
}

// Fleets group by maker: every spelling of one maker gives one label value,
// as does a part number where the string names no maker of memory, and a
// string no rule knows stays as the firmware wrote it.
TEST(Views, MakersShowTheirOneSpelling) {
  const Dimm with_part{.size = 8192, .locator = 1, .manufacturer = 2, .part = 3};
  const Bytes t = table({
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2}.with({"A0", "80AD"}),
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2}.with({"A1", "Hynix/Hyundai"}),
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2}.with({"A2", "AD00000000000000"}),
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2}.with({"A3", "Acme Memory"}),
      with_part.with({"A4", "Unknown", "HMA81GS6AFR8N-UH"}),
      with_part.with({"A5", "0215", "HMT351S6CFR8C-PB"}),
  });
  const std::string prom = render_prometheus(load(t));
  for (const char* slot : {"A0", "A1", "A2", "A4", "A5"})
    EXPECT_NE(prom.find(std::string("slot=\"") + slot +
                        "\",bank=\"\",type=\"DDR4\",manufacturer=\"SK Hynix\""),
              std::string::npos)
        << slot << "\n"
        << prom;
  EXPECT_NE(prom.find("slot=\"A3\",bank=\"\",type=\"DDR4\",manufacturer=\"Acme Memory\""),
            std::string::npos)
      << prom;
  const std::vector<std::string> rows = lines(render_table(load(t)));
  ASSERT_EQ(rows.size(), 8u);
  for (size_t i : {1, 2, 3, 5, 6})
    EXPECT_NE(rows[i].find("SK Hynix"), std::string::npos) << rows[i];
  EXPECT_NE(rows[4].find("Acme Memory"), std::string::npos) << rows[4];
}

TEST(Prometheus, UnreadableTableSaysSoAndClaimsNoModules) {
  fresh_library({});
  inventory inv;
  EXPECT_FALSE(read_inventory(&inv));
  const std::string out = render_prometheus(inv);
  EXPECT_NE(out.find("raminfo_smbios_readable 0\n"), std::string::npos);
  EXPECT_EQ(out.find("raminfo_modules_populated"), std::string::npos);
}

// promtool, the format's own checker, accepts the output of hostile names.
TEST(Prometheus, PromtoolAcceptsTheOutput) {
#ifdef _WIN32
  // promtool is a Linux program here; the Linux build of this test runs it.
  GTEST_SKIP() << "promtool is not run from Windows programs; the Linux build runs this check";
#endif
  if (std::system("command -v promtool >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "promtool not installed";
  const Bytes t = table({
      Dimm{.size = 8192, .locator = 1, .manufacturer = 2, .serial = 3, .part = 4}.with(
          {"Sl\xF6t\\1", "\"Q\"", "\x7F", std::string(70, 'p')}),
      Dimm{.size = 0, .locator = 1}.with({"E"}),
      Dimm{.size = 4096, .locator = 1}.with({"DIMM 1"}),
  });
  const std::string out = render_prometheus(load(t));
  char path[] = "/tmp/raminfo-prom-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, out.data(), out.size()), static_cast<ssize_t>(out.size()));
  close(fd);
  const std::string cmd = std::string("promtool check metrics < ") + path + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) said += buf;
  const int status = pclose(p);
  std::remove(path);
  EXPECT_EQ(status, 0) << said << "\n" << out;
  EXPECT_EQ(said, "") << "promtool also warns about lint problems";
}

}  // namespace

namespace {

// A machine whose table also lists a 2 MiB flash ROM and a video memory
// device, as the HP Z600's lists its system ROM: the people's and the
// monitoring views count and total system memory only, as --detail does.
Bytes with_other_memory() {
  // A Physical Memory Array (type 16) of video memory (use 04h), handle 0x20.
  Bytes video_array(0x0F, 0);
  video_array[0] = 16;
  video_array[1] = 0x0F;
  video_array[2] = 0x20;
  video_array[5] = 0x04;
  Bytes video = Dimm{.size = 512, .locator = 1}.formatted();
  video[4] = 0x20;  // in the video array
  return table({structure(video_array), Dimm{.size = 8192, .locator = 1}.with({"DIMM1"}),
                Dimm{.size = 8192, .locator = 1}.with({"DIMM2"}),
                Dimm{.size = 0, .locator = 1}.with({"DIMM3"}),
                Dimm{.size = 2, .locator = 1, .type = 0x09}.with({"SYSTEM ROM"}),
                structure(video, {"VRAM"}), end_of_table()});
}

TEST(OtherMemory, TableMarksItAndCountsSystemMemoryOnly) {
  const std::vector<std::string> out = lines(render_table(load(with_other_memory())));
  // The rows, the summary and the finding of the empty DIMM3.
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[7].rfind("info free_slots: 1 of 3 slots is empty (DIMM3)", 0), 0u) << out[7];
  EXPECT_EQ(out[0].substr(out[0].size() - 4), "NOTE");
  EXPECT_EQ(out[1].find("not system memory"), std::string::npos);
  EXPECT_NE(out[4].find("not system memory"), std::string::npos) << out[4];  // the ROM
  EXPECT_NE(out[5].find("not system memory"), std::string::npos) << out[5];  // the VRAM
  EXPECT_EQ(out[6],
            "2 of 3 slots populated, 16 GiB installed, not counting 2 devices that are not "
            "system memory; 62 GiB visible to the operating system");
  // Without such devices the table keeps its columns.
  EXPECT_EQ(lines(render_table(load(kTwoSlots)))[0].find("NOTE"), std::string::npos);
}

TEST(OtherMemory, GaugesCountSystemMemoryOnly) {
  const std::string text = render_prometheus(load(with_other_memory()));
  EXPECT_NE(text.find("\nraminfo_slots 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nraminfo_modules_populated 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nraminfo_installed_bytes " + std::to_string(uint64_t{16} << 30) + "\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nraminfo_other_memory_devices 2\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("SYSTEM ROM"), std::string::npos) << text;
  EXPECT_EQ(text.find("VRAM"), std::string::npos) << text;
}

}  // namespace
