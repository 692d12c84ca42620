// What a shell command prints on stdout, for tests that consult a peer tool
// (dmi_memory_id, say).
#ifndef RAMINFO_TEST_COMMAND_OUTPUT_H
#define RAMINFO_TEST_COMMAND_OUTPUT_H

#include <array>
#include <cstdio>
#include <string>

// Empty when the command cannot start or does not exit with status 0, so a
// failing peer never passes for one that printed nothing.
inline std::string command_output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  if (pclose(pipe) != 0) out.clear();
  return out;
}

#endif
