// The command line: every option in one table, with its help beside it.
#include "cli/options.h"

#include <charconv>
#include <cstdint>
#include <set>

namespace {

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// What an option sets in cli_options.
enum class field {
  version,
  help,
  view,
  detail,
  populated,
  dump_path,
  dump_format,
  total_mb,
  output_path,
  baseline_path,
  source,
  save_path,
  sysfs_root,
  dimm_labels
};

// Where an option's help line is shown (the option works everywhere).
enum class platform { any, windows, posix };

// The help's sections, in order.
enum class section { views, input_output, bug_reports, memory_errors, change_detection, last };

struct option_spec {
  const char* name;
  bool takes_value;
  field sets;
  platform shown_on;
  section in;
  const char* help;
};

// In the order of raminfo --help. Windows lists only what it has: no udev
// database, and every user reads the firmware table.
constexpr option_spec kOptions[] = {
    {"--count", false, field::view, platform::any, section::views,
     "  --count              the number of populated modules\n"},
    {"--table", false, field::view, platform::any, section::views,
     "  --table              an aligned table for people, with a summary line\n"},
    {"--prometheus", false, field::view, platform::any, section::views,
     "  --prometheus         gauges in the Prometheus text format (node_exporter's\n"
     "                       textfile collector)\n"},
    {"--check", false, field::view, platform::any, section::views,
     "  --check              how the memory is set up, for people: one line per finding\n"
     "                       (channels unused or unbalanced, modules below their rated\n"
     "                       speed or mixed, free slots), warnings first; exit 4 when\n"
     "                       one is a warning\n"},
    {"--detail", false, field::detail, platform::any, section::views,
     "  --detail             everything the firmware says about memory (arrays and\n"
     "                       devices, SMBIOS types 16 and 17) as JSON, schema\n"
     "                       \"raminfo-detail/1\"; with --table, a summary for people\n"},
    {"--populated", false, field::populated, platform::any, section::views,
     "  --populated          with --table or --detail --table: leave out empty slots\n"},
    {"--from-dump", true, field::dump_path, platform::any, section::input_output,
     "  --from-dump FILE     decode a saved table instead of this machine's: a Windows raw\n"
     "                       SMBIOS block, a 'dmidecode --dump-bin' file or a bare table\n"
     "                       (at most 16 MiB)\n"},
    {"--dump-format", true, field::dump_format, platform::any, section::input_output,
     "  --dump-format F      take FILE as F (rsmb, dmidecode or table) instead of telling\n"
     "                       the layout from its content\n"},
    {"--total-mb", true, field::total_mb, platform::any, section::input_output,
     "  --total-mb N         total memory in MiB to report with --from-dump (default:\n"
     "                       unknown, -1)\n"},
    {"--output", true, field::output_path, platform::any, section::input_output,
     "  --output FILE        write to FILE instead of stdout; FILE is replaced whole, by\n"
     "                       renaming a finished temporary file in its directory\n"},
    {"--source", true, field::source, platform::windows, section::bug_reports,
     "  --source firmware    this machine's firmware table, the only source on Windows\n"},
    {"--save-dump", true, field::save_path, platform::windows, section::bug_reports,
     "  --save-dump FILE     write this machine's table to FILE, to attach to a bug report\n"
     "                       (the raw SMBIOS block of GetSystemFirmwareTable); --from-dump\n"
     "                       reads it back\n"},
    {"--source", true, field::source, platform::posix, section::bug_reports,
     "  --source S           firmware: this machine's firmware table only; udev: the\n"
     "                       devices udev decoded from it at boot (/run/udev/data/+dmi:id),\n"
     "                       readable by anyone; voltages udev rounds are left out.\n"
     "                       Default: udev only when the firmware table cannot be read\n"},
    {"--save-dump", true, field::save_path, platform::posix, section::bug_reports,
     "  --save-dump FILE     write this machine's table to FILE, to attach to a bug report\n"
     "                       (the layout of 'dmidecode --dump-bin'); --from-dump reads it\n"
     "                       back\n"},
    {"--sysfs-root", true, field::sysfs_root, platform::posix, section::memory_errors,
     "  --sysfs-root DIR     read EDAC's counts from DIR/devices/system/edac/mc (default:\n"
     "                       /sys); a saved table (--from-dump) gets counts only with it\n"},
    {"--dimm-labels", true, field::dimm_labels, platform::posix, section::memory_errors,
     "  --dimm-labels FILE   the DIMM label database (ras-mc-ctl's format) that names the\n"
     "                       modules by EDAC position; default: /etc/ras/dimm_labels.db\n"
     "                       and the files in /etc/ras/dimm_labels.d/\n"},
    {"--compare", true, field::baseline_path, platform::any, section::change_detection,
     "  --compare BASELINE   compare the memory found now with BASELINE, a file saved\n"
     "                       earlier by raminfo or raminfo --detail (which has more to\n"
     "                       compare); print one line per difference (nothing when\n"
     "                       nothing changed) and exit 3 when something changed; with\n"
     "                       --prometheus, add the gauges\n"
     "                       raminfo_baseline_modules_{missing,changed,new} and\n"
     "                       raminfo_baseline_readable (0 when BASELINE cannot be used:\n"
     "                       the one to alert on)\n"},
    {"--version", false, field::version, platform::any, section::last,
     "  --version            print the library's version\n"},
    {"--help", false, field::help, platform::any, section::last,
     "  -h, --help           print this help; it wins wherever it stands\n"},
};

bool shown_here(const option_spec& o) {
  return o.shown_on == platform::any || (o.shown_on == platform::windows) == kWindows;
}

const option_spec* find_option(const std::string& name) {
  for (const option_spec& o : kOptions)
    if (shown_here(o) && (name == o.name || (o.sets == field::help && name == "-h"))) return &o;
  return nullptr;
}

// As strtoll read it before: leading white space and one '+' are allowed.
bool parse_total_mb(const std::string& text, int64_t* out) {
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) return false;
  if (text[i] == '+' && ++i < text.size() && text[i] == '-') return false;
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + i, end, v);
  // -1 is how the library writes an unknown total; nothing lower means anything.
  if (ec != std::errc() || ptr != end || v < -1 || v > INT32_MAX) return false;
  *out = v;
  return true;
}

