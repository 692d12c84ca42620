// The command line of raminfo, parsed into what to do.
#ifndef RAMINFO_TOOLS_CLI_OPTIONS_H
#define RAMINFO_TOOLS_CLI_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "sources/choice.h"

enum class view { json, count, table, prometheus, check };

struct cli_options {
  view out_view = view::json;
  // --from-dump FILE: decode a saved table instead of this machine's.
  bool from_dump = false;
  std::string dump_path;
  dump_format format = dump_format::automatic;
  // --total-mb N: the total to report with a saved table; unknown when absent.
  bool total_given = false;
  int64_t total_mb = -1;
  // --output FILE: replace FILE whole instead of writing to stdout.
  bool to_file = false;
  std::string output_path;
  // --detail: the detail document (types 16 and 17), or with --table its
  // summary for people, instead of the library's report.
  bool detail = false;
  // --populated: the table views leave out empty slots.
  bool populated = false;
  // --compare BASELINE: report what changed since a saved inventory.
  bool compare = false;
  std::string baseline_path;
  // --source firmware|udev: this machine's table, or the devices udev
  // decoded from it; by default udev's only when the table cannot be read.
  table_source source = table_source::automatic;
  // --save-dump FILE: write this machine's table to FILE, and nothing else.
  bool save_dump = false;
  std::string save_path;
  // --sysfs-root DIR: where Linux's EDAC tree is read (DIR/devices/system/
  // edac/mc) for per-module memory error counts; a saved table gets counts
  // only when it is given.
  bool sysfs_root_given = false;
  std::string sysfs_root = "/sys";
  // --dimm-labels FILE: the DIMM label database to read instead of the
  // default one (/etc/ras/dimm_labels.db and /etc/ras/dimm_labels.d/).
  bool dimm_labels_given = false;
  std::string dimm_labels_path;
};

enum class parse_result { run, help, version, usage_error };

// Parses the arguments after the program name. --help wins wherever it
// stands; any other problem gives usage_error with a one-line reason.
parse_result parse_options(const std::vector<std::string>& args, cli_options* out,
                           std::string* error);

// The text of raminfo --help.
const char* help_text();

#endif
