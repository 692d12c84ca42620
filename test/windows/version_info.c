/* Reads a module's VERSIONINFO resource as Windows Explorer does, with
 * GetFileVersionInfo and VerQueryValue, and checks it:
 *   version_info FILE ORIGINAL_FILENAME VERSION
 * VERSION is the project's, e.g. 1.0.0; the file and product versions must
 * be VERSION.0, both in the fixed part and as text. Exits 0 when every check
 * holds, 1 otherwise. Only this host links version.dll; the DLL it reads
 * must not need it. */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int g_failures;

static void check(int ok, const char* what) {
  if (!ok) ++g_failures;
  printf("%s %s\n", ok ? "ok:  " : "FAIL:", what);
}

/* The text value NAME of the first language block, or NULL. */
static const char* string_value(void* info, unsigned lang, unsigned codepage, const char* name) {
  char path[128];
  snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", lang, codepage, name);
  char* value = NULL;
  UINT len = 0;
  if (!VerQueryValueA(info, path, (void**)&value, &len) || len == 0) return NULL;
  return value;
}

static void check_text(void* info, unsigned lang, unsigned codepage, const char* name,
                       const char* want, int exact) {
  const char* got = string_value(info, lang, codepage, name);
  char what[512];
  snprintf(what, sizeof what, "%s is %s\"%s\" (got \"%s\")", name, exact ? "" : "a text with ",
           want, got ? got : "(none)");
  check(got != NULL && (exact ? strcmp(got, want) == 0 : strstr(got, want) != NULL), what);
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: version_info FILE ORIGINAL_FILENAME VERSION\n");
    return 2;
  }
  const char* file = argv[1];
  unsigned major = 0, minor = 0, patch = 0;
  if (sscanf(argv[3], "%u.%u.%u", &major, &minor, &patch) != 3) {
    fprintf(stderr, "version_info: VERSION must be MAJOR.MINOR.PATCH\n");
    return 2;
  }
  char four_part[64];
  snprintf(four_part, sizeof four_part, "%u.%u.%u.0", major, minor, patch);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  check(size > 0, "the module has a version resource");
  if (size == 0) return 1;
  void* info = malloc(size);
  if (!info || !GetFileVersionInfoA(file, 0, size, info)) {
    check(0, "GetFileVersionInfoA reads it");
    return 1;
  }

  VS_FIXEDFILEINFO* fixed = NULL;
  UINT len = 0;
  check(VerQueryValueA(info, "\\", (void**)&fixed, &len) && len >= sizeof *fixed &&
            fixed->dwSignature == 0xFEEF04BD,
        "the fixed part is there");
  if (fixed) {
    const DWORD ms = (DWORD)(major << 16 | minor), ls = (DWORD)(patch << 16);
    char what[160];
    snprintf(what, sizeof what, "FILEVERSION and PRODUCTVERSION are %s (got %lu.%lu.%lu.%lu)",
             four_part, fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
             fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    check(fixed->dwFileVersionMS == ms && fixed->dwFileVersionLS == ls &&
              fixed->dwProductVersionMS == ms && fixed->dwProductVersionLS == ls,
          what);
  }

  WORD* translation = NULL;
  check(VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &len) && len >= 4,
        "a language and code page are named");
  if (translation && len >= 4) {
    const unsigned lang = translation[0], codepage = translation[1];
    check_text(info, lang, codepage, "FileVersion", four_part, 1);
    check_text(info, lang, codepage, "ProductVersion", four_part, 1);
    check_text(info, lang, codepage, "ProductName", "tarnwick-smbios-ram-info", 1);
    check_text(info, lang, codepage, "OriginalFilename", argv[2], 1);
    check_text(info, lang, codepage, "FileDescription", "SMBIOS", 0);
    check_text(info, lang, codepage, "LegalCopyright", "The tarnwick-smbios-ram-info authors", 0);
  }
  free(info);
  if (g_failures) printf("%d check(s) failed\n", g_failures);
  return g_failures ? 1 : 0;
}
