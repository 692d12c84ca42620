/* A host that loads the memory inventory library at run time, the way a
 * plug-in host or a program with an optional dependency would, and prints
 * what each export answers.
 *
 *   raminfo_host [PATH_TO_LIBRARY]
 *
 * Linux: dlopen (default libtarnwick-smbios-ram-info.so.1);
 * Windows: LoadLibrary (default tarnwick-smbios-ram-info.dll). */
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE library;
static library open_library(const char* path) { return LoadLibraryA(path); }
static void* find(library lib, const char* name) {
  return (void*)(uintptr_t)GetProcAddress(lib, name);
}
static void close_library(library lib) { FreeLibrary(lib); }
static const char* default_path = "tarnwick-smbios-ram-info.dll";
#else
#include <dlfcn.h>
typedef void* library;
static library open_library(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* find(library lib, const char* name) { return dlsym(lib, name); }
static void close_library(library lib) { dlclose(lib); }
static const char* default_path = "libtarnwick-smbios-ram-info.so.1";
#endif

typedef const char* (*text_fn)(void);
typedef int32_t (*number_fn)(void);

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : default_path;
  library lib = open_library(path);
  if (!lib) {
    fprintf(stderr, "cannot load %s\n", path);
    return 2;
  }
  /* Function pointers cannot be cast from void* in ISO C; go through an
   * integer, as POSIX permits. */
  text_fn version = (text_fn)(uintptr_t)find(lib, "raminfo_version");
  text_fn get_json = (text_fn)(uintptr_t)find(lib, "raminfo_get_json");
  text_fn last_error = (text_fn)(uintptr_t)find(lib, "raminfo_last_error");
  number_fn slot_count = (number_fn)(uintptr_t)find(lib, "raminfo_slot_count");
  number_fn total_mb = (number_fn)(uintptr_t)find(lib, "raminfo_total_mb");
  if (!version || !get_json || !last_error || !slot_count || !total_mb) {
    fprintf(stderr, "%s lacks the raminfo exports\n", path);
    close_library(lib);
    return 2;
  }

  printf("version: %s\n", version());
  printf("total_mb: %d\n", (int)total_mb());
  printf("populated: %d\n", (int)slot_count());
  printf("json: %s\n", get_json());
  printf("last_error: %s\n", last_error()[0] ? last_error() : "(none)");
  close_library(lib);
  return 0;
}
