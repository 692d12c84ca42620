// The command's one-pass baseline reader against the tests' tree reader:
// on documents raminfo writes, on documents shaped like them with every kind
// of value in every field, and on all of these cut short or with a byte
// changed, both give the same state or the same error at the same byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "compare/compare.h"
#include "detail/detail.h"
#include "generator.h"
#include "reference_reader.h"

namespace {

// Both readers on one text; false (after a test failure) when they differ.
bool same_reading(const std::string& text, const std::string& what) {
  memory_state fast, slow;
  std::string fast_error, slow_error;
  const bool fast_ok = state_from_text(text, &fast, &fast_error);
  const bool slow_ok = reference_state_from_text(text, &slow, &slow_error);
  EXPECT_EQ(fast_ok, slow_ok) << what << ": " << fast_error << " / " << slow_error;
  if (fast_ok != slow_ok) return false;
  if (!fast_ok) {
    EXPECT_EQ(fast_error, slow_error) << what;
    return fast_error == slow_error;
  }
  EXPECT_EQ(fast.detail, slow.detail) << what;
  EXPECT_EQ(fast.text_bytes, slow.text_bytes) << what;
  EXPECT_EQ(fast.modules.size(), slow.modules.size()) << what;
  if (fast.detail != slow.detail || fast.text_bytes != slow.text_bytes ||
      fast.modules.size() != slow.modules.size())
    return false;
  for (size_t i = 0; i < fast.modules.size(); ++i) {
    EXPECT_EQ(module_fields(fast.modules[i]), module_fields(slow.modules[i]))
        << what << ", module " << i;
    if (module_fields(fast.modules[i]) != module_fields(slow.modules[i])) return false;
  }
  return true;
}

// Bytes that change what JSON means where they land.
const char kMutations[] = {'"',  '\\', '{', '}', '[', ']', ',', ':',    ' ',
                           '\n', '0',  '-', 'e', 'x', 'n', 't', '\x01', '\xC3'};

// The text cut at some lengths, and with some bytes changed; stops at the
// first difference, which says enough.
void same_reading_mutated(const std::string& text, const std::string& what, std::mt19937_64* rng,
                          int count) {
  std::uniform_int_distribution<size_t> at(0, text.empty() ? 0 : text.size() - 1);
  std::uniform_int_distribution<size_t> which(0, sizeof kMutations - 1);
  for (int i = 0; i < count; ++i) {
    const size_t pos = at(*rng);
    if (!same_reading(text.substr(0, pos), what + ", cut at " + std::to_string(pos))) return;
    std::string changed = text;
    if (changed.empty()) continue;
    changed[pos] = kMutations[which(*rng)];
    if (!same_reading(changed, what + ", byte " + std::to_string(pos) + " changed")) return;
  }
}

// Documents shaped like raminfo's, with anything in any field.
class shaped_documents {
 public:
  explicit shaped_documents(uint64_t seed) : rng_(seed) {}

  std::string document() {
    compact_ = coin(3);
    std::vector<std::string> members;
    if (!coin(8)) members.push_back(member("schema", coin(6) ? scalar() : str("raminfo-detail/1")));
    if (coin(2)) members.push_back(member("readable", coin(4) ? scalar() : "true"));
    if (!coin(6)) members.push_back(member("devices", list(true)));
    if (coin(2)) members.push_back(member("slots", list(false)));
    if (coin(2)) members.push_back(member("total_mb", scalar()));
    if (coin(3)) members.push_back(member("totals", object({{"slots", "2"}}, 2)));
    shuffle_some(&members);
    return object_of(members, 1);
  }

 private:
  bool coin(int one_in) { return std::uniform_int_distribution<int>(1, one_in)(rng_) == 1; }
  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  static std::string str(const std::string& s) { return "\"" + s + "\""; }

  static std::string hex_byte(unsigned char c) {
    const char* digits = "0123456789abcdef";
    return {digits[c >> 4], digits[c & 15]};
  }

  std::string scalar() {
    static const char* const kScalars[] = {"0",
                                           "1",
                                           "-1",
                                           "-0",
                                           "17179869184",
                                           "9007199254740993",
                                           "1e3",
                                           "2.5",
                                           "1E+400",
                                           "-2e-3",
                                           "true",
                                           "false",
                                           "null",
                                           "\"\"",
                                           "\"A\"",
                                           "\"DIMM 1  \"",
                                           "\"\\u00e9\\ud83d\\ude00\"",
                                           "\"\\ud800x\"",
                                           "{}",
                                           "[]",
                                           "123456789012345",
                                           "1234567890123456"};
    return kScalars[below(sizeof kScalars / sizeof kScalars[0])];
  }

