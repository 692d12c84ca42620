// One run of raminfo: the options parsed, the table chosen, the view
// rendered or the comparison made, the answer written, the exit status.
#include "cli/run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/options.h"
#include "compare/compare.h"
#include "core/dimm.h"
#include "core/loader.h"
#include "detail/detail.h"
#include "files/file_names.h"
#include "files/input.h"
#include "output/output.h"
#include "raminfo.h"
#include "save/save_dump.h"
#include "sources/memory_errors.h"
#include "sources/saved_table.h"
#include "sources/table_source.h"
#include "sources/tool_platform.h"
#include "text/text.h"
#include "views/views.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr int kExitTableUnreadable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitChanged = 3;
constexpr int kExitWarning = 4;

// A baseline is a report or detail document: a few hundred KiB at most.
constexpr size_t kBaselineLimit = size_t{4} << 20;

// Tells the user, in one line, why the table could not be read and the next
// step that would read one.
void report_unreadable(const cli_options& opt) {
  const std::string reason = raminfo_last_error();
  if (opt.from_dump) {
    say("cannot read the SMBIOS table in " + opt.dump_path + ": " + reason +
        " (the saved table is too short or inconsistent)");
    return;
  }
  std::string next;
#if defined(_WIN32)
  next =
      "this system's firmware provides none; raminfo --from-dump FILE reads a table saved "
      "elsewhere";
#else
  const char* table = "/sys/firmware/dmi/tables/DMI";
  struct stat st;
  // udev's database, which anyone may read, may hold the devices still.
  if (opt.source != table_source::udev && udev_has_memory_devices()) {
    next = "udev's database has the memory devices: try raminfo --source udev";
  } else if (stat(table, &st) != 0 && errno == ENOENT) {
    // Anyone can see whether the table exists; only then is root the answer.
    next = "raminfo --from-dump FILE reads a table saved on another machine";
  } else if (geteuid() != 0) {
    next = "try sudo raminfo";
  } else {
    next = std::string("the firmware's table at ") + table +
           " is unusable; raminfo --from-dump FILE reads a table saved elsewhere";
  }
#endif
  say("cannot read the SMBIOS table: " + reason + "; " + next);
}

// Reads the saved table and hands it to the library in place of the live one;
// false, after saying why, when it cannot be read.
bool load_dump(const cli_options& opt) {
  std::vector<uint8_t> file;
  std::string error;
  std::vector<std::string> warnings;
  const bool ok = read_dump_file(opt.dump_path, &file, &error) &&
                  dump_to_raw_block(&file, opt.format, &warnings, &error);
  for (const std::string& w : warnings) say("warning: " + opt.dump_path + ": " + w);
  if (!ok) {
    say("cannot read " + opt.dump_path + ": " + error);
    return false;
  }
  use_saved_table(std::move(file), opt.total_given ? opt.total_mb : -1);
  return true;
}

// Whether and where the views read per-module memory error counts: for this
// machine's table, and for a saved one only when --sysfs-root names the tree.
memory_errors_request errors_request(const cli_options& opt) {
  memory_errors_request req;
#if defined(_WIN32)
  req.reason = kMemoryErrorsNotOnWindows;
#else
  req.read = !opt.from_dump || opt.sysfs_root_given;
  if (!req.read) req.reason = kMemoryErrorsSavedTable;
  req.identity_from_sysfs = !opt.from_dump;
#endif
  req.sysfs_root = opt.sysfs_root;
  req.labels_given = opt.dimm_labels_given;
  req.labels_path = opt.dimm_labels_path;
  return req;
}

// A --sysfs-root that names no directory is the user's mistake (a kernel
// without EDAC still has /sys): false, after saying so, naming it.
bool sysfs_root_usable(const cli_options& opt) {
  if (!opt.sysfs_root_given || is_directory(opt.sysfs_root)) return true;
  struct stat st;
  errno = 0;
  const bool exists = stat(opt.sysfs_root.c_str(), &st) == 0;
  std::fprintf(stderr, "raminfo: --sysfs-root %s: %s\n", printable_text(opt.sysfs_root).c_str(),
               exists ? "not a directory" : std::strerror(errno));
  return false;
}

