// Text for people: the one place that decodes UTF-8, applies the printable
// rule, measures terminal columns, writes sizes and aligns tables, so that
// every view, the comparison lines, the notes on stderr and the detail
// decoder agree, and no string from a table or a file can steer the terminal
// or reorder a line.
#ifndef RAMINFO_TEXT_TEXT_H
#define RAMINFO_TEXT_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Length of the UTF-8 sequence that starts at s[i] (i < s.size()), its code
// point in *cp; 0 when the bytes there are not valid UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
size_t utf8_sequence(const std::string& s, size_t i, uint32_t* cp);
// The same over size bytes at s, for writers that hold no std::string.
size_t utf8_sequence(const char* s, size_t size, size_t i, uint32_t* cp);

// raw with every byte that is not part of valid UTF-8, every C0 control,
// DEL, every C1 control (U+0080 to U+009F) and every bidirectional embedding,
// override or isolate control (U+202A to U+202E, U+2066 to U+2069) shown as
// one '?' each; everything else is kept as it is.
std::string printable_text(const std::string& raw);

// raw with only its C0 controls and DEL shown as '?': the notes of the EDAC
// sources, which are not yet shown by any view.
std::string controls_as_question_marks(const std::string& raw);

// Columns a printable text takes on a terminal: two for a wide (CJK)
// character, none for a combining mark, one for any other code point or
// stray byte.
size_t display_width(const std::string& text);

// Units of size, powers of 1024.
constexpr uint64_t kKiB = uint64_t{1} << 10, kMiB = kKiB << 10, kGiB = kMiB << 10,
                   kTiB = kGiB << 10;

// a + b, or the largest value when that would wrap: a sum shown to people
// (sizes, error counts) of a made-up table or tree never turns small.
constexpr uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The largest unit from largest down to KiB that bytes fills once; 1 (bytes)
// when it fills none.
uint64_t size_unit(uint64_t bytes, uint64_t largest);

// bytes in unit: "16 GiB" when it divides evenly, else one decimal,
// "1.5 GiB"; bytes_name names the unit 1 ("B" or "bytes").
std::string size_in_unit(uint64_t bytes, uint64_t unit, const char* bytes_name);

// bytes in the unit size_unit chooses.
std::string size_text(uint64_t bytes, uint64_t largest, const char* bytes_name);

// Rows of printable cells as aligned columns: each cell padded to its
// column's width plus two spaces, trailing spaces dropped, one line each.
std::string aligned_rows(const std::vector<std::vector<std::string>>& rows);

#endif
