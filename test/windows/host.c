/* A Windows host of the DLL: loads it by name, resolves the five exports by
 * name and by ordinal, and checks every answer against what the host asks
 * Windows itself (GlobalMemoryStatusEx, GetSystemFirmwareTable 'RSMB').
 * Written in C against LoadLibrary/GetProcAddress only, as a consumer without
 * the header or the import library would call it. Exits 0 when every check
 * holds, 1 otherwise. */
#define WIN32_LEAN_AND_MEAN
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef const char* (*text_fn)(void);
typedef int32_t (*int_fn)(void);

static int g_failures;

static void check(int ok, const char* what) {
  if (!ok) {
    ++g_failures;
    printf("FAIL: %s\n", what);
  } else {
    printf("ok:   %s\n", what);
  }
}

/* ---- A strict JSON reader (RFC 8259 grammar), reading only what the checks
 * need: "total_mb" and, per object of "slots", "slot" and "size_mb". ---- */

typedef struct {
  const char* p;
  const char* end;
  const char* err;
  int depth;
} reader;

typedef struct {
  int has_total;
  long long total_mb;
  int has_slots;
  int slots;
  int populated;
  int bad_slot; /* an element of "slots" without its string "slot" or integer "size_mb" */
} report;

static int fail(reader* r, const char* why) {
  if (!r->err) r->err = why;
  return 0;
}

