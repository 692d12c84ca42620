/* A program built against the installed library: prints its version and
 * checks that the report is an object with a total and a slot list. */
#include <raminfo.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const char* json = raminfo_get_json();
  printf("%s %s\n", raminfo_version(), json);
  return strcmp(raminfo_version(), "1.0.0") == 0 && strncmp(json, "{\"total_mb\":", 12) == 0 &&
                 strstr(json, ",\"slots\":[") != NULL
             ? 0
             : 1;
}
