#include "cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "files.h"

extern char** environ;

namespace {

// A cross-built host runs through the build's emulator (qemu-user for arm64),
// as ctest runs the tests themselves: without binfmt_misc, the kernel cannot
// start a foreign executable on its own. The words come '|'-separated.
std::vector<std::string> cli_emulator() {
  std::vector<std::string> words;
#ifdef RAMINFO_CLI_EMULATOR
  const std::string line = RAMINFO_CLI_EMULATOR;
  for (size_t start = 0; start <= line.size();) {
    const size_t bar = std::min(line.find('|', start), line.size());
    if (bar > start) words.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
#endif
  return words;
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/raminfo-dumps-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + templ);
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return file;
}

CliResult run_cli(const std::vector<std::string>& args, const std::string& stdout_path,
                  const std::string& stdin_path) {
  // Both streams go to files, so neither can fill a pipe and stall the host.
  const TempDir dir;
  const std::string out_path = dir.path() + "/stdout";
  const std::string err_path = dir.path() + "/stderr";
  std::vector<std::string> argv_text = cli_emulator();
  argv_text.push_back(RAMINFO_CLI);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdin_path.empty())
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1,
                                   stdout_path.empty() ? out_path.c_str() : stdout_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  CliResult result;
  if (rc != 0) {
    result.err = "cannot start " + argv_text[0];
    return result;
  }
  int status = 0;
  struct rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.max_rss_kib = usage.ru_maxrss;
  result.out = file_text(out_path);
  result.err = file_text(err_path);
  return result;
}