static void skip_ws(reader* r) {
  while (r->p < r->end && (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r')) ++r->p;
}

static int is_digit(char c) { return c >= '0' && c <= '9'; }

static int is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/* A string: no raw control bytes, only the escapes JSON allows. Bytes above
 * 0x7F are taken as they come, since the library passes the firmware's bytes
 * through. The raw text between the quotes is handed back so that member
 * names can be compared; escapes inside keys do not occur in this report. */
static int read_string(reader* r, const char** text, size_t* len) {
  if (r->p >= r->end || *r->p != '"') return fail(r, "string expected");
  const char* start = ++r->p;
  while (r->p < r->end && *r->p != '"') {
    const unsigned char c = (unsigned char)*r->p;
    if (c < 0x20) return fail(r, "control byte inside a string");
    if (c == '\\') {
      if (++r->p >= r->end) return fail(r, "string ends inside an escape");
      const char e = *r->p;
      if (e == 'u') {
        for (int i = 1; i <= 4; ++i) {
          if (r->p + i >= r->end || !is_hex(r->p[i])) return fail(r, "bad \\u escape");
        }
        r->p += 4;
      } else if (!strchr("\"\\/bfnrt", e)) {
        return fail(r, "unknown escape");
      }
    }
    ++r->p;
  }
  if (r->p >= r->end) return fail(r, "unterminated string");
  if (text) *text = start;
  if (len) *len = (size_t)(r->p - start);
  ++r->p;
  return 1;
}

/* A number by the JSON grammar; *integer tells whether it has neither a
 * fraction nor an exponent, and then *value holds it. */
static int read_number(reader* r, int* integer, long long* value) {
  const char* start = r->p;
  if (r->p < r->end && *r->p == '-') ++r->p;
  if (r->p >= r->end || !is_digit(*r->p)) return fail(r, "number expected");
  if (*r->p == '0') {
    ++r->p;
  } else {
    while (r->p < r->end && is_digit(*r->p)) ++r->p;
  }
  int whole = 1;
  if (r->p < r->end && *r->p == '.') {
    whole = 0;
    ++r->p;
    if (r->p >= r->end || !is_digit(*r->p)) return fail(r, "digit expected after '.'");
    while (r->p < r->end && is_digit(*r->p)) ++r->p;
  }
  if (r->p < r->end && (*r->p == 'e' || *r->p == 'E')) {
    whole = 0;
    ++r->p;
    if (r->p < r->end && (*r->p == '+' || *r->p == '-')) ++r->p;
    if (r->p >= r->end || !is_digit(*r->p)) return fail(r, "digit expected in exponent");
    while (r->p < r->end && is_digit(*r->p)) ++r->p;
  }
  if (integer) *integer = whole;
  if (value && whole) {
    if (r->p - start > 18) return fail(r, "integer too long for this reader");
    *value = strtoll(start, NULL, 10);
  }
  return 1;
}

static int read_value(reader* r);

static int read_literal(reader* r, const char* word) {
  const size_t n = strlen(word);
  if ((size_t)(r->end - r->p) < n || memcmp(r->p, word, n) != 0) return fail(r, "unexpected byte");
  r->p += n;
  return 1;
}

/* Object or array: calls member(r, key, key_len, ctx) for each object member
 * after its ':' (or for each array element, with key NULL). */
typedef int (*member_fn)(reader* r, const char* key, size_t key_len, void* ctx);

static int read_container(reader* r, char open, member_fn member, void* ctx) {
  const char close = open == '{' ? '}' : ']';
  if (r->p >= r->end || *r->p != open)
    return fail(r, open == '{' ? "object expected" : "array expected");
  if (++r->depth > 64) return fail(r, "nesting too deep");
  ++r->p;
  skip_ws(r);
  if (r->p < r->end && *r->p == close) {
    ++r->p;
    --r->depth;
    return 1;
  }
  for (;;) {
    const char* key = NULL;
    size_t key_len = 0;
    skip_ws(r);
    if (open == '{') {
      if (!read_string(r, &key, &key_len)) return 0;
      skip_ws(r);
      if (r->p >= r->end || *r->p != ':') return fail(r, "':' expected");
      ++r->p;
    }
    skip_ws(r);
    if (!member(r, key, key_len, ctx)) return 0;
    skip_ws(r);
    if (r->p < r->end && *r->p == ',') {
      ++r->p;
      continue;
    }
    if (r->p < r->end && *r->p == close) {
      ++r->p;
      --r->depth;
      return 1;
    }
    return fail(r, "',' or closing bracket expected");
  }
}

static int any_member(reader* r, const char* key, size_t key_len, void* ctx) {
  (void)key;
  (void)key_len;
  (void)ctx;
  return read_value(r);
}

static int read_value(reader* r) {
  if (r->p >= r->end) return fail(r, "value expected");
  switch (*r->p) {
    case '{': return read_container(r, '{', any_member, NULL);
    case '[': return read_container(r, '[', any_member, NULL);
    case '"': return read_string(r, NULL, NULL);
    case 't': return read_literal(r, "true");
    case 'f': return read_literal(r, "false");
    case 'n': return read_literal(r, "null");
    default: return read_number(r, NULL, NULL);
  }
}

static int key_is(const char* key, size_t key_len, const char* name) {
  return key_len == strlen(name) && memcmp(key, name, key_len) == 0;
}

typedef struct {
  int has_slot;
  int has_size;
  long long size_mb;
} slot_seen;

static int slot_member(reader* r, const char* key, size_t key_len, void* ctx) {
  slot_seen* s = (slot_seen*)ctx;
  if (key_is(key, key_len, "slot") && r->p < r->end && *r->p == '"') {
    s->has_slot = 1;
    return read_string(r, NULL, NULL);
  }
  if (key_is(key, key_len, "size_mb") && r->p < r->end && *r->p != '"') {
    int integer = 0;
    if (!read_number(r, &integer, &s->size_mb)) return 0;
    s->has_size = integer;
    return 1;
  }
  return read_value(r);
}

static int slots_element(reader* r, const char* key, size_t key_len, void* ctx) {
  report* rep = (report*)ctx;
  slot_seen s = {0, 0, 0};
  (void)key;
  (void)key_len;
  if (!read_container(r, '{', slot_member, &s)) return 0;
  ++rep->slots;
  if (!s.has_slot || !s.has_size) rep->bad_slot = 1;
  if (s.has_size && s.size_mb > 0) ++rep->populated;
  return 1;
}

static int root_member(reader* r, const char* key, size_t key_len, void* ctx) {
  report* rep = (report*)ctx;
  if (key_is(key, key_len, "total_mb")) {
    int integer = 0;
    if (!read_number(r, &integer, &rep->total_mb)) return 0;
    rep->has_total = integer;
    return 1;
  }
  if (key_is(key, key_len, "slots")) {
    rep->has_slots = 1;
    return read_container(r, '[', slots_element, rep);
  }
  return read_value(r);
}

/* Returns NULL when text is one JSON object with nothing after it. */
static const char* read_report(const char* text, report* rep) {
  reader r = {text, text + strlen(text), NULL, 0};
  memset(rep, 0, sizeof *rep);
  skip_ws(&r);
  if (read_container(&r, '{', root_member, rep)) {
    skip_ws(&r);
    if (r.p != r.end) fail(&r, "bytes after the object");
  }
  return r.err;
}

/* The reader must itself tell good from bad, or its verdict on the report
 * means nothing. */
static void check_reader(void) {
  static const char* const good[] = {
      "{\"total_mb\":5,\"slots\":[]}",
      "{\"total_mb\":-1,\"slots\":[{\"slot\":\"A\\\"\\\\\",\"size_mb\":0},"
      "{\"slot\":\"B\",\"size_mb\":2048,\"x\":[1.5e3,true,null,{}]}]}",
  };
  static const char* const bad[] = {
      "{\"total_mb\":5,\"slots\":[]",
      "{\"total_mb\":5,\"slots\":[],}",
      "{\"total_mb\":05,\"slots\":[]}",
      "{\"total_mb\":5,\"slots\":[{\"slot\":\"\x01\"}]}",
      "{\"total_mb\":5,\"slots\":[\"\\x\"]}",
      "{\"total_mb\":5,\"slots\":[]}]}",
      "{\"total_mb\":5,\"slots\":[{\"slot\":\"A\",\"size_mb\":1}x]}",
  };
  report rep;
  int ok = 1;
  for (size_t i = 0; i < sizeof good / sizeof good[0]; ++i)
    ok &= read_report(good[i], &rep) == NULL;
  ok &= rep.total_mb == -1 && rep.slots == 2 && rep.populated == 1 && !rep.bad_slot;
  for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) ok &= read_report(bad[i], &rep) != NULL;
  check(ok, "the JSON reader accepts good texts and rejects broken ones");
}

/* ---- The host's own look at the firmware table ---- */

typedef struct {
  int readable;
  int devices; /* type 17 with a length byte of 21 or more */
} firmware;

static firmware count_devices(void) {
  firmware fw = {0, 0};
  const DWORD rsmb = 0x52534D42; /* 'RSMB' */
  const UINT need = GetSystemFirmwareTable(rsmb, 0, NULL, 0);
  if (need == 0) return fw;
  unsigned char* block = (unsigned char*)malloc(need);
  if (!block) return fw;
  if (GetSystemFirmwareTable(rsmb, 0, block, need) != need || need <= 8) {
    free(block);
    return fw;
  }
  fw.readable = 1;
  uint32_t len;
  memcpy(&len, block + 4, sizeof len);
  if (len > need - 8) len = need - 8;
  const unsigned char* p = block + 8;
  const unsigned char* end = p + len;
  /* Structures per DSP0134: type, length, handle, formatted area, then
   * strings closed by a double NUL; type 127 ends the table. */
  while (end - p >= 4 && p[1] >= 4 && p[0] != 127) {
    if (p[0] == 17 && p[1] >= 21) ++fw.devices;
    const unsigned char* s = p + p[1];
    while (s + 1 < end && !(s[0] == 0 && s[1] == 0)) ++s;
    p = s + 2;
  }
  free(block);
  return fw;
}

static const char* const kNames[5] = {"raminfo_get_json", "raminfo_last_error",
                                      "raminfo_slot_count", "raminfo_total_mb", "raminfo_version"};

int main(void) {
  setvbuf(stdout, NULL, _IONBF, 0);
  check_reader();

  HMODULE lib = LoadLibraryA("tarnwick-smbios-ram-info.dll");
  check(lib != NULL, "LoadLibraryA(\"tarnwick-smbios-ram-info.dll\")");
  if (!lib) return 1;

  FARPROC fn[5];
  int resolved = 1;
  for (int i = 0; i < 5; ++i) {
    char what[96];
    fn[i] = GetProcAddress(lib, kNames[i]);
    const FARPROC by_ordinal = GetProcAddress(lib, MAKEINTRESOURCEA(i + 1));
    snprintf(what, sizeof what, "%s by name and ordinal %d is one function", kNames[i], i + 1);
    check(fn[i] != NULL && fn[i] == by_ordinal, what);
    resolved &= fn[i] != NULL;
  }
  check(GetProcAddress(lib, MAKEINTRESOURCEA(6)) == NULL, "there is no ordinal 6");
  if (!resolved) return 1;
  /* GetProcAddress hands out a generic function pointer; each export's real
   * type is known, and the detour through void(*)(void) says so. */
  const text_fn get_json = (text_fn)(void (*)(void))fn[0];
  const text_fn last_error = (text_fn)(void (*)(void))fn[1];
  const int_fn slot_count = (int_fn)(void (*)(void))fn[2];
  const int_fn total_mb = (int_fn)(void (*)(void))fn[3];
  const text_fn version = (text_fn)(void (*)(void))fn[4];

  const char* err = last_error();
  check(err != NULL && err[0] == '\0', "last_error is \"\" before any other call");

  const char* v1 = version();
  const char* v2 = version();
  check(v1 != NULL && strcmp(v1, RAMINFO_EXPECTED_VERSION) == 0,
        "version is \"" RAMINFO_EXPECTED_VERSION "\"");
  check(v1 == v2, "version returns the same pointer each call");

  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  check(GlobalMemoryStatusEx(&status) != 0, "GlobalMemoryStatusEx answers the host");
  const long long host_total = (long long)(status.ullTotalPhys >> 20);
  const int32_t lib_total = total_mb();
  printf("      total: host %lld MiB, library %ld MiB\n", host_total, (long)lib_total);
  check(lib_total == host_total, "total_mb is ullTotalPhys >> 20");

  const firmware fw = count_devices();
  printf("      firmware table readable: %d, memory devices: %d\n", fw.readable, fw.devices);

  const char* json = get_json();
  check(json != NULL, "get_json is never NULL");
  if (!json) return 1;
  printf("      get_json: %s\n", json);
  check(strlen(json) < 16384, "the report fits its 16 KiB buffer");
  report rep;
  const char* why = read_report(json, &rep);
  if (why) printf("      JSON error: %s\n", why);
  check(why == NULL, "get_json parses as JSON");
  check(rep.has_total && rep.total_mb == host_total, "its total_mb is the host's total");
  check(rep.has_slots && !rep.bad_slot, "it has slots, each with slot and size_mb");
  check(rep.slots == fw.devices, "one slot object per memory device in the firmware table");

  const int32_t count = slot_count();
  const char* after = last_error();
  if (fw.readable) {
    check(count == rep.populated, "slot_count is the number of objects with size_mb > 0");
    check(after[0] == '\0', "last_error is still \"\" after a success");
  } else {
    check(count == -1, "slot_count is -1 when the firmware table cannot be read");
    check(after[0] != '\0', "last_error names the failure");
  }
  check(after == err, "last_error always hands out the same buffer");

  if (g_failures) printf("%d check(s) failed\n", g_failures);
  return g_failures ? 1 : 0;
}
