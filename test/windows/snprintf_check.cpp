// The report relies on standard snprintf: when it cuts, it returns the length
// the whole text would have had and still ends the buffer with a NUL. The
// Windows C runtime's own _snprintf does neither (it returns -1 and may leave
// the buffer unterminated); mingw-w64 gives the standard behaviour only when
// __USE_MINGW_ANSI_STDIO is on, which its C++ library turns on. This program
// is compiled with the library's own flags, so it sees the snprintf the
// report sees. Exits 0 when every case holds.
#include <cstdio>
#include <cstring>

#ifdef RAMINFO_CHECK_MSVCRT_SNPRINTF
// The C runtime's own _snprintf, to show that these cases tell it apart.
#define bounded_print _snprintf
#else
#define bounded_print std::snprintf
#endif

namespace {

int failures = 0;

// Sizes and texts reach snprintf through volatile reads, so the compiler
// cannot work a call out ahead of time and the C runtime answers every case.
volatile size_t room8 = 8, room3 = 3, room2 = 2, room0 = 0;
const char* volatile slot_name = "DIMM_A0";

void expect(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

}  // namespace

int main() {
#ifdef __USE_MINGW_ANSI_STDIO
  std::printf("__USE_MINGW_ANSI_STDIO=%d\n", __USE_MINGW_ANSI_STDIO);
#else
  std::printf("__USE_MINGW_ANSI_STDIO is not defined\n");
#endif
  // An object of the report's kind into room for 8.
  const char* const whole = ",{\"slot\":\"DIMM_A0\",\"size_mb\":0}";
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  int n = bounded_print(buf, room8, "%s{\"slot\":\"%s\",\"size_mb\":%d}", ",", slot_name, 0);
  expect(n == static_cast<int>(std::strlen(whole)), "a cut print returns the full length");
  expect(std::memcmp(buf, ",{\"slot", 7) == 0 && buf[7] == '\0',
         "it keeps size - 1 bytes and a NUL");
  expect(buf[8] == '#', "it writes nothing past the room it was given");

  // Exactly one byte short: the last character gives way to the NUL.
  std::memset(buf, '#', sizeof buf);
  n = bounded_print(buf, room3, "]}");
  expect(n == 2 && std::strcmp(buf, "]}") == 0, "a text that just fits is written whole");
  n = bounded_print(buf, room2, "]}");
  expect(n == 2 && std::strcmp(buf, "]") == 0, "one byte short: cut and NUL-terminated");

  // Room 0 writes nothing at all and still measures.
  std::memset(buf, '#', sizeof buf);
  n = bounded_print(buf, room0, "{\"total_mb\":%d,\"slots\":[", -1);
  expect(n == 24 && buf[0] == '#', "room 0 writes nothing and returns the length");

  if (failures) std::printf("%d case(s) failed\n", failures);
  return failures ? 1 : 0;
}
