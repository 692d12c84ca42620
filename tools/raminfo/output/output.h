// Where raminfo's answer goes: stdout, or a file replaced in one step; and
// where its messages go.
#ifndef RAMINFO_TOOLS_OUTPUT_OUTPUT_H
#define RAMINFO_TOOLS_OUTPUT_OUTPUT_H

#include <string>

// Writes text to stdout and flushes and closes it; false with the reason when
// any of that fails (a full disk, a closed pipe).
bool write_stdout(const std::string& text, std::string* error);

// Replaces path with text: writes a temporary file in path's directory, then
// renames it over path, so that a reader sees the old file or the whole new
// one, never part of one (another hard link to the old file keeps the old
// content). A symbolic link is followed, a dangling one too (the link stays,
// its target is written), except one in a sticky, world-writable directory
// that belongs neither to this user nor to the directory's owner, which is
// refused; an existing file keeps its owner, group and permissions; a device,
// pipe or directory is refused. On failure path is untouched, the temporary
// file is removed, and error names the file and the reason (the directory
// when it takes no new file, the sticky bit when that forbids the rename).
// warning (when given) tells a user other than root who replaced the file
// that the old owner or group could not be kept.
bool write_file_atomically(const std::string& path, const std::string& text, std::string* error,
                           std::string* warning = nullptr);

// Writes "raminfo: ", line and a line break to stderr, line shown by the one
// printable rule (printable_text in src/text/text.h): a file name or a file's
// text quoted in a message cannot steer the terminal or reorder the line.
void say(const std::string& line);

#endif
