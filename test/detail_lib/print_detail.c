/* Prints one document of the detail library, for checks that run programs:
 *   print_detail from FILE   the document of FILE's bytes as a raw block
 *   print_detail null FILE   the document of a NULL block (FILE unread)
 *   print_detail live [FILE] this machine's document (FILE unread)
 * A C program, linked through the header and the library alone. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "raminfo_detail.h"

/* The whole of path, or NULL when it cannot be opened or read. */
static unsigned char* read_all(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  unsigned char* data = NULL;
  size_t cap = 0;
  *size = 0;
  if (f == NULL) return NULL;
  for (;;) {
    size_t n;
    if (*size == cap) {
      unsigned char* grown = (unsigned char*)realloc(data, cap = cap ? cap * 2 : 65536);
      if (grown == NULL) {
        free(data);
        data = NULL;
        break;
      }
      data = grown;
    }
    n = fread(data + *size, 1, cap - *size, f);
    if (n == 0) break;
    *size += n;
  }
  if (ferror(f)) {
    free(data);
    data = NULL;
  }
  fclose(f);
  return data;
}

int main(int argc, char** argv) {
  const char* text = NULL;
  if (argc >= 2 && strcmp(argv[1], "live") == 0) {
    text = raminfo_detail_json();
  } else if (argc == 3 && strcmp(argv[1], "null") == 0) {
    text = raminfo_detail_json_from(NULL, 0);
  } else if (argc == 3 && strcmp(argv[1], "from") == 0) {
    size_t size = 0;
    unsigned char* data = read_all(argv[2], &size);
    if (data == NULL) {
      fprintf(stderr, "print_detail: cannot read %s\n", argv[2]);
      return 2;
    }
    text = raminfo_detail_json_from(data, size);
    fputs(text, stdout);
    free(data);
    return 0;
  } else {
    fputs("usage: print_detail from FILE | null FILE | live [FILE]\n", stderr);
    return 2;
  }
  fputs(text, stdout);
  return 0;
}
