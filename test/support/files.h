// Whole files read back: tables saved on disk and what the host wrote.
#ifndef RAMINFO_TEST_SUPPORT_FILES_H
#define RAMINFO_TEST_SUPPORT_FILES_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Every byte of the file; nullopt when it cannot be opened, so that a missing
// file is told from an empty one.
std::optional<std::vector<uint8_t>> read_file(const std::filesystem::path& path);

// The file as text; empty when it cannot be opened.
std::string file_text(const std::filesystem::path& path);

#endif
