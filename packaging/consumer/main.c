/* A program built against the installed library: prints its version and
 * checks that it is the one given (the build's project() version) and that
 * the report is an object with a total and a slot list.
 *
 *   consumer VERSION */
#include <raminfo.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s VERSION\n", argv[0]);
    return 2;
  }
  const char* json = raminfo_get_json();
  printf("%s %s\n", raminfo_version(), json);
  return strcmp(raminfo_version(), argv[1]) == 0 && strncmp(json, "{\"total_mb\":", 12) == 0 &&
                 strstr(json, ",\"slots\":[") != NULL
             ? 0
             : 1;
}
