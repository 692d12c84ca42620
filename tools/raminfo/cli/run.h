// raminfo from its arguments to its exit status; main only hands them over.
#ifndef RAMINFO_TOOLS_CLI_RUN_H
#define RAMINFO_TOOLS_CLI_RUN_H

#include <string>
#include <vector>

// Runs raminfo with the arguments after the program name (UTF-8) and
// returns its exit status.
int run(const std::vector<std::string>& args);

#endif
