// A small JSON reader for the documents raminfo itself writes: a saved
// report or detail document read back as a baseline.
#ifndef RAMINFO_TOOLS_COMPARE_JSON_VALUE_H
#define RAMINFO_TOOLS_COMPARE_JSON_VALUE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct json_value {
  enum class kind { null, boolean, number, string, array, object } type = kind::null;
  bool boolean = false;
  double number = 0;
  // Strings keep their bytes as decoded from the escapes; bytes that are not
  // UTF-8 pass through, as the library writes them.
  std::string text;
  std::vector<json_value> items;
  // In the document's order; no name twice. A list, not a map: objects are
  // small, and a node per member cost more than looking along the list.
  std::vector<std::pair<std::string, json_value>> members;

  // Defined where json_value is complete: a member list of pairs holding
  // json_value cannot be built or destroyed before then (clang refuses).
  json_value();
  json_value(const json_value&);
  json_value(json_value&&) noexcept;
  json_value& operator=(const json_value&);
  json_value& operator=(json_value&&) noexcept;
  ~json_value();

  // The member named key, or NULL when this is no object or has no such key.
  const json_value* find(const std::string& key) const;
  const json_value* find(const char* key) const;
  // A member's value as text or as a number, with a fallback when it is
  // absent or of another kind.
  std::string text_or(const std::string& key, const std::string& fallback) const;
  std::string text_or(const char* key, const char* fallback) const;
  double number_or(const std::string& key, double fallback) const;
};

// Which members a reader keeps, by name (its bytes, decoded, and their
// count): the others are read and checked as closely, and left out of the
// tree.
using json_keep = bool (*)(const char* name, size_t size);

// Parses one JSON document (nesting at most 64 deep, at most 200,000 values,
// no member name twice in an object); false with the reason and the byte
// offset when the text is not such JSON. With keep, only the members whose
// names it accepts are kept, at every depth (a reader that looks at a few
// fields of a large document builds no tree for the rest).
bool parse_json(const std::string& text, json_value* out, std::string* error,
                json_keep keep = nullptr);
// The same over size bytes at text, which need no terminator.
bool parse_json(const char* text, size_t size, json_value* out, std::string* error,
                json_keep keep = nullptr);

#endif
