#include "edac/edac.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "edac/notes.h"
#include "files/input.h"

namespace fs = std::filesystem;

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && is_space(s[b])) ++b;
  while (e > b && is_space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A decimal count as the kernel prints it ("%u\n"); anything else, including
// a sign or a value past 64 bits, is no count. why says what was wrong.
std::optional<uint64_t> parse_count(const std::string& text, const char** why) {
  const std::string t = trim(text);
  if (t.empty()) {
    *why = "empty";
    return std::nullopt;
  }
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) {
    *why = "a number too large";
    return std::nullopt;
  }
  if (ec != std::errc() || end != t.data() + t.size()) {
    *why = "not a number";
    return std::nullopt;
  }
  return v;
}

// A whole unsigned decimal, for the numbers in names and locations.
bool parse_index(const std::string& t, unsigned* out) {
  if (t.empty()) return false;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *out);
  return ec == std::errc() && end == t.data() + t.size();
}

// The numbers of a location such as "csrow 2 channel 1 ": layer names and
// their indices in turn, as the EDAC core writes them.
bool location_numbers(const std::string& location, std::vector<unsigned>* out) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < location.size()) {
    while (i < location.size() && is_space(location[i])) ++i;
    const size_t start = i;
    while (i < location.size() && !is_space(location[i])) ++i;
    if (i > start) tokens.push_back(location.substr(start, i - start));
  }
  if (tokens.empty() || tokens.size() % 2 != 0 || tokens.size() / 2 > kEdacMaxLocationNumbers) {
    return false;
  }
  std::vector<unsigned> numbers;
  for (size_t t = 0; t < tokens.size(); t += 2) {
    unsigned n = 0;
    if (!parse_index(tokens[t + 1], &n)) return false;
    numbers.push_back(n);
  }
  *out = std::move(numbers);
  return true;
}

struct numbered_entry {
  unsigned number = 0;
  std::string name;
  bool operator<(const numbered_entry& o) const {
    return number != o.number ? number < o.number : name < o.name;
  }
};

class walker {
 public:
  explicit walker(edac_report* report) : report_(report) {}

  void note(const std::string& what) {
    add_bounded_note(&report_->notes, &report_->notes_dropped, kEdacMaxNotes, what);
  }

  // The entries of dir named prefix + a number, by number. False with the
  // error when the directory cannot be listed.
  bool list(const fs::path& dir, const std::vector<std::string>& prefixes,
            std::vector<numbered_entry>* out, std::string* error) {
    out->clear();
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    size_t seen = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (++seen > kEdacMaxEntriesPerDirectory) break;
      const std::string name = it->path().filename().string();
      for (const std::string& prefix : prefixes) {
        unsigned n = 0;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            parse_index(name.substr(prefix.size()), &n)) {
          out->push_back({n, name});
        }
      }
    }
    if (ec) {
      *error = ec.message();
      return false;
    }
    std::sort(out->begin(), out->end());
    return true;
  }

  // True when dir is a directory not met before; a note otherwise. Symbolic
  // links are followed, once: the directory they reach is what counts.
  bool enter(const fs::path& dir, const std::string& shown) {
    std::error_code ec;
    const fs::path real = fs::canonical(dir, ec);
    if (ec) {
      note(shown + ": " + ec.message());
      return false;
    }
    if (!fs::is_directory(real, ec)) {
      note(shown + ": not a directory");
      return false;
    }
    if (!seen_.insert(real.string()).second) {
      note(shown + ": the same directory as another entry, counted once");
      return false;
    }
    return true;
  }

  // The attribute's text, or nothing with a note. An absent file is noted
  // only when absent_noted. The kernel's attributes are files: a symbolic
  // link in their place is not followed, so that a tree given to
  // --sysfs-root cannot show another file (one only root may read) as a
  // label.
  std::optional<std::string> attribute(const fs::path& file, const std::string& shown,
                                       bool absent_noted = true) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(file, ec);
    if (ec || !fs::exists(st)) {
      if (fs::status_known(st) && st.type() == fs::file_type::not_found) {
        if (absent_noted) note(shown + ": absent");
      } else {
        note(shown + ": " + (ec ? ec.message() : std::string("cannot be read")));
      }
      return std::nullopt;
    }
    if (fs::is_symlink(st)) {
      note(shown + ": a symbolic link, so it is not read");
      return std::nullopt;
    }
    if (fs::is_directory(st)) {
      note(shown + ": a directory, not a file");
      return std::nullopt;
    }
    if (!fs::is_regular_file(st)) {
      note(shown + ": not a regular file");
      return std::nullopt;
    }
    // The kind is checked again at the open: the file may have been replaced.
    std::vector<uint8_t> bytes;
    std::string error;
    if (!read_bounded_file(file.string(), kEdacAttributeLimit, &bytes, &error, 0,
                           file_kind::regular_not_linked)) {
      note(shown + ": " + error);
      return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
  }

  std::optional<uint64_t> count(const fs::path& file, const std::string& shown,
                                bool absent_noted = true) {
    const std::optional<std::string> text = attribute(file, shown, absent_noted);
    if (!text) return std::nullopt;
    const char* why = "";
    const std::optional<uint64_t> v = parse_count(*text, &why);
    if (!v) note(shown + ": " + why);
    return v;
  }

  // A label: the text without the newline the kernel adds.
  std::optional<std::string> label(const fs::path& file, const std::string& shown) {
    std::optional<std::string> text = attribute(file, shown);
    if (text && !text->empty() && text->back() == '\n') text->pop_back();
    return text;
  }

  std::optional<std::string> word(const fs::path& file, const std::string& shown) {
    const std::optional<std::string> text = attribute(file, shown);
    if (!text) return std::nullopt;
    return trim(*text);
  }

 private:
  edac_report* report_;
  std::set<std::string> seen_;
};