  // A member name, now and then spelled with an escape.
  std::string name(const std::string& n) {
    if (!n.empty() && coin(25))
      return "\"\\u00" + hex_byte(static_cast<unsigned char>(n[0])) + n.substr(1) + "\"";
    return str(n);
  }

  std::string member(const std::string& n, const std::string& value) {
    return name(n) + (compact_ ? ":" : ": ") + value;
  }

  std::string object_of(const std::vector<std::string>& members, int depth) {
    if (members.empty()) return "{}";
    const std::string indent = compact_ ? "" : "\n" + std::string(2 * depth, ' ');
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i) out += (i > 0 ? "," : "") + indent + members[i];
    return out + (compact_ ? "" : "\n" + std::string(2 * depth - 2, ' ')) + "}";
  }

  std::string object(const std::vector<std::pair<std::string, std::string>>& named, int depth) {
    std::vector<std::string> members;
    for (const auto& m : named) members.push_back(member(m.first, m.second));
    return object_of(members, depth);
  }

  void shuffle_some(std::vector<std::string>* members) {
    if (coin(4)) std::shuffle(members->begin(), members->end(), rng_);
    // A name twice, now and then.
    if (!members->empty() && coin(15)) members->push_back((*members)[below(members->size())]);
  }

  std::string firmware_text(int depth) {
    if (coin(10)) return scalar();
    return object({{"string_number", "1"},
                   {"raw", coin(5) ? scalar() : str(coin(2) ? "Samsung   " : "M393A4K40CB2")},
                   {"bytes_hex", "null"},
                   {"placeholder", "false"}},
                  depth);
  }

  std::string code_name(int depth) {
    if (coin(10)) return scalar();
    return object({{"code", "26"}, {"name", coin(5) ? scalar() : str("DDR4")}}, depth);
  }

  // A detail document's device, or a plain report's slot; the same one
  // repeated, as the documents repeat it, or another.
  std::string item(bool device) {
    if (!repeat_.empty() && !coin(3)) return repeat_;
    if (coin(20)) return scalar();
    std::vector<std::string> members;
    if (device) {
      members.push_back(member("handle", "40"));
      if (!coin(20)) members.push_back(member("locator", firmware_text(4)));
      members.push_back(member("bank_locator", firmware_text(4)));
      members.push_back(member("size_bytes", coin(3) ? scalar() : "34359738368"));
      members.push_back(member("populated", coin(3) ? scalar() : "true"));
      members.push_back(member("system_memory", coin(3) ? scalar() : "true"));
      members.push_back(member("form_factor", code_name(4)));
      members.push_back(member("memory_type", code_name(4)));
      members.push_back(
          member("type_detail", object({{"raw", "128"}, {"names", "[\"Synchronous\"]"}}, 4)));
      members.push_back(member("speed_mts", scalar()));
      members.push_back(member("configured_speed_mts", scalar()));
      members.push_back(member("manufacturer", firmware_text(4)));
      members.push_back(member("vendor", coin(2) ? "null" : code_name(4)));
      members.push_back(member("serial_number", firmware_text(4)));
      members.push_back(member("asset_tag", firmware_text(4)));
      members.push_back(member("part_number", firmware_text(4)));
      members.push_back(member("rank", scalar()));
      members.push_back(member("configured_voltage_mv", scalar()));
    } else {
      if (!coin(20)) members.push_back(member("slot", coin(5) ? scalar() : str("DIMM A1")));
      members.push_back(member("size_mb", coin(3) ? scalar() : "16384"));
      for (const char* n : {"type", "manufacturer", "part_number", "serial", "form_factor"})
        members.push_back(member(n, coin(3) ? scalar() : str("x")));
      for (const char* n : {"speed_mts", "configured_speed_mts", "voltage_mv"})
        members.push_back(member(n, scalar()));
    }
    shuffle_some(&members);
    std::string out = object_of(members, 3);
    if (coin(2)) repeat_ = out;
    return out;
  }

