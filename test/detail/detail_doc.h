// Reading a `raminfo --detail` document back in the comparators.
#ifndef RAMINFO_TEST_DETAIL_DETAIL_DOC_H
#define RAMINFO_TEST_DETAIL_DETAIL_DOC_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace detail_doc {

// The firmware's bytes of a text field ({"raw", "bytes_hex", ...}): bytes_hex
// when the string was not valid UTF-8, raw otherwise; nullopt for no string.
inline std::optional<std::string> firmware_bytes(const nlohmann::json& text) {
  if (!text.is_object()) return std::nullopt;
  if (text["bytes_hex"].is_string()) {
    const std::string hex = text["bytes_hex"].get<std::string>();
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  }
  if (text["raw"].is_string()) return text["raw"].get<std::string>();
  return std::nullopt;
}

// An unsigned member, nullopt when null or missing.
inline std::optional<uint64_t> number(const nlohmann::json& o, const char* key) {
  if (!o.is_object() || !o.contains(key) || !o[key].is_number_unsigned()) return std::nullopt;
  return o[key].get<uint64_t>();
}

}  // namespace detail_doc

#endif