const char* const kUsage =
    "Usage: raminfo [--count | --table | --prometheus | --check | --detail [--table]]\n"
    "               [--populated]\n"
    "               [--output FILE]\n"
    "               [--from-dump FILE [--dump-format rsmb|dmidecode|table] [--total-mb N]\n"
#if defined(_WIN32)
    "                | --source firmware]\n"
#else
    "                | --source firmware|udev] [--sysfs-root DIR] [--dimm-labels FILE]\n"
#endif
    "       raminfo --compare BASELINE [--prometheus] [--output FILE]\n"
    "               [--from-dump FILE [--dump-format F] [--total-mb N] | --source S]\n"
    "       raminfo --save-dump FILE\n"
    "Prints the memory modules found in the SMBIOS table as JSON.\n";

// Each section's title, and what follows its options.
struct section_text {
  section in;
  const char* title;
  const char* after;
};

constexpr section_text kSections[] = {
    {section::views, "Views (one at most; the default is the library's JSON report):\n", ""},
    {section::input_output, "Input and output:\n",
     "  FILE or BASELINE '-' is stdin (--from-dump, --compare) or stdout (--output,\n"
     "  --save-dump); write ./- for a file of that name\n"},
    {section::bug_reports, kWindows ? "For bug reports:\n" : "Without root, and for bug reports:\n",
     ""},
    {section::memory_errors,
     "Memory error counts (Linux's EDAC, with --table, --prometheus or --detail):\n", ""},
    {section::change_detection, "Change detection:\n", ""},
    {section::last, "", ""},
};

const char* const kClosing =
    "\n"
    "An option may be given once, and never with an empty value. --dump-format and\n"
    "--total-mb need --from-dump, which excludes --source; --detail goes with --table\n"
    "only; --populated goes with a table view; --save-dump goes alone.\n"
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
    "  3  with --compare: the memory differs from the baseline\n"
    "  4  with --check: a finding is a warning\n";

std::string build_help() {
  std::string out = kUsage;
  for (const section_text& s : kSections) {
    std::string options;
    for (const option_spec& o : kOptions)
      if (o.in == s.in && shown_here(o)) options += o.help;
    // A section with nothing for this platform is left out.
    if (options.empty() && s.in != section::last) continue;
    out += std::string("\n") + s.title + options + s.after;
  }
  return out + kClosing;
}

}  // namespace

const char* help_text() {
  static const std::string text = build_help();
  return text.c_str();
}

