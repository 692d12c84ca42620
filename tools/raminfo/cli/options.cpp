#include "cli/options.h"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace {

bool parse_total_mb(const std::string& text, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  // -1 is how the library writes an unknown total; nothing lower means anything.
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < -1 || v > INT32_MAX) return false;
  *out = v;
  return true;
}

}  // namespace

// Windows lists only what it has: no udev database, and every user reads the
// firmware table.
const char* help_text() {
  return "Usage: raminfo [--count | --table | --prometheus | --detail [--table]] [--output FILE]\n"
         "               [--from-dump FILE [--dump-format rsmb|dmidecode|table] [--total-mb N]\n"
#if defined(_WIN32)
         "                | --source firmware]\n"
#else
         "                | --source firmware|udev]\n"
#endif
         "       raminfo --compare BASELINE [--prometheus] [--output FILE]\n"
         "               [--from-dump FILE [--dump-format F] [--total-mb N] | --source S]\n"
         "       raminfo --save-dump FILE\n"
         "Prints the memory modules found in the SMBIOS table as JSON.\n"
         "\n"
         "Views (one at most; the default is the library's JSON report):\n"
         "  --count              the number of populated modules\n"
         "  --table              an aligned table for people, with a summary line\n"
         "  --prometheus         gauges in the Prometheus text format (node_exporter's\n"
         "                       textfile collector)\n"
         "  --detail             everything the firmware says about memory (arrays and\n"
         "                       devices, SMBIOS types 16 and 17) as JSON, schema\n"
         "                       \"raminfo-detail/1\"; with --table, a summary for people\n"
         "\n"
         "Input and output:\n"
         "  --from-dump FILE     decode a saved table instead of this machine's: a Windows raw\n"
         "                       SMBIOS block, a 'dmidecode --dump-bin' file or a bare table\n"
         "                       (at most 16 MiB)\n"
         "  --dump-format F      take FILE as F (rsmb, dmidecode or table) instead of telling\n"
         "                       the layout from its content\n"
         "  --total-mb N         total memory in MiB to report with --from-dump (default:\n"
         "                       unknown, -1)\n"
         "  --output FILE        write to FILE instead of stdout; FILE is replaced whole, by\n"
         "                       renaming a finished temporary file in its directory\n"
         "  FILE or BASELINE '-' is stdin (--from-dump, --compare) or stdout (--output,\n"
         "  --save-dump); write ./- for a file of that name\n"
         "\n"
#if defined(_WIN32)
         "For bug reports:\n"
         "  --source firmware    this machine's firmware table, the only source on Windows\n"
         "  --save-dump FILE     write this machine's table to FILE, to attach to a bug report\n"
         "                       (the raw SMBIOS block of GetSystemFirmwareTable); --from-dump\n"
         "                       reads it back\n"
#else
         "Without root, and for bug reports:\n"
         "  --source S           firmware: this machine's firmware table only; udev: the\n"
         "                       devices udev decoded from it at boot (/run/udev/data/+dmi:id),\n"
         "                       readable by anyone; voltages udev rounds are left out.\n"
         "                       Default: udev only when the firmware table cannot be read\n"
         "  --save-dump FILE     write this machine's table to FILE, to attach to a bug report\n"
         "                       (the layout of 'dmidecode --dump-bin'); --from-dump reads it\n"
         "                       back\n"
#endif
         "\n"
         "Change detection:\n"
         "  --compare BASELINE   compare the memory found now with BASELINE, a file saved\n"
         "                       earlier by raminfo or raminfo --detail (which has more to\n"
         "                       compare); print one line per difference (nothing when\n"
         "                       nothing changed) and exit 3 when something changed; with\n"
         "                       --prometheus, add the gauges\n"
         "                       raminfo_baseline_modules_{missing,changed,new}\n"
         "\n"
         "  --version            print the library's version\n"
         "  -h, --help           print this help; it wins wherever it stands\n"
         "\n"
         "An option may be given once, and never with an empty value. --dump-format and\n"
         "--total-mb need --from-dump, which excludes --source; --detail goes with --table\n"
         "only; --save-dump goes alone.\n"
         "\n"
         "Exit status:\n"
         "  0  success; warnings about a saved table (cut short, wrong checksum, layout\n"
         "     unlike the one forced) go to stderr and the answer is still printed\n"
         "  1  the table cannot be read (the report is still printed when the live table\n"
         "     is unreadable), a saved table or baseline cannot be read or used, or the\n"
#if defined(_WIN32)
         "     output cannot be written; also when --save-dump cannot read the table or\n"
         "     write FILE\n"
#else
         "     output cannot be written; also when --source udev finds no devices in udev's\n"
         "     entry, and when --save-dump cannot read the table or write FILE\n"
#endif
         "  2  bad usage\n"
         "  3  with --compare: the memory differs from the baseline\n";
}

