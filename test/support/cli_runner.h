// Runs the command-line host and keeps what it printed.
#ifndef RAMINFO_TEST_SUPPORT_CLI_RUNNER_H
#define RAMINFO_TEST_SUPPORT_CLI_RUNNER_H

#include <cstdint>
#include <string>
#include <vector>

struct CliResult {
  int exit_code = -1;  // -1 when the host did not exit normally
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // the host's peak resident memory
};

// Runs the built raminfo with these arguments. With stdout_path, the host's
// stdout is that file (opened for writing) and out stays empty; with
// stdin_path, its stdin is that file.
CliResult run_cli(const std::vector<std::string>& args, const std::string& stdout_path = "",
                  const std::string& stdin_path = "");

// A fresh directory under TMPDIR (or /tmp), removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes bytes to NAME in this directory and returns its path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string path_;
};

#endif