// dimmM/ or rankM/ of one controller.
void read_module(walker& w, const fs::path& dir, const edac_controller& mc,
                 const numbered_entry& entry, edac_layout layout, edac_module* m,
                 bool* has_ce_file) {
  const std::string shown = mc.name + "/" + entry.name;
  m->edac = shown;
  m->controller = mc.name;
  m->controller_index = mc.index;
  m->layout = layout;
  m->label = w.label(dir / "dimm_label", shown + "/dimm_label");
  m->location = w.word(dir / "dimm_location", shown + "/dimm_location");
  if (m->location && !location_numbers(*m->location, &m->location_numbers)) {
    w.note(shown + "/dimm_location: not layer names and numbers");
  }
  m->size_mib = w.count(dir / "size", shown + "/size");
  m->mem_type = w.word(dir / "dimm_mem_type", shown + "/dimm_mem_type");
  m->edac_mode = w.word(dir / "dimm_edac_mode", shown + "/dimm_edac_mode");
  std::error_code ec;
  *has_ce_file = fs::symlink_status(dir / "dimm_ce_count", ec).type() != fs::file_type::not_found;
  m->ce = w.count(dir / "dimm_ce_count", shown + "/dimm_ce_count");
  m->ue = w.count(dir / "dimm_ue_count", shown + "/dimm_ue_count");
}

// The channels of csrowK/: every J that has a chJ_ file.
std::vector<numbered_entry> row_channels(walker& w, const fs::path& row, const std::string& shown) {
  std::error_code ec;
  fs::directory_iterator it(row, ec);
  size_t seen = 0;
  std::set<unsigned> channels;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (++seen > kEdacMaxEntriesPerDirectory) break;
    const std::string name = it->path().filename().string();
    const size_t us = name.find('_');
    unsigned j = 0;
    if (name.size() > 3 && name.compare(0, 2, "ch") == 0 && us != std::string::npos &&
        parse_index(name.substr(2, us - 2), &j) &&
        (name.compare(us, std::string::npos, "_ce_count") == 0 ||
         name.compare(us, std::string::npos, "_dimm_label") == 0)) {
      channels.insert(j);
    }
  }
  if (ec) w.note(shown + ": " + ec.message());
  std::vector<numbered_entry> out;
  for (unsigned j : channels) {
    if (out.size() >= kEdacMaxModulesPerController) break;
    out.push_back({j, "ch" + std::to_string(j)});
  }
  return out;
}

// The names of the modules at indices, for a note.
std::string names_of(const std::vector<edac_module>& modules, const std::vector<size_t>& indices) {
  std::string s;
  for (size_t i : indices) s += (s.empty() ? "" : ", ") + modules[i].edac;
  return s;
}

