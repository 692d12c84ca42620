/* raminfo.exe with file names outside the ANSI code page (CJK, emoji), as a
 * Windows program starts it: the command line is UTF-16 (CreateProcessW) and
 * the files are made and read back with the wide calls, so no name passes
 * through a code page on the way. Covers --from-dump, --output (new and
 * replaced), --compare and --save-dump, the check that --output is not the
 * file being read, and the Windows --help and --source. Prints FAIL lines and
 * exits 1 on any failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

static int failures = 0;
static wchar_t dir[MAX_PATH];
static wchar_t exe[MAX_PATH];

/* The Memory Device "DIMM_U", 2048 MiB of DDR4 (DMTF DSP0134 7.18, a
 * 2.3-sized structure of 0x15 bytes), then end-of-table, as a raw block. */
static const unsigned char kBlock[] = {
    0,   3,    2,    0,    35,   0, 0,    0, /* raw block header: version 3.2, 35 table bytes */
    17,  0x15, 0x10, 0,    0,    0, 0xFE, 0xFF, 64,  0,   64,  0,   0x00, 0x08, 0x09,
    0,   1,    0,    0x1A, 0x80, 0, 'D',  'I',  'M', 'M', '_', 'U', 0,    0, /* string 1 */
    127, 4,    0x11, 0,    0,    0};

static char* utf8(const wchar_t* w);

static void fail(const char* what, const wchar_t* args) {
  printf("FAIL: %s (raminfo %s)\n", what, utf8(args));
  failures++;
}

static void path_in_dir(wchar_t* out, const wchar_t* name) {
  _snwprintf(out, MAX_PATH, L"%ls\\%ls", dir, name);
}

static char* utf8(const wchar_t* w) {
  static char buf[4 * MAX_PATH];
  WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof buf, NULL, NULL);
  return buf;
}

/* The whole of a file, NUL-terminated, in a static buffer; NULL when absent. */
static const char* slurp(const wchar_t* path, long* size) {
  static char buf[1 << 16];
  FILE* f = _wfopen(path, L"rb");
  if (f == NULL) return NULL;
  const size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = '\0';
  if (size != NULL) *size = (long)n;
  return buf;
}

struct run {
  DWORD exit_code;
  char out[1 << 14];
  char err[1 << 14];
};

