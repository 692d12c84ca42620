// The tests' reference for the baseline reader: a plain recursive-descent
// JSON reader that builds the whole tree, and the state looked up in that
// tree. It is written for clarity, not speed; the command's one-pass reader
// must give the same state, or the same error at the same byte, for any text.
#ifndef RAMINFO_TEST_COMPARE_REFERENCE_READER_H
#define RAMINFO_TEST_COMPARE_REFERENCE_READER_H

#include <string>
#include <tuple>

#include "compare/compare.h"

bool reference_state_from_text(const std::string& text, memory_state* out, std::string* error);

// Every field of a module that a reading fills, to compare two readings by.
inline auto module_fields(const module_state& m) {
  return std::make_tuple(m.slot, m.size_bytes, m.type, m.manufacturer, m.part_number, m.serial,
                         m.form_factor, m.speed_mts, m.configured_speed_mts, m.voltage_mv,
                         m.bank_locator, m.rank, m.vendor, m.system_memory);
}

#endif