  std::string list(bool devices) {
    if (coin(10)) return scalar();
    repeat_.clear();
    const size_t n = below(6);
    const std::string indent = compact_ ? "" : "\n    ";
    std::string out = "[";
    for (size_t i = 0; i < n; ++i) out += (i > 0 ? "," : "") + indent + item(devices);
    return out + (n > 0 && !compact_ ? "\n  " : "") + "]";
  }

  std::mt19937_64 rng_;
  bool compact_ = false;
  std::string repeat_;
};

TEST(BaselineReaderTest, SameAsTheTreeReaderOnShapedDocuments) {
  std::mt19937_64 rng(7);
  for (uint64_t seed = 1; seed <= 400; ++seed) {
    const std::string text = shaped_documents(seed).document();
    const std::string what = "seed " + std::to_string(seed);
    if (!same_reading(text, what)) return;
    same_reading_mutated(text, what, &rng, 20);
  }
}

// The detail documents raminfo writes, of tables well formed and hostile.
TEST(BaselineReaderTest, SameAsTheTreeReaderOnWrittenDocuments) {
  std::mt19937_64 rng(11);
  for (const raminfo_gen::Mode mode :
       {raminfo_gen::Mode::well_formed, raminfo_gen::Mode::hostile}) {
    raminfo_gen::GeneratorOptions options;
    options.mode = mode;
    options.max_devices = 12;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
      const raminfo_gen::Bytes t = raminfo_gen::generate_table(seed, options);
      const std::string text = raminfo_detail::detail_json(
          raminfo_detail::decode_detail(smbios_view{t.data(), t.size()}));
      const std::string what = "table seed " + std::to_string(seed);
      if (!same_reading(text, what)) return;
      same_reading_mutated(text, what, &rng, 40);
    }
  }
}