// Renders the chosen view; readable is false when the table cannot be read.
// The table and Prometheus views add the counts errors asks for; the gauges
// keep them when the table cannot be read, as joining no device.
std::string render(view v, bool* readable, const memory_errors_request* errors = nullptr,
                   bool populated_only = false) {
  if (v == view::table || v == view::prometheus) {
    inventory inv;
    *readable = read_inventory(&inv);
    if ((*readable || v == view::prometheus) && errors != nullptr) add_memory_errors(*errors, &inv);
    // A table of no slots would pass for an answer; the gauges say it with
    // raminfo_smbios_readable 0.
    if (v == view::table) return *readable ? render_table(inv, populated_only) : std::string();
    return render_prometheus(inv);
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

// The detail document of the table the library reads, or its table view,
// with the memory error counts errors asks for.
std::string render_detail(view v, bool* readable, const memory_errors_request* errors = nullptr,
                          bool populated_only = false) {
  // Loading is all that readable asks; a count would walk the whole table.
  *readable = load_smbios() == 1;
  raminfo_detail::document doc;
  if (*readable)
    doc = raminfo_detail::decode_detail(smbios_cached_view());
  else
    doc.reason = raminfo_last_error();
  if (*readable && errors != nullptr) add_memory_errors(*errors, smbios_cached_view(), &doc);
  if (v == view::table)
    return *readable ? raminfo_detail::detail_table(doc, populated_only) : std::string();
  return raminfo_detail::detail_json(doc);
}

// Reads the saved inventory; false, after saying why, when it is missing,
// unreadable, not JSON or not a document raminfo can compare with.
bool load_baseline(const cli_options& opt, memory_state* out) {
  byte_buffer bytes;
  std::string error;
  const bool ok =
      read_bounded_file(opt.baseline_path, kBaselineLimit, &bytes, &error) &&
      state_from_text(reinterpret_cast<const char*>(bytes.data()), bytes.size(), out, &error);
  if (!ok) say("cannot use the baseline " + opt.baseline_path + ": " + error);
  return ok;
}

// The present inventory in the baseline's own terms: the detail document
// raminfo would have saved, or every device the plain report would list
// without its length limit.
memory_state present_state(const memory_state& baseline, const inventory& inv) {
  if (!baseline.detail) return state_from_inventory(inv);
  // The document's state as read back from its text, without the text;
  // the state holds modules only, so their setup is not worked out.
  raminfo_detail::document doc;
  if (load_smbios() == 1)
    doc =
        raminfo_detail::decode_detail(smbios_cached_view(), raminfo_detail::decode_scope::devices);
  return state_from_detail(doc);
}

// True, after saying so, when a plain baseline may list only the first
// devices, as the library's report does when its 16 KiB limit cuts it: a
// module it never listed would show as new, and one that went missing from
// the part it lacks would go unnoticed.
bool baseline_cut(const cli_options& opt, const memory_state& baseline, const inventory& inv) {
  if (!plain_baseline_may_be_cut(baseline, inv.devices.size())) return false;
  say("cannot use the baseline " + opt.baseline_path + ": it lists " +
      std::to_string(baseline.modules.size()) + " of the " + std::to_string(inv.devices.size()) +
      " devices, as a plain report cut by its 16 KiB limit does; save the baseline with raminfo "
      "--detail --output FILE, which lists all");
  return true;
}

// The plain report lists devices until its 16 KiB limit; says so on stderr
// when that left some out. A report short of the limit lists them all, and
// needs neither reading back nor the devices counted.
void warn_if_cut(const std::string& report) {
  if (report.size() < kCutReportBytes) return;
  const auto present = static_cast<size_t>(count_memory_devices(smbios_cached_view()));
  memory_state listed;
  std::string error;
  if (!state_from_text(report, &listed, &error) || listed.modules.size() >= present) return;
  say("warning: the report lists " + std::to_string(listed.modules.size()) + " of " +
      std::to_string(present) + " devices (16 KiB limit); --detail lists all");
}

// Where the walk of the table stops at a structure header that ends it (a
// length of 3 or less) before the end-of-table structure and the last bytes;
// false when it reaches either. Everything after that header is lost to every
// view, which would otherwise show a broken table as one without memory.
bool walk_breaks(smbios_view t, size_t* at, int* after_type) {
  smbios_walk w = smbios_walk_start(t);
  smbios_struct st{};
  *after_type = -1;
  for (;;) {
    const smbios_walk before = w;
    if (smbios_next(t, &w, &st)) {
      *after_type = st.type;
      continue;
    }
    if (before.done || before.next + 4 > t.len) return false;
    const uint8_t* header = t.base + before.next;
    if (header[0] == 127 || header[1] > 3) return false;
    *at = before.next;
    return true;
  }
}

// Says on stderr, as the cut table's warning does, that the table breaks
// before any memory device: its views list no slot, which is no answer.
void warn_if_broken(const cli_options& opt) {
  if (load_smbios() != 1) return;
  const smbios_view t = smbios_cached_view();
  size_t at = 0;
  int after_type = -1;
  if (count_memory_devices(t) != 0 || !walk_breaks(t, &at, &after_type)) return;
  std::string where = "byte " + std::to_string(at) + " of " + std::to_string(t.len);
  if (after_type >= 0) where += ", after a type " + std::to_string(after_type) + " structure";
  say("warning: " + (opt.from_dump ? opt.dump_path + ": " : std::string()) +
      "table broken: its walk stops at " + where +
      ", before any memory device; the devices it describes cannot be read");
}

std::string gauge(const char* name, const char* help, int value) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " " +
         std::to_string(value) + "\n";
}

// The baseline's gauges: whether it could be compared with, and if so (and
// the table could be read) what changed. Without the counts an alert on them
// stays silent, so raminfo_baseline_readable 0 is the one to alert on.
std::string baseline_gauges(bool usable, const comparison* c) {
  std::string out = gauge("raminfo_baseline_readable",
                          "Whether the baseline inventory could be read and compared with (1) or "
                          "not (0).",
                          usable ? 1 : 0);
  if (c == nullptr) return out;
  out += gauge("raminfo_baseline_modules_missing",
               "Modules in the baseline inventory that are no longer found.", c->missing);
  out += gauge("raminfo_baseline_modules_changed",
               "Modules found in the baseline inventory that were replaced, moved or changed.",
               c->changed);
  out += gauge("raminfo_baseline_modules_new", "Modules found that the baseline inventory lacks.",
               c->added);
  return out;
}

int emit(const cli_options& opt, const std::string& text) {
  std::string error, warning;
  const bool ok = opt.to_file ? write_file_atomically(opt.output_path, text, &error, &warning)
                              : write_stdout(text, &error);
  if (!warning.empty()) say("warning: " + opt.output_path + ": " + warning);
  if (ok) return 0;
  say(error);
  return 1;
}

// What the run prints and how it ends, before it is written.
struct answer {
  std::string text;
  bool readable = false;
  bool changed = false;
  bool warning = false;  // --check found a warning
};

// Help, version or bad usage: the exit status when the run ends here.
bool ends_before_reading(const std::vector<std::string>& args, cli_options* opt, int* status) {
  std::string error;
  switch (parse_options(args, opt, &error)) {
    case parse_result::help: *status = emit(cli_options{}, help_text()); return true;
    case parse_result::version:
      *status = emit(cli_options{}, std::string(raminfo_version()) + "\n");
      return true;
    case parse_result::usage_error:
      say(error + " (see raminfo --help)");
      *status = kExitUsage;
      return true;
    case parse_result::run: break;
  }
  // Writing over the file being read would destroy it before it is read.
  for (const std::string* input : {&opt->baseline_path, &opt->dump_path}) {
    if (opt->to_file && !input->empty() && same_file(opt->output_path, *input)) {
      say("--output " + opt->output_path + " is the file being read (see raminfo --help)");
      *status = kExitUsage;
      return true;
    }
  }
  return false;
}

// Reads the baseline; false, after saying why, when it cannot be compared
// with (udev's entry lacking devices would show them as missing).
bool usable_baseline(const cli_options& opt, bool udev_incomplete, memory_state* baseline) {
  if (!udev_incomplete) return load_baseline(opt, baseline);
  say("cannot compare with " + opt.baseline_path +
      ": udev's entry lacks devices, which would show as missing");
  return false;
}

// The chosen view of the table, with the comparison's lines or gauges.
answer compose(const cli_options& opt, const memory_state& baseline, bool baseline_usable,
               inventory* inv) {
  answer a;
  if (opt.compare && opt.out_view == view::json) {
    a.readable = load_smbios() == 1;
    if (a.readable) {
      const comparison c = compare_states(baseline, present_state(baseline, *inv));
      for (const std::string& line : c.lines) a.text += line + "\n";
      a.changed = !c.lines.empty();
    }
    return a;
  }
  if (opt.out_view == view::check) {
    a.readable = read_inventory(inv);
    if (a.readable) a.text = render_check(*inv, &a.warning);
    return a;
  }
  const memory_errors_request errors = errors_request(opt);
  if (opt.detail) {
    a.text = render_detail(opt.out_view, &a.readable, &errors, opt.populated);
    return a;
  }
  a.text = render(opt.out_view, &a.readable, &errors, opt.populated);
  if (opt.compare) {
    comparison c;
    if (a.readable && baseline_usable) {
      c = compare_states(baseline, present_state(baseline, *inv));
      a.changed = !c.lines.empty();
    }
    a.text += baseline_gauges(baseline_usable, a.readable && baseline_usable ? &c : nullptr);
  }
  if (a.readable && opt.out_view == view::json) warn_if_cut(a.text);
  return a;
}

// Writes the answer and gives the exit status.
int deliver(const cli_options& opt, const answer& a, bool baseline_usable) {
  // A file someone relies on (a baseline, say) keeps its content when there
  // is nothing true to replace it with. Gauges are the exception: they say
  // that the table cannot be read.
  const bool keep_file = !a.readable && opt.to_file && opt.out_view != view::prometheus;
  if (a.readable) warn_if_broken(opt);
  if (!keep_file && emit(opt, a.text) != 0) return 1;
  if (keep_file) say(opt.output_path + " is left as it was");
  if (!a.readable) {
    report_unreadable(opt);
    return kExitTableUnreadable;
  }
  if (opt.compare && !baseline_usable) return kExitTableUnreadable;
  if (a.warning) return kExitWarning;
  return a.changed ? kExitChanged : 0;
}

}  // namespace

