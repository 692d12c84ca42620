#include "detail_source.h"

#include "smbios/block.h"
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
  const smbios_view t = raw_block_table(block.data(), block.size());
  return std::vector<uint8_t>(t.base, t.base + t.len);
}
