/* Runs the shipped DLL over saved SMBIOS tables on any Windows, Wine
 * included, whose own firmware table has no memory devices:
 *   dump_host DLL TOTAL_MB RSMB_FILE...
 * For each file it loads the DLL afresh, points the DLL's imported entries
 * (its import address table) for GetSystemFirmwareTable and
 * GlobalMemoryStatusEx at functions of this host, which serve the file's
 * bytes as the raw SMBIOS block and TOTAL_MB MiB as the total (-1: the
 * query fails), and prints what the five exports answer:
 *   file NAME
 *   json TEXT        raminfo_get_json()
 *   error TEXT       raminfo_last_error() right after it
 *   count N          raminfo_slot_count()
 * Exits 0 when every file was served, 1 otherwise. */
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef const char* (*text_fn)(void);
typedef int32_t (*int_fn)(void);

static unsigned char* g_block;
static DWORD g_block_len;
static long long g_total_mb;

/* GetSystemFirmwareTable('RSMB', 0, ...) as Windows answers it: the size
 * needed when the buffer is too small, else the bytes and their count. */
static UINT WINAPI served_firmware_table(DWORD provider, DWORD id, PVOID buffer, DWORD size) {
  if (provider != 0x52534D42u /* 'RSMB' */ || id != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (buffer && size >= g_block_len) memcpy(buffer, g_block, g_block_len);
  return g_block_len;
}

static BOOL WINAPI served_memory_status(LPMEMORYSTATUSEX status) {
  if (g_total_mb < 0 || status->dwLength != sizeof *status) return FALSE;
  status->ullTotalPhys = (DWORDLONG)g_total_mb << 20;
  return TRUE;
}

/* Replaces the import address table entry of FUNCTION from DLL_NAME in the
 * loaded module; returns the number of entries replaced. */
static int replace_import(HMODULE module, const char* dll_name, const char* function,
                          ULONG_PTR with) {
  unsigned char* base = (unsigned char*)module;
  const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return 0;
  int replaced = 0;
  for (const IMAGE_IMPORT_DESCRIPTOR* d =
           (const IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    if (_stricmp((const char*)(base + d->Name), dll_name) != 0 || d->OriginalFirstThunk == 0)
      continue;
    /* The lookup table keeps the names; the address table beside it holds
     * what the loader bound. */
    const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)(base + d->OriginalFirstThunk);
    IMAGE_THUNK_DATA* bound = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++bound) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* by_name =
          (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
      if (strcmp((const char*)by_name->Name, function) != 0) continue;
      DWORD old;
      if (!VirtualProtect(&bound->u1.Function, sizeof bound->u1.Function, PAGE_READWRITE, &old))
        continue;
      bound->u1.Function = with;
      VirtualProtect(&bound->u1.Function, sizeof bound->u1.Function, old, &old);
      ++replaced;
    }
  }
  return replaced;
}

static int read_file(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  free(g_block);
  g_block = NULL;
  g_block_len = 0;
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
    unsigned char* grown = realloc(g_block, g_block_len + n);
    if (!grown) break;
    g_block = grown;
    memcpy(g_block + g_block_len, chunk, n);
    g_block_len += (DWORD)n;
  }
  const int ok = !ferror(f) && n == 0;
  fclose(f);
  return ok;
}

/* One file through a freshly loaded DLL: the library keeps the first table
 * it reads for the life of the module. */
static int serve(const char* dll, const char* path) {
  if (!read_file(path)) {
    printf("FAIL: cannot read %s\n", path);
    return 0;
  }
  HMODULE lib = LoadLibraryA(dll);
  if (!lib) {
    printf("FAIL: LoadLibraryA(%s) failed (%lu)\n", dll, GetLastError());
    return 0;
  }
  const int served = replace_import(lib, "kernel32.dll", "GetSystemFirmwareTable",
                                    (ULONG_PTR)served_firmware_table);
  const int totals =
      replace_import(lib, "kernel32.dll", "GlobalMemoryStatusEx", (ULONG_PTR)served_memory_status);
  const text_fn get_json = (text_fn)(void (*)(void))GetProcAddress(lib, "raminfo_get_json");
  const text_fn last_error = (text_fn)(void (*)(void))GetProcAddress(lib, "raminfo_last_error");
  const int_fn slot_count = (int_fn)(void (*)(void))GetProcAddress(lib, "raminfo_slot_count");
  int ok = served == 1 && totals == 1 && get_json && last_error && slot_count;
  if (!ok) {
    printf(
        "FAIL: %s: import entries replaced: GetSystemFirmwareTable %d, "
        "GlobalMemoryStatusEx %d; exports found: %d\n",
        dll, served, totals, get_json && last_error && slot_count);
  } else {
    const char* slash = strrchr(path, '/');
    printf("file %s\n", slash ? slash + 1 : path);
    printf("json %s\n", get_json());
    printf("error %s\n", last_error());
    printf("count %ld\n", (long)slot_count());
  }
  FreeLibrary(lib);
  if (ok && GetModuleHandleA(dll) != NULL) {
    printf("FAIL: %s stays loaded after FreeLibrary\n", dll);
    ok = 0;
  }
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: dump_host DLL TOTAL_MB RSMB_FILE...\n");
    return 2;
  }
  /* Binary stdout: the report's bytes, with no CR added before each LF. */
  _setmode(_fileno(stdout), _O_BINARY);
  g_total_mb = strtoll(argv[2], NULL, 10);
  int ok = 1;
  for (int i = 3; i < argc; ++i) ok &= serve(argv[1], argv[i]);
  return ok ? 0 : 1;
}
