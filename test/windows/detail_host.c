/* A C consumer of the detail DLL through raminfo_detail.h and its import
 * library, as a program built with MSVC or mingw would link it:
 *
 *   detail_host VERSION OUTDIR TABLE...
 *
 * Writes the document of each TABLE (a raw block in the RSMB layout) to
 * OUTDIR/NAME.json and this machine's to OUTDIR/live.json, byte for byte,
 * for detail_host.cmake to compare with raminfo.exe's. Checks in passing that
 * the exports are bound by name, that a NULL block is unreadable, and that
 * threads calling both functions at once each get the text one thread alone
 * gets and keep it until their next call (the DLL's TLS slot). Exits 0 when
 * every check holds. */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "raminfo_detail.h"

#define MAX_TABLES 64
#define THREADS 6
#define ROUNDS 3

static int g_failures;

static void check(int ok, const char* what, const char* subject) {
  if (!ok) ++g_failures;
  printf("%s: %s%s%s\n", ok ? "ok  " : "FAIL", what, subject ? ": " : "", subject ? subject : "");
}

static unsigned char* read_all(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  unsigned char* data;
  long n;
  if (f == NULL || fseek(f, 0, SEEK_END) != 0 || (n = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) {
    if (f) fclose(f);
    return NULL;
  }
  data = (unsigned char*)malloc((size_t)n + 1);
  if (data && fread(data, 1, (size_t)n, f) != (size_t)n) {
    free(data);
    data = NULL;
  }
  fclose(f);
  *size = (size_t)n;
  return data;
}

static int write_all(const char* path, const char* text) {
  FILE* f = fopen(path, "wb");
  const size_t n = strlen(text);
  int ok = f != NULL && fwrite(text, 1, n, f) == n;
  if (f && fclose(f) != 0) ok = 0;
  return ok;
}

static const char* base_name(const char* path) {
  const char* b = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') b = p + 1;
  return b;
}

static struct {
  unsigned char* data;
  size_t size;
  char* expected;
} g_tables[MAX_TABLES];
static int g_table_count;
static char* g_live;
static volatile LONG g_thread_failures;
static CRITICAL_SECTION g_lock;
static CONDITION_VARIABLE g_all_arrived;
static int g_arrived, g_generation;

/* Waits until every worker has arrived. */
static void barrier(void) {
  EnterCriticalSection(&g_lock);
  const int generation = g_generation;
  if (++g_arrived == THREADS) {
    g_arrived = 0;
    ++g_generation;
    WakeAllConditionVariable(&g_all_arrived);
  } else {
    while (generation == g_generation) SleepConditionVariableCS(&g_all_arrived, &g_lock, INFINITE);
  }
  LeaveCriticalSection(&g_lock);
}

/* Every thread makes its text, then (once all have) checks that it is still
 * what it was: a buffer shared between threads would by then hold another
 * thread's text. */
static DWORD WINAPI worker(LPVOID arg) {
  const int t = (int)(INT_PTR)arg;
  for (int round = 0; round < ROUNDS; ++round) {
    for (int i = 0; i < g_table_count; ++i) {
      const int k = (i + t) % g_table_count;
      const char* text = raminfo_detail_json_from(g_tables[k].data, g_tables[k].size);
      barrier();
      if (strcmp(text, g_tables[k].expected) != 0) InterlockedIncrement(&g_thread_failures);
    }
    if (strcmp(raminfo_detail_json(), g_live) != 0) InterlockedIncrement(&g_thread_failures);
  }
  return 0;
}

int main(int argc, char** argv) {
  char path[MAX_PATH];
  HANDLE threads[THREADS];
  if (argc < 4 || argc - 3 > MAX_TABLES) {
    printf("usage: detail_host VERSION OUTDIR TABLE... (at most %d)\n", MAX_TABLES);
    return 2;
  }
  {
    HMODULE lib = GetModuleHandleA("tarnwick-smbios-ram-info-detail.dll");
    check(lib != NULL, "the DLL is loaded by name", NULL);
    if (lib) {
      check((FARPROC)(void (*)(void))raminfo_detail_json ==
                GetProcAddress(lib, "raminfo_detail_json"),
            "bound to the export of that name", "raminfo_detail_json");
      check((FARPROC)(void (*)(void))raminfo_detail_json_from ==
                GetProcAddress(lib, "raminfo_detail_json_from"),
            "bound to the export of that name", "raminfo_detail_json_from");
      check((FARPROC)(void (*)(void))raminfo_detail_version ==
                GetProcAddress(lib, "raminfo_detail_version"),
            "bound to the export of that name", "raminfo_detail_version");
    }
  }
  check(strcmp(raminfo_detail_version(), argv[1]) == 0, "the version is the build's", argv[1]);
  check(strstr(raminfo_detail_json_from(NULL, 0), "\"readable\": false,\n  \"reason\": ") != NULL,
        "a NULL block is unreadable, with a reason", NULL);

  for (int i = 3; i < argc; ++i) {
    const int k = g_table_count++;
    g_tables[k].data = read_all(argv[i], &g_tables[k].size);
    if (g_tables[k].data == NULL) {
      check(0, "cannot read", argv[i]);
      return 1;
    }
    g_tables[k].expected = _strdup(raminfo_detail_json_from(g_tables[k].data, g_tables[k].size));
    snprintf(path, sizeof path, "%s/%s.json", argv[2], base_name(argv[i]));
    check(write_all(path, g_tables[k].expected), "written", path);
  }
  g_live = _strdup(raminfo_detail_json());
  snprintf(path, sizeof path, "%s/live.json", argv[2]);
  check(write_all(path, g_live), "written", path);

  InitializeCriticalSection(&g_lock);
  InitializeConditionVariable(&g_all_arrived);
  for (int t = 0; t < THREADS; ++t) {
    threads[t] = CreateThread(NULL, 0, worker, (LPVOID)(INT_PTR)t, 0, NULL);
    check(threads[t] != NULL, "a thread starts", NULL);
    /* The others would wait for it for ever; leaving ends them. */
    if (threads[t] == NULL) return 1;
  }
  for (int t = 0; t < THREADS; ++t)
    if (threads[t]) {
      WaitForSingleObject(threads[t], INFINITE);
      CloseHandle(threads[t]);
    }
  check(g_thread_failures == 0, "threads at once get what one thread alone gets", NULL);
  return g_failures ? 1 : 0;
}
