/* A program built against the installed detail library: checks that its
 * version is the one given (the build's project() version), that this
 * machine's document and a NULL block's are raminfo-detail/1 documents, the
 * latter unreadable, and prints the version. Given FILEs, saved tables in
 * any layout raminfo --from-dump reads, it prints the document for each
 * instead, as the library returns it, for comparison with raminfo --detail
 * --from-dump FILE.
 *
 *   detail_consumer VERSION [FILE...] */
#include <raminfo_detail.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SCHEMA "\"schema\": \"raminfo-detail/1\""

static int print_document_of(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) {
    perror(path);
    return 1;
  }
  /* Test tables are far below this; a larger file is not one of them. */
  static unsigned char block[16 << 20];
  size_t size = fread(block, 1, sizeof block, f);
  int too_big = !feof(f);
  fclose(f);
  if (too_big) {
    fprintf(stderr, "%s: over %u bytes\n", path, (unsigned)sizeof block);
    return 1;
  }
  fputs(raminfo_detail_json_from(block, size), stdout);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s VERSION [FILE...]\n", argv[0]);
    return 2;
  }
  if (strcmp(raminfo_detail_version(), argv[1]) != 0) {
    fprintf(stderr, "version %s, not %s\n", raminfo_detail_version(), argv[1]);
    return 1;
  }
  if (argc > 2) {
    for (int i = 2; i < argc; i++)
      if (print_document_of(argv[i]) != 0) return 1;
    return 0;
  }
  const char* live = raminfo_detail_json();
  if (strncmp(live, "{", 1) != 0 || strstr(live, SCHEMA) == NULL) {
    fprintf(stderr, "this machine's document is not raminfo-detail/1:\n%s\n", live);
    return 1;
  }
  const char* none = raminfo_detail_json_from(NULL, 0);
  if (strstr(none, SCHEMA) == NULL || strstr(none, "\"readable\": false") == NULL) {
    fprintf(stderr, "a NULL block's document is not an unreadable one:\n%s\n", none);
    return 1;
  }
  printf("%s\n", raminfo_detail_version());
  return 0;
}