/* Runs raminfo.exe with args; its stdout and stderr go to files in dir. */
static int run_raminfo(const wchar_t* args, struct run* r) {
  wchar_t out_path[MAX_PATH], err_path[MAX_PATH], command[4096];
  path_in_dir(out_path, L"stdout.txt");
  path_in_dir(err_path, L"stderr.txt");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE out = CreateFileW(out_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  HANDLE err = CreateFileW(err_path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  _snwprintf(command, 4096, L"\"%ls\" %ls", exe, args);
  STARTUPINFOW si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi;
  const BOOL started = CreateProcessW(exe, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    printf("FAIL: cannot start %s (%lu)\n", utf8(exe), GetLastError());
    failures++;
    return 0;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  GetExitCodeProcess(pi.hProcess, &r->exit_code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  const char* text = slurp(out_path, NULL);
  snprintf(r->out, sizeof r->out, "%s", text ? text : "");
  text = slurp(err_path, NULL);
  snprintf(r->err, sizeof r->err, "%s", text ? text : "");
  return 1;
}

int main(void) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  /* 名前 (CJK) and U+1F9EA TEST TUBE, outside the BMP (a surrogate pair). */
  _snwprintf(dir, MAX_PATH, L"%lsraminfo-\u540D\u524D-\U0001F9EA-%lu", temp, GetCurrentProcessId());
  if (!CreateDirectoryW(dir, NULL)) {
    printf("FAIL: cannot make %s (%lu)\n", utf8(dir), GetLastError());
    return 1;
  }
  GetModuleFileNameW(NULL, exe, MAX_PATH);
  wchar_t* slash = wcsrchr(exe, L'\\');
  wcscpy(slash != NULL ? slash + 1 : exe, L"raminfo.exe");

  wchar_t dump[MAX_PATH], report[MAX_PATH], saved[MAX_PATH];
  path_in_dir(dump, L"\u8868-\U0001F600.rsmb");         /* 表-😀 */
  path_in_dir(report, L"\u51FA\u529B-\U0001F680.json"); /* 出力-🚀 */
  path_in_dir(saved, L"\u4FDD\u5B58-\U0001F4BE.bin");   /* 保存-💾 */
  /* The dump by another path: dir\..\<dir's name>\<the dump's name>. */
  wchar_t twin[MAX_PATH];
  _snwprintf(twin, MAX_PATH, L"%ls\\..\\%ls\\%ls", dir, wcsrchr(dir, L'\\') + 1,
             wcsrchr(dump, L'\\') + 1);
  FILE* f = _wfopen(dump, L"wb");
  if (f == NULL || fwrite(kBlock, 1, sizeof kBlock, f) != sizeof kBlock || fclose(f) != 0) {
    printf("FAIL: cannot write %s\n", utf8(dump));
    return 1;
  }

  const char* slot = "{\"slot\":\"DIMM_U\",\"size_mb\":2048,\"type\":\"DDR4\"";
  wchar_t args[4096];
  struct run r;
  /* format takes a, then b; named: a file stderr must name in UTF-8. */
  struct {
    const wchar_t* format;
    const wchar_t* a;
    const wchar_t* b;
    DWORD exit_code;
    const char* out_has; /* "": stdout must be empty */
    const wchar_t* named;
  } cases[] = {
      {L"--from-dump \"%ls\"", dump, NULL, 0, slot, NULL},
      {L"--output \"%ls\" --from-dump \"%ls\"", report, dump, 0, "", NULL},
      /* The file now exists: it is replaced. */
      {L"--output \"%ls\" --from-dump \"%ls\" --total-mb 4096", report, dump, 0, "", NULL},
      /* The baseline is the file just written: nothing changed. */
      {L"--compare \"%ls\" --from-dump \"%ls\"", report, dump, 0, "", NULL},
      /* One file under two spellings: the check goes by identity. */
      {L"--from-dump \"%ls\" --output \"%ls\"", dump, twin, 2, "", twin},
      {L"--from-dump \"%ls\"", dir, NULL, 1, "", dir},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    _snwprintf(args, 4096, cases[i].format, cases[i].a, cases[i].b);
    if (!run_raminfo(args, &r)) continue;
    if (r.exit_code != cases[i].exit_code) {
      printf("exit %lu, expected %lu; stderr: %s\n", r.exit_code, cases[i].exit_code, r.err);
      fail("wrong exit status", args);
    }
    if (cases[i].out_has[0] == '\0' ? r.out[0] != '\0' : strstr(r.out, cases[i].out_has) == NULL) {
      printf("stdout: %s\n", r.out);
      fail(cases[i].out_has[0] ? "stdout lacks the device" : "stdout is not empty", args);
    }
    if (cases[i].named != NULL && strstr(r.err, utf8(cases[i].named)) == NULL) {
      printf("stderr: %s\n", r.err);
      fail("stderr does not name the file in UTF-8", args);
    }
  }
  /* What --output wrote (with the --total-mb of the second run). */
  const char* written = slurp(report, NULL);
  if (written == NULL || strstr(written, "{\"total_mb\":4096,\"slots\":[") != written ||
      strstr(written, slot) == NULL)
    fail("the --output file is not the replaced report", report);

  /* --save-dump writes whatever table Wine or Windows gives, and --from-dump
   * reads it back from the same name. */
  _snwprintf(args, 4096, L"--save-dump \"%ls\"", saved);
  long saved_size = 0;
  if (run_raminfo(args, &r)) {
    if (r.exit_code != 0) {
      printf("stderr: %s\n", r.err);
      fail("--save-dump failed", args);
    } else if (slurp(saved, &saved_size) == NULL || saved_size <= 8) {
      fail("--save-dump left no table in the file", args);
    } else if (strstr(r.err, utf8(saved)) == NULL) {
      printf("stderr: %s\n", r.err);
      fail("--save-dump does not name the file in UTF-8", args);
    }
  }
  _snwprintf(args, 4096, L"--from-dump \"%ls\" --count", saved);
  if (run_raminfo(args, &r) && r.exit_code != 0) {
    printf("stderr: %s\n", r.err);
    fail("the saved table does not read back", args);
  }

  /* Windows has no udev database: --help leaves it out, --source udev is bad
   * usage that says why. */
  if (run_raminfo(L"--help", &r) &&
      (r.exit_code != 0 || strstr(r.out, "--save-dump FILE") == NULL || strstr(r.out, "udev")))
    fail("--help is not the Windows help (or mentions udev)", L"--help");
  if (run_raminfo(L"--source udev", &r) && (r.exit_code != 2 || strstr(r.err, "Windows") == NULL)) {
    printf("exit %lu; stderr: %s\n", r.exit_code, r.err);
    fail("--source udev is not bad usage naming Windows", L"--source udev");
  }
  /* Nor Linux's EDAC tree: the memory error options are left out of --help
   * and are bad usage that names Windows. */
  if (run_raminfo(L"--help", &r) &&
      (strstr(r.out, "--sysfs-root") || strstr(r.out, "--dimm-labels")))
    fail("--help mentions the Linux memory error options", L"--help");
  {
    const wchar_t* linux_only[] = {L"--table --sysfs-root C:\\", L"--table --dimm-labels x.db"};
    for (size_t i = 0; i < sizeof linux_only / sizeof linux_only[0]; ++i) {
      if (run_raminfo(linux_only[i], &r) &&
          (r.exit_code != 2 || strstr(r.err, "Windows") == NULL)) {
        printf("exit %lu; stderr: %s\n", r.exit_code, r.err);
        fail("a Linux memory error option is not bad usage naming Windows", linux_only[i]);
      }
    }
  }
  if (run_raminfo(L"--source firmware --count", &r) && r.exit_code == 2)
    fail("--source firmware is refused", L"--source firmware --count");

  const wchar_t* files[] = {dump, report, saved, L"stdout.txt", L"stderr.txt"};
  for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i) {
    wchar_t p[MAX_PATH];
    if (i < 3)
      wcscpy(p, files[i]);
    else
      path_in_dir(p, files[i]);
    DeleteFileW(p);
  }
  RemoveDirectoryW(dir);
  if (failures == 0)
    printf("PASS: raminfo.exe reads and writes names outside the ANSI code page\n");
  return failures == 0 ? 0 : 1;
}