int run(const std::vector<std::string>& args) {
  cli_options opt;
  int status = 0;
  if (ends_before_reading(args, &opt, &status)) return status;
  if (!sysfs_root_usable(opt)) return 1;

  // This machine's table saved, or udev's devices in its place.
  if (opt.save_dump) return save_dump(opt.save_path);
  bool udev_incomplete = false;
  if (!opt.from_dump && select_table_source(opt.source, &udev_incomplete) != 0)
    return kExitTableUnreadable;
  // With --prometheus a baseline that cannot be used still gives the gauges,
  // so that stale ones from an earlier run do not stay behind.
  const bool gauges = opt.out_view == view::prometheus;
  memory_state baseline;
  bool baseline_usable = opt.compare && usable_baseline(opt, udev_incomplete, &baseline);
  if (opt.compare && !baseline_usable && !gauges) return kExitTableUnreadable;
  if (opt.from_dump && !load_dump(opt)) return kExitTableUnreadable;

  // Only a plain baseline can be cut short; a detail one lists every device
  // and is compared with the decoded table alone, so it needs no inventory.
  inventory inv;
  if (baseline_usable && !baseline.detail && read_inventory(&inv) &&
      baseline_cut(opt, baseline, inv)) {
    baseline_usable = false;
    if (!gauges) return kExitTableUnreadable;
  }
  return deliver(opt, compose(opt, baseline, baseline_usable, &inv), baseline_usable);
}
