#include "detail_source.h"

#include "sources/saved_table.h"

raminfo_detail::document detail_of_table(const std::vector<uint8_t>& table) {
  return raminfo_detail::decode_detail(smbios_view{table.data(), table.size()});
}

std::optional<std::vector<uint8_t>> table_of_file(const std::string& path) {
  std::vector<uint8_t> block;
  std::vector<std::string> warnings;
  std::string error;
  if (!read_dump_file(path, &block, &error) ||
      !dump_to_raw_block(&block, dump_format::automatic, &warnings, &error))
    return std::nullopt;
  // The raw block: 8 header bytes, the table length at offset 4, the table.
  if (block.size() <= 8) return std::vector<uint8_t>{};
  size_t len = static_cast<size_t>(block[4]) | static_cast<size_t>(block[5]) << 8 |
               static_cast<size_t>(block[6]) << 16 | static_cast<size_t>(block[7]) << 24;
  if (len > block.size() - 8) len = block.size() - 8;
  return std::vector<uint8_t>(block.begin() + 8, block.begin() + 8 + static_cast<long>(len));
}
