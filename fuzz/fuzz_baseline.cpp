// Feeds any byte string to raminfo --compare's baseline reader, and to the
// tests' tree reader that it must agree with: the same state, or the same
// error at the same byte. Built for libFuzzer, and linked with
// replay_main.cpp as an ordinary test of the committed corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compare/compare.h"
#include "reference_reader.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "baseline reader fuzz check failed: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes alone, with nothing past them, as the command reads a file.
  const std::string text(reinterpret_cast<const char*>(data), size);
  memory_state fast, slow;
  std::string fast_error, slow_error;
  const bool fast_ok = state_from_text(text.data(), text.size(), &fast, &fast_error);
  const bool slow_ok = reference_state_from_text(text, &slow, &slow_error);
  if (fast_ok != slow_ok) fail("one reader read it, the other refused it", fast_error + slow_error);
  if (!fast_ok) {
    if (fast_error != slow_error) fail("the errors differ", fast_error + "\n" + slow_error);
    return 0;
  }
  if (fast.detail != slow.detail || fast.text_bytes != slow.text_bytes)
    fail("the kind or the length differs");
  if (fast.modules.size() != slow.modules.size()) fail("the module counts differ");
  for (size_t i = 0; i < fast.modules.size(); ++i)
    if (module_fields(fast.modules[i]) != module_fields(slow.modules[i]))
      fail("a module differs", fast.modules[i].slot + " / " + slow.modules[i].slot);
  return 0;
}
