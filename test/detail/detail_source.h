// The detail document of a saved table, decoded in-process: the tests compare
// it with the peers without running the command-line host.
#ifndef RAMINFO_TEST_DETAIL_DETAIL_SOURCE_H
#define RAMINFO_TEST_DETAIL_DETAIL_SOURCE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "detail/detail.h"

// The document of a bare structure table.
raminfo_detail::document detail_of_table(const std::vector<uint8_t>& table);

// The bare table inside a saved file of any layout raminfo reads; nullopt
// when the file cannot be read or its layout is unusable.
std::optional<std::vector<uint8_t>> table_of_file(const std::string& path);

#endif
