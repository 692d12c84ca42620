#include "edac/edac_labels.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <system_error>

#include "edac/notes.h"
#include "files/input.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && is_space(s[b])) ++b;
  while (e > b && is_space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A label as a note may show it: control bytes would reach the terminal.
std::string printable(const std::string& s) { return controls_as_question_marks(s); }

// "Vendor:", "model:"... at the start of a trimmed line: the value after it.
bool keyword(const std::string& line, const char* key, std::string* value) {
  size_t i = 0;
  for (; key[i] != '\0'; ++i) {
    if (i >= line.size() || fold(line[i]) != key[i]) return false;
  }
  // Spaces may stand before the colon.
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i >= line.size() || line[i] != ':') return false;
  *value = trim(line.substr(i + 1));
  return true;
}

// "0.2.1" into its numbers; false unless 2 to 4 plain decimals.
bool parse_position(const std::string& text, std::vector<unsigned>* out) {
  std::vector<unsigned> numbers;
  size_t i = 0;
  while (true) {
    const size_t dot = text.find('.', i);
    const std::string part = text.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return false;
    numbers.push_back(n);
    if (numbers.size() > kDimmLabelMaxNumbers) return false;
    if (dot == std::string::npos) break;
    i = dot + 1;
  }
  if (numbers.size() < kDimmLabelMinNumbers) return false;
  *out = std::move(numbers);
  return true;
}

void add_note(dimm_label_db* db, std::string note) {
  add_bounded_note(&db->notes, &db->notes_dropped, kDimmLabelMaxNotes, std::move(note));
}

// Whether a database name (or one of its comma-separated parts) is the
// machine's name.
bool names(const std::string& listed, const std::string& folded_machine) {
  if (folded_machine.empty()) return false;
  if (fold_name(listed) == folded_machine) return true;
  size_t i = 0;
  while (i <= listed.size()) {
    const size_t comma = listed.find(',', i);
    const std::string part =
        listed.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
    if (fold_name(part) == folded_machine) return true;
    if (comma == std::string::npos) break;
    i = comma + 1;
  }
  return false;
}

bool any_names(const std::vector<std::string>& listed, const std::string& folded_machine) {
  for (const std::string& l : listed) {
    if (names(l, folded_machine)) return true;
  }
  return false;
}

std::string position_text(const std::vector<unsigned>& p) {
  std::string s;
  for (size_t i = 0; i < p.size(); ++i) s += (i ? "." : "") + std::to_string(p[i]);
  return s;
}

}  // namespace

std::string fold_name(const std::string& s) {
  // A bank locator that ends in a space gives the kernel's label two spaces
  // between bank and device; a run of white space is one space.
  std::string t;
  t.reserve(s.size());
  bool space = false;
  for (char c : s) {
    if (is_space(c)) {
      space = !t.empty();
      continue;
    }
    if (space) t += ' ';
    space = false;
    t += fold(c);
  }
  return t;
}

void parse_dimm_labels(const std::string& text, const std::string& source, dimm_label_db* db) {
  // The group entries go to: none until a Vendor: and a Model:/Product: line.
  bool have_vendor = false;
  std::string vendor;
  dimm_label_group* group = nullptr;
  size_t line_no = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++line_no;
    const std::string where = source + ":" + std::to_string(line_no);
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;

    std::string value;
    if (keyword(line, "vendor", &value)) {
      have_vendor = !value.empty();
      vendor = value;
      group = nullptr;
      if (!have_vendor) add_note(db, where + ": Vendor: without a name");
      continue;
    }
    const bool model = keyword(line, "model", &value) || keyword(line, "board", &value);
    const bool product = !model && keyword(line, "product", &value);
    if (model || product) {
      if (!have_vendor) {
        add_note(db, where + ": a machine named before any Vendor: line");
        group = nullptr;
        continue;
      }
      if (value.empty()) {
        add_note(db, where + ": Model: or Product: without a name");
        continue;
      }
      // Machine lines in a row name one group; after entries they open the next.
      if (group == nullptr || !group->entries.empty()) {
        db->groups.push_back({});
        group = &db->groups.back();
        group->vendor = vendor;
      }
      (model ? group->models : group->products).push_back(value);
      continue;
    }

    // Entries: "LABEL: POSITION[, POSITION]" separated by ';'.
    size_t start = 0;
    while (start <= line.size()) {
      size_t semi = line.find(';', start);
      if (semi == std::string::npos) semi = line.size();
      const std::string stmt = trim(line.substr(start, semi - start));
      start = semi + 1;
      if (stmt.empty()) continue;
      if (group == nullptr) {
        add_note(db, where + ": a label before any Vendor: and Model: lines");
        break;
      }
      // A label may hold a colon; a position never does.
      const size_t colon = stmt.rfind(':');
      const std::string label = colon == std::string::npos ? "" : trim(stmt.substr(0, colon));
      if (colon == std::string::npos || label.empty()) {
        add_note(db, where + ": not LABEL: mc.top.mid[.low]");
        continue;
      }
      const std::string positions = stmt.substr(colon + 1);
      if (trim(positions).empty()) {
        add_note(db, where + ": label \"" + printable(label) + "\" without a position");
        continue;
      }
      size_t p = 0;
      while (p <= positions.size()) {
        size_t comma = positions.find(',', p);
        if (comma == std::string::npos) comma = positions.size();
        const std::string one = trim(positions.substr(p, comma - p));
        p = comma + 1;
        std::vector<unsigned> numbers;
        if (!parse_position(one, &numbers)) {
          add_note(db,
                   where + ": label \"" + printable(label) + "\": position not mc.top.mid[.low]");
          continue;
        }
        group->entries.push_back({label, std::move(numbers), where});
      }
    }
  }
}

