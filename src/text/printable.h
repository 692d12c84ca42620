// Firmware text as a person reads it on a terminal: the one rule every view
// for people (tables, comparison lines, notes on stderr) applies, so that no
// string from a table or a file can steer the terminal or reorder a line.
#ifndef RAMINFO_TEXT_PRINTABLE_H
#define RAMINFO_TEXT_PRINTABLE_H

#include <cstddef>
#include <string>

// raw with every byte that is not part of valid UTF-8, every C0 control,
// DEL, every C1 control (U+0080 to U+009F) and every bidirectional embedding,
// override or isolate control (U+202A to U+202E, U+2066 to U+2069) shown as
// one '?' each; everything else is kept as it is.
std::string printable_text(const std::string& raw);

// Columns a printable text takes on a terminal: two for a wide (CJK)
// character, none for a combining mark, one for any other code point or
// stray byte.
size_t display_width(const std::string& text);

#endif
