// The structure walk and string lookup, on tables built byte by byte.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/dimm.h"
#include "smbios/smbios.h"
#include "table_builder.h"

namespace {

smbios_view view(const Bytes& t) { return smbios_view{t.data(), t.size()}; }

// (offset, type) of every structure the walk yields.
std::vector<std::pair<size_t, int>> walk(const Bytes& t) {
  std::vector<std::pair<size_t, int>> out;
  smbios_walk w = smbios_walk_start(view(t));
  smbios_struct st;
  while (smbios_next(view(t), &w, &st)) out.emplace_back(st.pos, st.type);
  return out;
}

struct WalkCase {
  const char* name;
  Bytes table;
  std::vector<std::pair<size_t, int>> yielded;
};

const Bytes kBios = structure({0, 5, 0, 0, 1}, {"A", "B"});  // 5 + 4 + 1 bytes

const WalkCase kWalkCases[] = {
    {"three_byte_table_yields_nothing", {1, 4, 0}, {}},
    {"length_byte_of_3_ends_the_walk_whatever_follows",
     table({{1, 3, 0, 0, 0, 0}, structure({2, 4, 0, 0})}),
     {}},
    {"no_strings_next_starts_two_bytes_after_formatted_area",
     table({structure({1, 4, 0, 0}), structure({2, 4, 0, 0})}),
     {{0, 1}, {6, 2}}},
    {"strings_A_and_B_next_starts_five_bytes_after_formatted_area",
     table({kBios, structure({2, 4, 0, 0})}),
     {{0, 0}, {10, 2}}},
    {"end_of_table_stops_and_is_not_yielded",
     table({structure({1, 4, 0, 0}), end_of_table(), structure({2, 4, 0, 0})}),
     {{0, 1}}},
    {"fewer_than_4_bytes_after_the_last_structure_are_ignored",
     table({structure({1, 4, 0, 0}), {2, 4, 0}}),
     {{0, 1}}},
    {"exactly_4_bytes_after_a_structure_are_walked",
     table({structure({1, 4, 0, 0}), {2, 4, 0, 0}}),
     {{0, 1}, {6, 2}}},
    {"unclosed_string_set_is_yielded_and_ends_the_walk",
     table({structure({1, 4, 0, 0}), {2, 4, 0, 0, 'x', 'y', 0, 'z'}}),
     {{0, 1}, {6, 2}}},
    {"NULs_in_the_formatted_area_do_not_close_the_string_set",
     table({structure({1, 8, 0, 0, 0, 0, 0, 0}, {"S"}), structure({2, 4, 0, 0})}),
     {{0, 1}, {11, 2}}},
    {"formatted_area_running_past_the_end_is_yielded_last",
     table({structure({1, 4, 0, 0}), {17, 0x28, 0, 0, 1, 2}}),
     {{0, 1}, {6, 17}}},
    {"single_structure_without_its_closing_pair", {1, 4, 0, 0}, {{0, 1}}},
};

class Walk : public testing::TestWithParam<WalkCase> {};

TEST_P(Walk, YieldsExactlyTheseStructures) {
  EXPECT_EQ(walk(GetParam().table), GetParam().yielded);
}

INSTANTIATE_TEST_SUITE_P(Tables, Walk, testing::ValuesIn(kWalkCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The closing pair is found wherever it falls, also when the scan takes
// several bytes at a time and the pair straddles two of its steps, and a
// lone NUL between strings never passes for it.
TEST(Walk, FindsTheClosingPairAtEveryDistance) {
  for (size_t len = 1; len <= 48; ++len) {
    for (size_t split = 0; split < len; ++split) {
      // Strings of split and len - split letters (one string when split is 0).
      std::vector<std::string> strings = {std::string(split == 0 ? len : split, 'a')};
      if (split > 0) strings.push_back(std::string(len - split, 'b'));
      const Bytes first = structure({1, 4, 0, 0}, strings);
      const Bytes t = table({first, structure({2, 4, 0, 0})});
      const std::vector<std::pair<size_t, int>> want = {{0, 1}, {first.size(), 2}};
      ASSERT_EQ(walk(t), want) << "strings of " << len << " letters split at " << split;
    }
  }
}

TEST(Walk, ReportsLengthAndStringSetPosition) {
  const Bytes t = table({kBios, structure({2, 4, 0, 0})});
  smbios_walk w = smbios_walk_start(view(t));
  smbios_struct st;
  ASSERT_TRUE(smbios_next(view(t), &w, &st));
  EXPECT_EQ(st.length, 5);
  EXPECT_EQ(st.strings, 5u);
}

struct StringCase {
  const char* name;
  Bytes table;  // formatted area of 4 bytes, then the string set
  uint8_t number;
  std::string text;
};

const StringCase kStringCases[] = {
    {"first", structure({1, 4, 0, 0}, {"DIMM_A1", "Kingston"}), 1, "DIMM_A1"},
    {"second", structure({1, 4, 0, 0}, {"DIMM_A1", "Kingston"}), 2, "Kingston"},
    {"number_0_is_empty", structure({1, 4, 0, 0}, {"DIMM_A1"}), 0, ""},
    {"beyond_the_last_is_empty", structure({1, 4, 0, 0}, {"DIMM_A1"}), 2, ""},
    {"far_beyond_the_last_is_empty", structure({1, 4, 0, 0}, {"A", "B"}), 255, ""},
    {"after_an_empty_first_string_is_empty", {1, 4, 0, 0, 0, 'B', 0, 0}, 2, ""},
    {"no_strings_at_all", structure({1, 4, 0, 0}), 1, ""},
    {"unterminated_last_string_is_cut_at_the_table_end", {1, 4, 0, 0, 'A', 0, 'B', 'C'}, 2, "BC"},
    {"set_starting_at_the_table_end", {1, 4, 0, 0}, 1, ""},
    {"bytes_above_0x7F_pass_through", structure({1, 4, 0, 0}, {"\xC3\xA9t\xE9"}), 1,
     "\xC3\xA9t\xE9"},
};

class String : public testing::TestWithParam<StringCase> {};

TEST_P(String, IsFoundByNumberWithinTheTable) {
  const Bytes& t = GetParam().table;
  const smbios_text s = smbios_string(view(t), 4, GetParam().number);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.data), s.len), GetParam().text);
  if (s.len > 0) {
    EXPECT_LE(s.data + s.len, t.data() + t.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, String, testing::ValuesIn(kStringCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Several numbers looked up in one pass give what each lookup gives alone,
// whatever order the numbers come in.
TEST(String, ManyInOnePassMatchTheLookupOfEach) {
  const Bytes t = structure({1, 4, 0, 0}, {"A1", "Kingston", "", "lost"});
  const Bytes cut = {1, 4, 0, 0, 'A', 0, 'B', 'C'};  // unterminated last string
  const std::vector<std::vector<uint8_t>> orders = {
      {1, 2, 3, 4}, {4, 3, 2, 1}, {2, 2, 0, 1}, {0, 5, 255, 1}, {3, 1, 4, 2}};
  for (const Bytes* table : {&t, &cut}) {
    for (const auto& numbers : orders) {
      smbios_text texts[4];
      smbios_strings(view(*table), 4, numbers.data(), texts, numbers.size());
      for (size_t i = 0; i < numbers.size(); ++i) {
        const smbios_text one = smbios_string(view(*table), 4, numbers[i]);
        EXPECT_EQ(texts[i].len, one.len) << "number " << int(numbers[i]);
        EXPECT_EQ(texts[i].data, one.data) << "number " << int(numbers[i]);
      }
    }
  }
}

TEST(String, SetBeyondTheTableEndIsEmpty) {
  const Bytes t = {1, 0x28, 0, 0};
  EXPECT_EQ(smbios_string(view(t), 0x28, 1).len, 0u);
}

// The device walk, in every instruction set this machine runs, against the
// structure walk filtered to memory devices: the same devices at the same
// offsets, for string sets of every length around the window sizes, and for
// the same table cut short at every length, so that each step meets the
// table end at each point of a structure.
std::vector<size_t> devices_by_walk(const Bytes& t) {
  std::vector<size_t> out;
  smbios_walk w = smbios_walk_start(view(t));
  smbios_struct st;
  while (smbios_next(view(t), &w, &st)) {
    if (is_memory_device(st)) out.push_back(st.pos);
  }
  return out;
}

std::vector<size_t> devices_by_device_walk(walk_isa isa, const Bytes& t) {
  std::vector<size_t> out;
  smbios_walk w = smbios_walk_start(view(t));
  smbios_struct st;
  size_t skip = 0;
  while (smbios_next_device_with(isa, view(t), &w, &skip, &st)) out.push_back(st.pos);
  return out;
}

Bytes mixed_table() {
  std::vector<Bytes> pieces;
  for (size_t len = 0; len <= 70; ++len) {
    // A set of len letters in one or two strings, on a structure stepped over
    // (cache, type 7) and on a device; a type-17 structure too short to be a
    // device and a bare structure in between.
    std::vector<std::string> strings;
    if (len > 0) strings.push_back(std::string((len + 1) / 2, 'a'));
    if (len > 1) strings.push_back(std::string(len / 2, 'b'));
    pieces.push_back(
        structure({7, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, strings));
    Dimm d = ddr4_dimm();
    d.length = static_cast<uint8_t>(len % 2 == 0 ? 0x22 : 0x54);
    pieces.push_back(d.with(strings));
    pieces.push_back(structure({17, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    pieces.push_back(structure({32, 4, 0, 0}));
  }
  return table(pieces);
}

TEST(DeviceWalk, FindsTheDevicesTheWalkFindsInEveryInstructionSet) {
  const Bytes whole = mixed_table();
  for (walk_isa isa : {walk_isa::portable, walk_isa::sse2, walk_isa::avx2}) {
    if (!walk_isa_available(isa)) continue;
    for (size_t len = 0; len <= whole.size(); ++len) {
      const Bytes t(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(len));
      ASSERT_EQ(devices_by_device_walk(isa, t), devices_by_walk(t))
          << "instruction set " << static_cast<int>(isa) << ", table cut to " << len << " bytes";
    }
  }
}

TEST(DeviceWalk, PassesDevicesAndCountsWhatItPassed) {
  const Bytes t = mixed_table();
  const std::vector<size_t> all = devices_by_walk(t);
  ASSERT_GT(all.size(), 3u);
  for (walk_isa isa : {walk_isa::portable, walk_isa::sse2, walk_isa::avx2}) {
    if (!walk_isa_available(isa)) continue;
    for (size_t index : {size_t{0}, size_t{1}, all.size() - 1, all.size(), all.size() + 5}) {
      smbios_walk w = smbios_walk_start(view(t));
      smbios_struct st;
      size_t skip = index;
      const bool found = smbios_next_device_with(isa, view(t), &w, &skip, &st);
      ASSERT_EQ(found, index < all.size()) << "index " << index;
      if (found) {
        EXPECT_EQ(st.pos, all[index]);
        EXPECT_EQ(skip, 0u);
      } else {
        EXPECT_EQ(skip, index - all.size()) << "what was left to pass";
      }
    }
  }
  EXPECT_EQ(count_memory_devices(view(t)), static_cast<int>(all.size()));
}

// The closing pair at the edges of the scan's steps, wherever the table ends.
// The set's windows are 64 bytes, of which the first 16 (SSE2) or 32 (AVX2)
// are looked at alone, and near the table end 16 or 32 bytes at a time; a
// pair may straddle any of those edges, and a NUL between strings at an edge
// must not pass for half of one. Each walk is checked against the same rules
// applied a byte at a time, here, for every cut of the table.
struct PairCase {
  const char* name;
  size_t pair_at;                 // offset in the set of the pair's first NUL
  std::vector<size_t> lone_nuls;  // offsets of the NULs between strings
};

const PairCase kPairCases[] = {
    {"empty_set", 0, {}},
    {"pair_ends_the_first_16", 14, {}},
    {"pair_across_16", 15, {}},
    {"pair_opens_the_second_16", 16, {}},
    {"pair_ends_the_first_32", 30, {}},
    {"pair_across_32", 31, {}},
    {"pair_opens_the_second_32", 32, {}},
    {"pair_across_48", 47, {}},
    {"pair_ends_the_window", 62, {}},
    {"pair_across_64", 63, {}},
    {"pair_opens_the_second_window", 64, {}},
    {"pair_across_96", 95, {}},
    {"pair_across_128", 127, {}},
    {"pair_in_the_third_window", 140, {}},
    {"lone_nuls_end_the_16s_pair_across_64", 63, {15, 31, 47}},
    {"lone_nuls_open_the_16s_pair_across_32", 31, {16}},
    {"lone_nul_ends_the_window", 70, {63}},
    {"lone_nul_opens_the_second_window", 70, {64}},
    {"lone_nuls_around_the_window_edge", 100, {62, 65}},
    {"lone_nuls_end_two_windows_pair_across_128", 127, {63, 125}},
};

// The set's bytes as strings: letters, split at the lone NULs.
std::vector<std::string> set_strings(const PairCase& c) {
  std::vector<std::string> strings;
  size_t from = 0;
  for (size_t nul : c.lone_nuls) {
    strings.push_back(std::string(nul - from, 'x'));
    from = nul + 1;
  }
  if (c.pair_at > 0) strings.push_back(std::string(c.pair_at - from, 'y'));
  return strings;
}

// smbios_next's rules, a byte at a time: (offset, type) of each structure.
std::vector<std::pair<size_t, int>> walk_bytewise(const Bytes& t) {
  std::vector<std::pair<size_t, int>> out;
  for (size_t p = 0; p + 4 <= t.size();) {
    const int type = t[p];
    const size_t length = t[p + 1];
    if (length <= 3 || type == 127) break;
    out.emplace_back(p, type);
    size_t close = p + length;
    while (close + 1 < t.size() && !(t[close] == 0 && t[close + 1] == 0)) ++close;
    if (close + 1 >= t.size()) break;
    p = close + 2;
  }
  return out;
}

class ClosingPair : public testing::TestWithParam<PairCase> {};

TEST_P(ClosingPair, EveryWalkFindsItAsBytesDo) {
  const std::vector<std::string> strings = set_strings(GetParam());
  const Bytes device = ddr4_dimm().with(ddr4_strings());
  // The set on a structure stepped over and on a device in a run of them,
  // each with the length of its formatted area.
  const std::pair<Bytes, size_t> leads[] = {
      {structure({7, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, strings), 0x13},
      {ddr4_dimm().with(strings), ddr4_dimm().length}};
  for (const auto& [lead, formatted] : leads) {
    // The set is laid out as the case says.
    ASSERT_EQ(lead.size(), formatted + GetParam().pair_at + 2);
    for (size_t nul : GetParam().lone_nuls) ASSERT_EQ(lead[formatted + nul], 0) << nul;
    const Bytes whole = table(
        {device, lead, device, device, structure({4, 4, 0, 0}, {std::string(100, 'p')}), device});
    for (size_t len = device.size(); len <= whole.size(); ++len) {
      const Bytes t(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(len));
      const std::vector<std::pair<size_t, int>> want = walk_bytewise(t);
      ASSERT_EQ(walk(t), want) << "table cut to " << len << " bytes";
      std::vector<size_t> devices;
      for (const auto& [pos, type] : want)
        if (type == 17 && t[pos + 1] >= 21) devices.push_back(pos);
      for (walk_isa isa : {walk_isa::portable, walk_isa::sse2, walk_isa::avx2}) {
        if (!walk_isa_available(isa)) continue;
        SCOPED_TRACE("instruction set " + std::to_string(static_cast<int>(isa)) +
                     ", table cut to " + std::to_string(len) + " bytes");
        ASSERT_EQ(devices_by_device_walk(isa, t), devices);
        // Passing every device but the last runs through the sets as a run.
        if (devices.empty()) continue;
        smbios_walk w = smbios_walk_start(view(t));
        smbios_struct st;
        size_t skip = devices.size() - 1;
        ASSERT_TRUE(smbios_next_device_with(isa, view(t), &w, &skip, &st));
        EXPECT_EQ(st.pos, devices.back());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Edges, ClosingPair, testing::ValuesIn(kPairCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The device walk's own table of what it steps over: an end-of-table
// structure or a length byte of 3 ends the walk whatever window it is in.
TEST(DeviceWalk, StopsWhereTheWalkStops) {
  const Bytes device = ddr4_dimm().with(ddr4_strings());
  const Bytes long_set = structure({4, 4, 0, 0}, {std::string(100, 'p')});
  for (walk_isa isa : {walk_isa::portable, walk_isa::sse2, walk_isa::avx2}) {
    if (!walk_isa_available(isa)) continue;
    const Bytes tables[] = {
        table({long_set, device, end_of_table(), device, long_set, long_set}),
        table({long_set, device, {9, 3, 0, 0, 0, 0}, device, long_set, long_set}),
        table({device, long_set, long_set, device, long_set}),
        // Shorter than a window, opening with a length byte of 0 or 3: the
        // window must not be read before the length byte ends the walk.
        {1, 0, 0, 0, 0, 0, 0, 0, 0},
        {17, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Bytes& t : tables) EXPECT_EQ(devices_by_device_walk(isa, t), devices_by_walk(t));
  }
}

}  // namespace