// Kernels 3.5 to 4.9 show module directories (with the layer positions a
// label file is written for) but keep the counts in the row files, and
// csrowK/chJ is not at layer position (K, J): edac_mc_alloc() advances the
// row or the channel first depending on the driver and the version. The
// kernel shows one label through both files, so a row channel is the module
// that alone carries its label, when it alone carries it too.
void tie_rows_to_modules(const std::vector<edac_module>& modules, std::vector<edac_module>* rows) {
  std::map<std::string, std::vector<size_t>> modules_by_label, rows_by_label;
  for (size_t i = 0; i < modules.size(); ++i)
    if (modules[i].label && !modules[i].label->empty())
      modules_by_label[*modules[i].label].push_back(i);
  for (size_t i = 0; i < rows->size(); ++i)
    if ((*rows)[i].label && !(*rows)[i].label->empty())
      rows_by_label[*(*rows)[i].label].push_back(i);
  for (edac_module& row : *rows) {
    row.location.reset();
    row.location_numbers.clear();
    if (!row.label || row.label->empty()) {
      row.untied = "it has no label to tell its module directory by";
      continue;
    }
    const std::string quoted = "its label \"" + *row.label + "\"";
    const auto m = modules_by_label.find(*row.label);
    if (m == modules_by_label.end()) {
      row.untied = quoted + " is on no module directory";
      continue;
    }
    if (m->second.size() > 1) {
      row.untied = quoted + " is on " + std::to_string(m->second.size()) + " module directories (" +
                   names_of(modules, m->second) + ")";
      continue;
    }
    const std::vector<size_t>& same = rows_by_label[*row.label];
    if (same.size() > 1) {
      row.untied = quoted + " is on " + std::to_string(same.size()) + " row channels (" +
                   names_of(*rows, same) + ")";
      continue;
    }
    const edac_module& module = modules[m->second.front()];
    row.location = module.location;
    row.location_numbers = module.location_numbers;
    row.size_mib = module.size_mib;
    if (module.mem_type) row.mem_type = module.mem_type;
    if (module.edac_mode) row.edac_mode = module.edac_mode;
  }
}

void read_rows(walker& w, const fs::path& mc_dir, const edac_controller& mc,
               const std::vector<numbered_entry>& rows, std::vector<edac_module>* out) {
  for (const numbered_entry& row : rows) {
    if (out->size() >= kEdacMaxModulesPerController) break;
    const std::string row_shown = mc.name + "/" + row.name;
    const fs::path row_dir = mc_dir / row.name;
    if (!w.enter(row_dir, row_shown)) continue;
    const std::optional<std::string> mem_type =
        w.word(row_dir / "mem_type", row_shown + "/mem_type");
    const std::optional<std::string> edac_mode =
        w.word(row_dir / "edac_mode", row_shown + "/edac_mode");
    for (const numbered_entry& ch : row_channels(w, row_dir, row_shown)) {
      if (out->size() >= kEdacMaxModulesPerController) break;
      edac_module m;
      const std::string shown = row_shown + "/" + ch.name;
      m.edac = shown;
      m.controller = mc.name;
      m.controller_index = mc.index;
      m.layout = edac_layout::per_row;
      m.label =
          w.label(row_dir / (ch.name + "_dimm_label"), row_shown + "/" + ch.name + "_dimm_label");
      m.location = "csrow " + std::to_string(row.number) + " channel " + std::to_string(ch.number);
      m.location_numbers = {row.number, ch.number};
      m.mem_type = mem_type;
      m.edac_mode = edac_mode;
      m.ce = w.count(row_dir / (ch.name + "_ce_count"), row_shown + "/" + ch.name + "_ce_count");
      // Most kernels have no per-channel uncorrected count: unknown, not 0.
      m.ue = w.count(row_dir / (ch.name + "_ue_count"), row_shown + "/" + ch.name + "_ue_count",
                     /*absent_noted=*/false);
      out->push_back(std::move(m));
    }
  }
}

