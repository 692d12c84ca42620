// The tests' reference for the baseline reader: a plain recursive-descent
// JSON reader that builds the whole tree, and the state looked up in that
// tree. It is written for clarity, not speed; the command's one-pass reader
// must give the same state, or the same error at the same byte, for any text.
#ifndef RAMINFO_TEST_COMPARE_REFERENCE_READER_H
#define RAMINFO_TEST_COMPARE_REFERENCE_READER_H

#include <string>

#include "compare/compare.h"

bool reference_state_from_text(const std::string& text, memory_state* out, std::string* error);

#endif
