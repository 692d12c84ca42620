// raminfo: prints the memory module inventory of this machine, or of a saved
// SMBIOS table, as the library reports it. Only the entry point is here;
// the rest is the host's library (cli/run.h).
#include <csignal>
#include <string>
#include <vector>

#include "cli/run.h"
#include "files/file_names.h"

#if defined(_WIN32)
// The wide entry point (mingw-w64 links it with -municode): the arguments as
// typed, file names outside the ANSI code page included (file_names.h).
int wmain(int argc, wchar_t** argv) { return run(utf8_arguments(argc, argv)); }
#else
int main(int argc, char** argv) {
  // A reader that goes away is a write error to report, not a signal to die of.
  std::signal(SIGPIPE, SIG_IGN);
  return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