// Values the comparison keeps nothing of, as a member of the document, of a
// device, of a firmware string and of a plain report's slot, in an array,
// and in two devices of one shape: read and checked as any other value, to
// the same error at the same byte.
TEST(BaselineReaderTest, SameAsTheTreeReaderOnIgnoredValues) {
  const char* const kHosts[] = {
      R"({"schema":"raminfo-detail/1","findings":@,"devices":[{"handle":1,)"
      R"("locator":{"string_number":1,"raw":"A1","bytes_hex":@},"position":@,"populated":true}]})",
      R"({"schema":"raminfo-detail/1","devices":[{"locator":{"raw":"A"},"type_detail":[@]},)"
      R"({"locator":{"raw":"B"},"type_detail":[@]}]})",
      "{\n  \"schema\": \"raminfo-detail/1\",\n  \"devices\": [\n    {\n      \"locator\": "
      "{\"raw\": \"A\"},\n      \"position\": @\n    },\n    {\n      \"locator\": "
      "{\"raw\": \"B\"},\n      \"position\": @\n    }\n  ]\n}\n",
      R"({"slots":[{"slot":"DIMM 1","size_mb":4096,"extra":@}],"total_mb":4096,"more":@})",
  };
  // An object of n members named n0, n1, ..., then the member last.
  const auto members = [](int n, const std::string& last) {
    std::string out = "{";
    for (int i = 0; i < n; ++i) out += "\"n" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    return out + last + "}";
  };
  // Objects and arrays in turn, twice levels deep.
  const auto deep = [](int levels) {
    std::string out;
    for (int i = 0; i < levels; ++i) out += R"({"a":[)";
    out += "0";
    for (int i = 0; i < levels; ++i) out += "]}";
    return out;
  };
  // Each value, and the fault the reading finds in it ("" for none).
  const struct {
    std::string value;
    const char* fault;
  } cases[] = {
      {"0", ""},
      {"-0", ""},
      {"4294967296", ""},
      {"-12.5e+3", ""},
      {"1E-2", ""},
      {"0.0", ""},
      {"true", ""},
      {"false", ""},
      {"null", ""},
      {R"("")", ""},
      {R"("P0_Node0_Channel0_Dimm0 and more than a word")", ""},
      {R"("\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")", ""},
      {R"("\ud800\u0041 \udc00 \ud800")", ""},
      {"\"\xC3\xA9 \xFF\"", ""},
      {R"({"a":1,"b":{"c":[true,false,null,"x"]},"d":"\u0041"})", ""},
      {"[ {\"a\": 1, \"b\": 2},\n {\"a\": 1, \"b\": 2}, {\"b\": 1, \"a\": 2} ]", ""},
      {R"([{"a":1,"b":2},{"a":1,"b":2,"c":3},{"a":1}])", ""},
      {members(70, R"("n70":0)"), ""},
      {deep(25), ""},
      {"01", "malformed number"},
      {"-01", "malformed number"},
      {"1.", "malformed number"},
      {"1.e5", "malformed number"},
      {"1e", "malformed number"},
      {"1e+", "malformed number"},
      {"-", "not a value"},
      {".5", "not a value"},
      {"+1", "not a value"},
      {"tru", "unknown word"},
      {"nul", "unknown word"},
      {"fals", "unknown word"},
      {R"("\x")", "bad escape"},
      {R"("\u12G4")", "bad \\u escape"},
      {R"("\ud800\u12G4")", "bad \\u escape"},
      {"\"a\x01b\"", "control character in a string"},
      {"[1,]", "not a value"},
      {"[1 2]", "expected ',' or ']'"},
      {R"({"a" 1})", "expected ':'"},
      {R"({"a":1,})", "expected a member name"},
      {R"({1:2})", "expected a member name"},
      {R"({"a":1 "b":2})", "expected ',' or '}'"},
      {"[{\"a\": 1},{\"a\": \x01}]", "not a value"},
      {R"({"a":1,"a":2})", "a member given twice"},
      {R"({"a":1,"b":2,"\u0061":3})", "a member given twice"},
      {R"({"x":{"a":1},"y":{"a":1,"a":1}})", "a member given twice"},
      {R"([{"a":1,"b":2},{"a":1,"b":2,"a":3}])", "a member given twice"},
      {R"([{"a":1,"b":2},{"a":1,"a":2}])", "a member given twice"},
      {R"([{"a":1,"b":2},{"b":1,"a":2,"b":3}])", "a member given twice"},
      {members(70, R"("n3":0)"), "a member given twice"},
      {deep(40), "nesting too deep"},
  };
  std::mt19937_64 rng(13);
  for (const auto& c : cases) {
    for (const char* host : kHosts) {
      std::string text = host;
      for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1))
        text.replace(at, 1, c.value);
      const std::string what = c.value.substr(0, 40) + " in " + std::string(host).substr(0, 40);
      if (!same_reading(text, what)) return;
      memory_state s;
      std::string error;
      const bool ok = state_from_text(text, &s, &error);
      if (*c.fault == '\0') {
        EXPECT_TRUE(ok) << what << ": " << error;
      } else {
        EXPECT_FALSE(ok) << what;
        EXPECT_EQ(error.rfind(std::string("not JSON: ") + c.fault + " at byte ", 0), 0u)
            << what << ": " << error;
      }
      same_reading_mutated(text, what, &rng, 10);
    }
  }
}

// The limits: 64 levels of nesting and 200,000 values are read, one more is
// refused, at the same byte.
TEST(BaselineReaderTest, SameAsTheTreeReaderAtTheLimits) {
  const auto nested = [](int levels) {
    return std::string(static_cast<size_t>(levels), '[') +
           std::string(static_cast<size_t>(levels), ']');
  };
  const auto values = [](size_t n) {
    std::string out = R"({"total_mb":0,"slots":[],"x":[)";
    for (size_t i = 0; i + 4 < n; ++i) out += i > 0 ? ",0" : "0";
    return out + "]}";
  };
  // The JSON error the reader gives, or "" when the text is JSON (whether or
  // not a raminfo document).
  const auto json_error = [](const std::string& text) {
    memory_state s;
    std::string error;
    if (state_from_text(text, &s, &error)) return std::string();
    return error.rfind("not JSON: ", 0) == 0 ? error : std::string();
  };
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {nested(65), ""},
      {nested(66), "not JSON: nesting too deep at byte 65"},
      {values(200000), ""},
      {values(200001), "not JSON: too many values at byte "},
  };
  for (const auto& c : cases) {
    const std::string what = c.text.substr(0, 40);
    if (!same_reading(c.text, what)) continue;
    const std::string error = json_error(c.text);
    if (*c.error == '\0')
      EXPECT_EQ(error, "") << what;
    else
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << what << ": " << error;
  }
}

}  // namespace
