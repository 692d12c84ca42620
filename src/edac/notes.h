// Notes for people about the EDAC tree, the label files and the join: a few
// say what is wrong; past a bound only their number is kept, so that a
// made-up tree or label file cannot flood a terminal or a journal (or fill
// memory with them).
#ifndef RAMINFO_EDAC_NOTES_H
#define RAMINFO_EDAC_NOTES_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Notes of each kind kept before they are only counted.
constexpr size_t kEdacMaxNotes = 50;

// Adds note to notes while they number fewer than limit; else counts it in
// *dropped.
inline void add_bounded_note(std::vector<std::string>* notes, size_t* dropped, size_t limit,
                             std::string note) {
  if (notes->size() < limit) {
    notes->push_back(std::move(note));
  } else {
    ++*dropped;
  }
}

#endif