void read_controller(walker& w, const fs::path& mc_dir, edac_controller* mc,
                     std::vector<edac_module>* modules) {
  const std::string& shown = mc->name;
  mc->mc_name = w.word(mc_dir / "mc_name", shown + "/mc_name");
  mc->ce_noinfo = w.count(mc_dir / "ce_noinfo_count", shown + "/ce_noinfo_count");
  mc->ue_noinfo = w.count(mc_dir / "ue_noinfo_count", shown + "/ue_noinfo_count");
  mc->seconds_since_reset = w.count(mc_dir / "seconds_since_reset", shown + "/seconds_since_reset");

  std::vector<numbered_entry> dimms, rows;
  std::string error;
  if (!w.list(mc_dir, {"dimm", "rank"}, &dimms, &error) ||
      !w.list(mc_dir, {"csrow"}, &rows, &error)) {
    w.note(shown + ": " + error);
    return;
  }
  // Per-rank entries are named after ranks; a kernel uses one kind only.
  std::stable_sort(dimms.begin(), dimms.end(),
                   [](const numbered_entry& a, const numbered_entry& b) {
                     return a.name.compare(0, 4, "dimm") == 0 && b.name.compare(0, 4, "rank") == 0;
                   });
  std::vector<edac_module> found;
  bool any_ce_file = false;
  for (const numbered_entry& e : dimms) {
    if (found.size() >= kEdacMaxModulesPerController) {
      w.note(shown + ": more than " + std::to_string(kEdacMaxModulesPerController) +
             " modules, the rest not read");
      break;
    }
    const fs::path dir = mc_dir / e.name;
    if (!w.enter(dir, shown + "/" + e.name)) continue;
    const edac_layout layout =
        e.name.compare(0, 4, "rank") == 0 ? edac_layout::per_rank : edac_layout::per_dimm;
    edac_module m;
    bool has_ce = false;
    read_module(w, dir, *mc, e, layout, &m, &has_ce);
    any_ce_file = any_ce_file || has_ce;
    if (layout == edac_layout::per_rank) mc->layout = edac_layout::per_rank;
    found.push_back(std::move(m));
  }
  // Kernels before per-module counts (4.10) have module directories without
  // dimm_ce_count, and the counts only in the row files.
  if (!found.empty() && !any_ce_file && !rows.empty()) {
    w.note(shown + ": no per-module counts, the per-row files used");
    mc->layout = edac_layout::per_row;
    std::vector<edac_module> row_channels;
    read_rows(w, mc_dir, *mc, rows, &row_channels);
    tie_rows_to_modules(found, &row_channels);
    found = std::move(row_channels);
  } else if (!found.empty()) {
    if (mc->layout == edac_layout::none) mc->layout = edac_layout::per_dimm;
  } else if (!rows.empty()) {
    mc->layout = edac_layout::per_row;
    read_rows(w, mc_dir, *mc, rows, &found);
  }
  for (edac_module& m : found) modules->push_back(std::move(m));
}

void read_tree(const std::string& sysfs_root, edac_report* r) {
  walker w(r);
  const fs::path edac = fs::path(sysfs_root) / "devices" / "system" / "edac";
  std::error_code ec;
  const fs::file_status st = fs::status(edac, ec);
  if (st.type() == fs::file_type::not_found) {
    r->reason = "no EDAC in this kernel";
    return;
  }
  if (ec || !fs::is_directory(st)) {
    r->reason = "the EDAC tree cannot be read: " + (ec ? ec.message() : "not a directory");
    return;
  }
  const fs::path mc_root = edac / "mc";
  const fs::file_status mst = fs::status(mc_root, ec);
  if (mst.type() == fs::file_type::not_found) {
    r->reason = "no EDAC driver loaded";
    return;
  }
  std::vector<numbered_entry> mcs;
  std::string error;
  if (ec || !fs::is_directory(mst) || !w.list(mc_root, {"mc"}, &mcs, &error)) {
    r->reason = "the EDAC tree cannot be read: " + (ec              ? ec.message()
                                                    : error.empty() ? "not a directory"
                                                                    : error);
    return;
  }
  if (mcs.empty()) {
    r->reason = "no EDAC driver loaded";
    return;
  }
  // The controllers' own parent is never one of them, nor a module.
  w.enter(mc_root, "mc");
  for (const numbered_entry& e : mcs) {
    if (r->controllers.size() >= kEdacMaxControllers) {
      w.note("more than " + std::to_string(kEdacMaxControllers) +
             " memory controllers, the rest not read");
      break;
    }
    const fs::path dir = mc_root / e.name;
    if (!w.enter(dir, e.name)) continue;
    edac_controller mc;
    mc.name = e.name;
    mc.index = e.number;
    read_controller(w, dir, &mc, &r->modules);
    r->controllers.push_back(std::move(mc));
  }
  if (r->controllers.empty()) {
    r->reason = "no EDAC memory controller could be read";
    return;
  }
  r->available = true;
}

}  // namespace

edac_report read_edac(const std::string& sysfs_root) {
  edac_report r;
  try {
    read_tree(sysfs_root, &r);
  } catch (...) {
    // Only running out of memory (or a name the platform cannot convert)
    // gets here; the report says the counts are not there.
    r.available = false;
    r.controllers.clear();
    r.modules.clear();
    r.reason = "the EDAC tree cannot be read";
  }
  return r;
}
