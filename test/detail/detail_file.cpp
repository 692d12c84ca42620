// Prints the detail document (or with --table its table) of a saved SMBIOS
// table file in any layout raminfo reads, without the command-line host.
#include <cstdio>
#include <string>

#include "detail_source.h"

int main(int argc, char** argv) {
  const bool table = argc == 3 && std::string(argv[1]) == "--table";
  if (argc != 2 && !table) {
    std::fprintf(stderr, "usage: %s [--table] FILE\n", argv[0]);
    return 2;
  }
  const auto t = table_of_file(argv[argc - 1]);
  if (!t) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[argc - 1]);
    return 1;
  }
  const raminfo_detail::document doc = detail_of_table(*t);
  const std::string text =
      table ? raminfo_detail::detail_table(doc) : raminfo_detail::detail_json(doc);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
