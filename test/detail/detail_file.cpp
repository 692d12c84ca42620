// Prints the detail document (or with --table its table) of a saved SMBIOS
// table file in any layout raminfo reads, without the command-line host.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "detail/detail.h"
#include "dump.h"

int main(int argc, char** argv) {
  const bool table = argc == 3 && std::string(argv[1]) == "--table";
  if (argc != 2 && !table) {
    std::fprintf(stderr, "usage: %s [--table] FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[argc - 1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[argc - 1]);
    return 1;
  }
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  std::vector<uint8_t> block;
  std::string error;
  if (!dump_to_raw_block(file, dump_format::automatic, &block, &error)) {
    std::fprintf(stderr, "%s: cannot read %s %s\n", argv[0], argv[argc - 1], error.c_str());
    return 1;
  }
  // The raw block's header: 8 bytes, the table length at offset 4.
  size_t len = 0;
  if (block.size() > 8) {
    len = static_cast<size_t>(block[4]) | static_cast<size_t>(block[5]) << 8 |
          static_cast<size_t>(block[6]) << 16 | static_cast<size_t>(block[7]) << 24;
    if (len > block.size() - 8) len = block.size() - 8;
  }
  const smbios_view v{block.size() > 8 ? block.data() + 8 : nullptr, len};
  const raminfo_detail::document doc = raminfo_detail::decode_detail(v);
  const std::string text =
      table ? raminfo_detail::detail_table(doc) : raminfo_detail::detail_json(doc);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
