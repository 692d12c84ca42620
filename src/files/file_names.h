// File names as the project handles them: UTF-8 text inside the programs,
// given to the system in its own form at each open, stat and rename. On Linux
// that is the bytes themselves. On Windows the tool takes its arguments
// through the wide entry point and names files through the wide (UTF-16)
// calls, so that a name outside the ANSI code page (CJK, emoji) is neither
// turned into '?' nor refused; see file_names_win.cpp for why not the UTF-8
// code page.
#ifndef RAMINFO_FILES_FILE_NAMES_H
#define RAMINFO_FILES_FILE_NAMES_H

#include <cstdio>
#include <string>
#include <vector>

// Opens path as fopen does, with fopen's modes; NULL with errno.
FILE* open_file(const std::string& path, const char* mode);

// Whether path names an existing directory.
bool is_directory(const std::string& path);

// Whether both paths name one existing file (under whichever names).
bool same_file(const std::string& a, const std::string& b);

#if defined(_WIN32)
// The arguments after the program name, from the wide entry point, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);

// path in UTF-16 for the wide calls; empty when path is not UTF-8, which no
// name from utf8_arguments is.
std::wstring wide_name(const std::string& path);
#endif

#endif
