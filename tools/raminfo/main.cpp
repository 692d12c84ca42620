// raminfo: prints the memory module inventory of this machine, or of a saved
// SMBIOS table, as the library reports it.
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compare.h"
#include "detail/detail.h"
#include "dump.h"
#include "dump_platform.h"
#include "input.h"
#include "json_value.h"
#include "options.h"
#include "output.h"
#include "raminfo.h"
#include "save_dump.h"
#include "table_source.h"
#include "views.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr int kExitTableUnreadable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitChanged = 3;

// A baseline is a report or detail document: a few hundred KiB at most.
constexpr size_t kBaselineLimit = size_t{4} << 20;

// True when both paths name one existing file.
bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
#if defined(_WIN32)
  // Windows' stat gives no inode; the same path is the best evidence.
  return a == b;
#else
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

// Tells the user why the table could not be read and what would help.
void report_unreadable(const cli_options& opt) {
  std::fprintf(stderr, "raminfo: cannot read the SMBIOS table: %s\n", raminfo_last_error());
  if (opt.from_dump) {
    std::fprintf(stderr, "raminfo: hint: %s: the saved table is too short or inconsistent\n",
                 opt.dump_path.c_str());
    return;
  }
#if defined(_WIN32)
  std::fprintf(stderr, "raminfo: hint: this system's firmware provides no SMBIOS table\n");
#else
  const char* table = "/sys/firmware/dmi/tables/DMI";
  struct stat st;
  if (geteuid() != 0) {
    std::fprintf(stderr, "raminfo: hint: reading %s needs root (try sudo)\n", table);
  } else if (stat(table, &st) != 0) {
    std::fprintf(stderr,
                 "raminfo: hint: this machine exposes no SMBIOS table at %s (a virtual machine "
                 "or container without DMI, for example)\n",
                 table);
  } else {
    std::fprintf(stderr, "raminfo: hint: the firmware's table at %s is unusable\n", table);
  }
#endif
}

// Reads the saved table and hands it to the library in place of the live one;
// false, after saying why, when it cannot be read.
bool load_dump(const cli_options& opt) {
  std::vector<uint8_t> file;
  std::string error;
  std::vector<std::string> warnings;
  const bool ok = read_dump_file(opt.dump_path, &file, &error) &&
                  dump_to_raw_block(&file, opt.format, &warnings, &error);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "raminfo: warning: %s: %s\n", opt.dump_path.c_str(), w.c_str());
  if (!ok) {
    std::fprintf(stderr, "raminfo: cannot read %s: %s\n", opt.dump_path.c_str(), error.c_str());
    return false;
  }
  use_saved_table(std::move(file), opt.total_given ? opt.total_mb : -1);
  return true;
}

// Renders the chosen view; readable is false when the table cannot be read.
std::string render(view v, bool* readable) {
  if (v == view::table || v == view::prometheus) {
    inventory inv;
    *readable = read_inventory(&inv);
    return v == view::table ? render_table(inv) : render_prometheus(inv);
  }
  if (v == view::count) {
    const int32_t n = raminfo_slot_count();
    *readable = n >= 0;
    return std::to_string(n) + "\n";
  }
  std::string text = raminfo_get_json();
  *readable = raminfo_last_error()[0] == '\0';
  return text + "\n";
}

// The detail document of the table the library reads, or its table view.
std::string render_detail(view v, bool* readable) {
  *readable = raminfo_slot_count() >= 0;
  raminfo_detail::document doc;
  if (*readable) doc = raminfo_detail::decode_detail(smbios_cached_view());
  return v == view::table ? raminfo_detail::detail_table(doc) : raminfo_detail::detail_json(doc);
}

// Reads the saved inventory; false, after saying why, when it is missing,
// unreadable, not JSON or not a document raminfo can compare with.
bool load_baseline(const cli_options& opt, memory_state* out) {
  std::vector<uint8_t> bytes;
  std::string error;
  json_value doc;
  bool ok = read_bounded_file(opt.baseline_path, kBaselineLimit, &bytes, &error);
  if (ok && !parse_json(std::string(bytes.begin(), bytes.end()), &doc, &error)) {
    error = "not JSON: " + error;
    ok = false;
  }
  ok = ok && state_from_document(doc, out, &error);
  if (!ok)
    std::fprintf(stderr, "raminfo: cannot use the baseline %s: %s\n", opt.baseline_path.c_str(),
                 error.c_str());
  return ok;
}

