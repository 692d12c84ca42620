/* A consumer that includes raminfo.h and links the import library, as a C or
 * C++ program built with MSVC or mingw would: every call goes through
 * __declspec(dllimport) to the DLL's named exports. Exits 0 when the import
 * library binds each declaration to the export of that name and the library
 * answers with the version given (the build's project() version):
 *
 *   linked_host VERSION */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "raminfo.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    printf("usage: linked_host VERSION\n");
    return 2;
  }
  int failures = 0;
  HMODULE lib = GetModuleHandleA("tarnwick-smbios-ram-info.dll");
  if (!lib) {
    printf("FAIL: the DLL is not loaded by name\n");
    return 1;
  }
  /* Through dllimport, a function's address is the one the loader bound. */
  const struct {
    const char* name;
    FARPROC linked;
  } exports[] = {
      {"raminfo_get_json", (FARPROC)(void (*)(void))raminfo_get_json},
      {"raminfo_last_error", (FARPROC)(void (*)(void))raminfo_last_error},
      {"raminfo_slot_count", (FARPROC)(void (*)(void))raminfo_slot_count},
      {"raminfo_total_mb", (FARPROC)(void (*)(void))raminfo_total_mb},
      {"raminfo_version", (FARPROC)(void (*)(void))raminfo_version},
  };
  for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
    const int ok = exports[i].linked == GetProcAddress(lib, exports[i].name);
    printf("%s: %s is bound to the export of that name\n", ok ? "ok  " : "FAIL", exports[i].name);
    failures += !ok;
  }
  const int ok = strcmp(raminfo_version(), argv[1]) == 0 && raminfo_last_error()[0] == '\0' &&
                 strncmp(raminfo_get_json(), "{\"total_mb\":", 12) == 0;
  printf("%s: the calls answer through the import library\n", ok ? "ok  " : "FAIL");
  failures += !ok;
  return failures ? 1 : 0;
}