bool load_dimm_labels_file(const std::string& path, dimm_label_db* db, std::string* error) {
  std::string text;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  // Only a regular file: a FIFO would block the open.
  if (!ec && fs::exists(st) && !fs::is_regular_file(st)) {
    *error = path + ": " + (fs::is_directory(st) ? "a directory" : "not a regular file");
    return false;
  }
  if (!read_bounded_file(path, kDimmLabelFileLimit, &text, error)) return false;
  parse_dimm_labels(text, path, db);
  return true;
}

void load_default_dimm_labels(const std::string& root, dimm_label_db* db) {
  const std::string base = root + "/etc/ras";
  std::vector<std::string> files;
  files.push_back(base + "/dimm_labels.db");
  std::error_code ec;
  const std::string dir = base + "/dimm_labels.d";
  std::vector<std::string> listed;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (listed.size() >= kDimmLabelMaxFiles) {
      add_note(db, dir + ": more than " + std::to_string(kDimmLabelMaxFiles) +
                       " files, the rest not read");
      break;
    }
    listed.push_back(it->path().string());
  }
  if (ec && ec != std::errc::no_such_file_or_directory) add_note(db, dir + ": " + ec.message());
  std::sort(listed.begin(), listed.end());
  files.insert(files.end(), listed.begin(), listed.end());
  for (const std::string& f : files) {
    const fs::file_status st = fs::status(f, ec);
    if (st.type() == fs::file_type::not_found) continue;
    if (!ec && !fs::is_regular_file(st)) {
      // A subdirectory or anything but a file is not a database.
      if (!fs::is_directory(st)) add_note(db, f + ": not a regular file");
      continue;
    }
    std::string error;
    if (!load_dimm_labels_file(f, db, &error)) add_note(db, error);
  }
}

std::vector<dimm_label_entry> select_dimm_labels(const dimm_label_db& db,
                                                 const machine_identity& machine,
                                                 std::vector<std::string>* notes) {
  const std::string bv = fold_name(machine.board_vendor);
  const std::string bp = fold_name(machine.board_product);
  const std::string sv = fold_name(machine.system_vendor);
  const std::string sp = fold_name(machine.system_product);
  std::vector<dimm_label_entry> chosen;
  for (const dimm_label_group& g : db.groups) {
    const std::string v = fold_name(g.vendor);
    if (g.models.empty() && g.products.empty()) continue;
    const bool board_ok = g.models.empty() || (v == bv && !bv.empty() && any_names(g.models, bp));
    const bool system_ok =
        g.products.empty() || ((v == sv || v == bv) && !v.empty() && any_names(g.products, sp));
    if (board_ok && system_ok) {
      chosen.insert(chosen.end(), g.entries.begin(), g.entries.end());
    }
  }
  // One label per position: two different ones leave the position unlabelled.
  std::map<std::vector<unsigned>, std::vector<size_t>> by_position;
  for (size_t i = 0; i < chosen.size(); ++i) by_position[chosen[i].position].push_back(i);
  std::vector<bool> dropped(chosen.size(), false);
  for (const auto& [position, indices] : by_position) {
    bool differ = false;
    for (size_t i : indices) {
      differ = differ || fold_name(chosen[i].label) != fold_name(chosen[indices[0]].label);
    }
    if (!differ) {
      // The same label twice is one entry.
      for (size_t k = 1; k < indices.size(); ++k) dropped[indices[k]] = true;
      continue;
    }
    std::string note = "label database: position " + position_text(position) + " has labels";
    for (size_t i : indices) {
      note += " \"" + printable(chosen[i].label) + "\" (" + chosen[i].origin + ")";
      dropped[i] = true;
    }
    if (notes != nullptr) notes->push_back(note + "; none used");
  }
  std::vector<dimm_label_entry> out;
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (!dropped[i]) out.push_back(chosen[i]);
  }
  return out;
}