// The present inventory in the baseline's own terms, read back from the same
// document raminfo would have saved.
memory_state present_state(const memory_state& baseline) {
  bool readable = false;
  const std::string text =
      baseline.detail ? render_detail(view::json, &readable) : render(view::json, &readable);
  json_value doc;
  std::string error;
  memory_state state;
  if (parse_json(text, &doc, &error)) state_from_document(doc, &state, &error);
  return state;
}

std::string baseline_gauges(const comparison& c) {
  std::string out;
  auto gauge = [&out](const char* name, const char* help, int value) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + name +
           " " + std::to_string(value) + "\n";
  };
  gauge("raminfo_baseline_modules_missing",
        "Modules in the baseline inventory that are no longer found.", c.missing);
  gauge("raminfo_baseline_modules_changed",
        "Modules found in the baseline inventory that were replaced, moved or changed.", c.changed);
  gauge("raminfo_baseline_modules_new", "Modules found that the baseline inventory lacks.",
        c.added);
  return out;
}

int emit(const cli_options& opt, const std::string& text) {
  std::string error, warning;
  const bool ok = opt.to_file ? write_file_atomically(opt.output_path, text, &error, &warning)
                              : write_stdout(text, &error);
  if (!warning.empty())
    std::fprintf(stderr, "raminfo: warning: %s: %s\n", opt.output_path.c_str(), warning.c_str());
  if (ok) return 0;
  std::fprintf(stderr, "raminfo: %s\n", error.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
  // A reader that goes away is a write error to report, not a signal to die of.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  cli_options opt;
  std::string error;
  switch (parse_options(std::vector<std::string>(argv + 1, argv + argc), &opt, &error)) {
    case parse_result::help: return emit(cli_options{}, help_text());
    case parse_result::version: return emit(cli_options{}, std::string(raminfo_version()) + "\n");
    case parse_result::usage_error:
      std::fprintf(stderr, "raminfo: %s (see raminfo --help)\n", error.c_str());
      return kExitUsage;
    case parse_result::run: break;
  }

  // Writing over the file being read would destroy it before it is read.
  for (const std::string* input : {&opt.baseline_path, &opt.dump_path}) {
    if (opt.to_file && !input->empty() && same_file(opt.output_path, *input)) {
      std::fprintf(stderr, "raminfo: --output %s is the file being read (see raminfo --help)\n",
                   opt.output_path.c_str());
      return kExitUsage;
    }
  }

  // This machine's table saved, or udev's devices in its place.
  if (opt.save_dump) return save_dump(opt.save_path);
  bool udev_incomplete = false;
  if (!opt.from_dump && select_table_source(opt.source, &udev_incomplete) != 0)
    return kExitTableUnreadable;
  if (opt.compare && udev_incomplete) {
    std::fprintf(stderr,
                 "raminfo: cannot compare with %s: udev's entry lacks devices, which would "
                 "show as missing\n",
                 opt.baseline_path.c_str());
    return kExitTableUnreadable;
  }

  memory_state baseline;
  if (opt.compare && !load_baseline(opt, &baseline)) return kExitTableUnreadable;
  if (opt.from_dump && !load_dump(opt)) return kExitTableUnreadable;

  bool readable = false;
  std::string text;
  bool changed = false;
  if (opt.compare && opt.out_view == view::json) {
    readable = raminfo_slot_count() >= 0;
    if (readable) {
      const comparison c = compare_states(baseline, present_state(baseline));
      for (const std::string& line : c.lines) text += line + "\n";
      changed = !c.lines.empty();
    }
  } else if (opt.detail) {
    text = render_detail(opt.out_view, &readable);
  } else {
    text = render(opt.out_view, &readable);
    if (opt.compare && readable) {
      const comparison c = compare_states(baseline, present_state(baseline));
      text += baseline_gauges(c);
      changed = !c.lines.empty();
    }
  }
  // A file someone relies on (a baseline, say) keeps its content when there
  // is nothing true to replace it with. Gauges are the exception: they say
  // that the table cannot be read.
  const bool keep_file = !readable && opt.to_file && opt.out_view != view::prometheus;
  if (!keep_file && emit(opt, text) != 0) return 1;
  if (keep_file) std::fprintf(stderr, "raminfo: %s is left as it was\n", opt.output_path.c_str());
  if (!readable) {
    report_unreadable(opt);
    return kExitTableUnreadable;
  }
  return changed ? kExitChanged : 0;
}