parse_result parse_options(const std::vector<std::string>& args, cli_options* out,
                           std::string* error) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return parse_result::help;

  std::set<std::string> seen;
  std::string view_option;
  bool version = false;
  bool format_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!seen.insert(arg).second && arg.rfind("--", 0) == 0) {
      *error = arg + " is given more than once";
      return parse_result::usage_error;
    }
    const bool has_value = i + 1 < args.size();
    if (arg == "--version") {
      version = true;
    } else if (arg == "--count" || arg == "--table" || arg == "--prometheus") {
      if (!view_option.empty()) {
        *error = view_option + " and " + arg + " exclude each other";
        return parse_result::usage_error;
      }
      view_option = arg;
      out->out_view = arg == "--count"   ? view::count
                      : arg == "--table" ? view::table
                                         : view::prometheus;
    } else if (arg == "--detail") {
      out->detail = true;
    } else if (arg == "--from-dump") {
      if (!has_value || args[i + 1].empty()) {
        *error = "--from-dump needs a file";
        return parse_result::usage_error;
      }
      out->from_dump = true;
      out->dump_path = args[++i];
    } else if (arg == "--output") {
      if (!has_value || args[i + 1].empty()) {
        *error = "--output needs a file";
        return parse_result::usage_error;
      }
      // "-" is stdout, as if --output were not given.
      out->output_path = args[++i];
      out->to_file = out->output_path != "-";
    } else if (arg == "--compare") {
      if (!has_value || args[i + 1].empty()) {
        *error = "--compare needs a baseline file";
        return parse_result::usage_error;
      }
      out->compare = true;
      out->baseline_path = args[++i];
    } else if (arg == "--dump-format") {
      if (!has_value || !parse_dump_format(args[i + 1], &out->format)) {
        *error = "--dump-format takes rsmb, dmidecode or table";
        return parse_result::usage_error;
      }
      format_given = true;
      ++i;
    } else if (arg == "--total-mb") {
      if (!has_value || !parse_total_mb(args[i + 1], &out->total_mb)) {
        *error = "--total-mb takes a whole number of MiB (-1 for unknown)";
        return parse_result::usage_error;
      }
      out->total_given = true;
      ++i;
    } else if (arg == "--source") {
      if (!has_value || !parse_table_source(args[i + 1], &out->source)) {
        *error = "--source takes firmware or udev";
        return parse_result::usage_error;
      }
#if defined(_WIN32)
      if (out->source == table_source::udev) {
        *error = "--source udev reads udev's database, which Linux has and Windows has not";
        return parse_result::usage_error;
      }
#endif
      ++i;
    } else if (arg == "--save-dump") {
      if (!has_value || args[i + 1].empty()) {
        *error = "--save-dump needs a file";
        return parse_result::usage_error;
      }
      out->save_dump = true;
      out->save_path = args[++i];
    } else {
      *error = "unknown option '" + arg + "'";
      return parse_result::usage_error;
    }
  }
  if (out->detail && out->compare) {
    *error = "--compare reads whichever kind of document BASELINE is; leave out --detail";
    return parse_result::usage_error;
  }
  if (out->detail && out->out_view != view::json && out->out_view != view::table) {
    *error = "--detail goes with --table only, not " + view_option;
    return parse_result::usage_error;
  }
  if (out->compare && out->out_view != view::json && out->out_view != view::prometheus) {
    *error = "--compare goes with the JSON or --prometheus view only, not " + view_option;
    return parse_result::usage_error;
  }
  if (out->save_dump && args.size() != 2) {
    *error = "--save-dump FILE goes alone";
    return parse_result::usage_error;
  }
  if (out->from_dump && out->compare && out->dump_path == "-" && out->baseline_path == "-") {
    *error = "--from-dump - and --compare - cannot both read stdin";
    return parse_result::usage_error;
  }
  if (out->from_dump && out->source != table_source::automatic) {
    *error = "--source chooses this machine's table, not a saved one";
    return parse_result::usage_error;
  }
  if (!out->from_dump && (format_given || out->total_given)) {
    *error = "--dump-format and --total-mb go with --from-dump";
    return parse_result::usage_error;
  }
  return version ? parse_result::version : parse_result::run;
}
