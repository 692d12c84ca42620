#include "detail_source.h"

#include <fstream>
#include <iterator>

#include "dump.h"

raminfo_detail::document detail_of_table(const std::vector<uint8_t>& table) {
  return raminfo_detail::decode_detail(smbios_view{table.data(), table.size()});
}

std::optional<std::vector<uint8_t>> table_of_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  std::vector<uint8_t> block;
  std::string error;
  if (!dump_to_raw_block(file, dump_format::automatic, &block, &error)) return std::nullopt;
  // The raw block: 8 header bytes, the table length at offset 4, the table.
  if (block.size() <= 8) return std::vector<uint8_t>{};
  size_t len = static_cast<size_t>(block[4]) | static_cast<size_t>(block[5]) << 8 |
               static_cast<size_t>(block[6]) << 16 | static_cast<size_t>(block[7]) << 24;
  if (len > block.size() - 8) len = block.size() - 8;
  return std::vector<uint8_t>(block.begin() + 8, block.begin() + 8 + static_cast<long>(len));
}