namespace {

// A file name a value option needs, and how its help names it.
bool take_file(const char* option, const char* what, const std::string& value, bool* given,
               std::string* path, std::string* error) {
  if (value.empty()) {
    *error = std::string(option) + " needs " + what;
    return false;
  }
  *given = true;
  *path = value;
  return true;
}

// Stores an option's value; false with the reason when it is missing or not
// one the option takes. value is empty when the option ends the line.
bool take_value(const option_spec& o, const std::string& value, cli_options* out,
                std::string* error) {
  switch (o.sets) {
    case field::dump_path:
      return take_file(o.name, "a file", value, &out->from_dump, &out->dump_path, error);
    case field::baseline_path:
      return take_file(o.name, "a baseline file", value, &out->compare, &out->baseline_path, error);
    case field::save_path:
      return take_file(o.name, "a file", value, &out->save_dump, &out->save_path, error);
    case field::sysfs_root:
      return take_file(o.name, "a directory", value, &out->sysfs_root_given, &out->sysfs_root,
                       error);
    case field::dimm_labels:
      return take_file(o.name, "a file", value, &out->dimm_labels_given, &out->dimm_labels_path,
                       error);
    case field::output_path: {
      // "-" is stdout, as if --output were not given.
      bool given = false;
      if (!take_file(o.name, "a file", value, &given, &out->output_path, error)) return false;
      out->to_file = out->output_path != "-";
      return true;
    }
    case field::dump_format:
      if (parse_dump_format(value, &out->format)) return true;
      *error = "--dump-format takes rsmb, dmidecode or table";
      return false;
    case field::total_mb:
      if (parse_total_mb(value, &out->total_mb)) return out->total_given = true;
      *error = "--total-mb takes a whole number of MiB (-1 for unknown)";
      return false;
    case field::source:
      if (!parse_table_source(value, &out->source)) {
        *error = "--source takes firmware or udev";
        return false;
      }
      if (kWindows && out->source == table_source::udev) {
        *error = "--source udev reads udev's database, which Linux has and Windows has not";
        return false;
      }
      return true;
    default: return true;
  }
}

// The options that exclude or need each other; false with the reason.
bool check_combination(const std::vector<std::string>& args, const cli_options& o,
                       const std::string& view_option, bool format_given, std::string* error) {
  const auto refuse = [error](const std::string& reason) {
    *error = reason;
    return false;
  };
  if (o.detail && o.compare)
    return refuse("--compare reads whichever kind of document BASELINE is; leave out --detail");
  if (o.detail && o.out_view != view::json && o.out_view != view::table)
    return refuse("--detail goes with --table only, not " + view_option);
  if (o.populated && o.out_view != view::table)
    return refuse("--populated goes with --table or --detail --table only, not " +
                  (!view_option.empty() ? view_option
                   : o.detail           ? std::string("--detail alone")
                                        : std::string("the JSON report")));
  if (o.compare && o.out_view != view::json && o.out_view != view::prometheus)
    return refuse("--compare goes with the JSON or --prometheus view only, not " + view_option);
  if (o.save_dump && args.size() != 2) return refuse("--save-dump FILE goes alone");
  if (o.from_dump && o.compare && o.dump_path == "-" && o.baseline_path == "-")
    return refuse("--from-dump - and --compare - cannot both read stdin");
  if (o.from_dump && o.source != table_source::automatic)
    return refuse("--source chooses this machine's table, not a saved one");
  // Name only the options given, so the message says what to add, not what to remove.
  if (!o.from_dump && (format_given || o.total_given)) {
    const std::string given = format_given && o.total_given ? "--dump-format and --total-mb go"
                              : format_given                ? "--dump-format goes"
                                                            : "--total-mb goes";
    return refuse(given + " with --from-dump FILE, which is not given");
  }
  const bool counts_shown = o.detail || o.out_view == view::table || o.out_view == view::prometheus;
  if ((o.sysfs_root_given || o.dimm_labels_given) && !counts_shown)
    return refuse("--sysfs-root and --dimm-labels go with --table, --prometheus or --detail");
  return true;
}

}  // namespace

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
    const option_spec* o = find_option(arg);
    if (o == nullptr && kWindows && (arg == "--sysfs-root" || arg == "--dimm-labels")) {
      *error = arg + " reads Linux's EDAC memory error counts, which Windows has not";
      return parse_result::usage_error;
    }
    if (o == nullptr) {
      *error = "unknown option '" + arg + "'";
      return parse_result::usage_error;
    }
    if (o->takes_value) {
      const std::string value = i + 1 < args.size() ? args[++i] : "";
      if (!take_value(*o, value, out, error)) return parse_result::usage_error;
      format_given = format_given || o->sets == field::dump_format;
    } else if (o->sets == field::version) {
      version = true;
    } else if (o->sets == field::detail) {
      out->detail = true;
    } else if (o->sets == field::populated) {
      out->populated = true;
    } else if (o->sets == field::view) {
      if (!view_option.empty()) {
        *error = view_option + " and " + arg + " exclude each other";
        return parse_result::usage_error;
      }
      view_option = arg;
      out->out_view = arg == "--count"   ? view::count
                      : arg == "--table" ? view::table
                      : arg == "--check" ? view::check
                                         : view::prometheus;
    }
  }
  if (!check_combination(args, *out, view_option, format_given, error))
    return parse_result::usage_error;
  return version ? parse_result::version : parse_result::run;
}
