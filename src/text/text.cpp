#include "text/text.h"

#include <algorithm>
#include <cstdio>

namespace {

// C0 controls, DEL and the C1 controls steer a terminal (U+009B is CSI) or
// break a line; the bidirectional controls make a terminal show the text
// after them in another order than the bytes give it.
bool shown_as_question_mark(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

// Terminal columns of a code point: 2 for East Asian wide and fullwidth
// characters (Unicode UAX #11), 0 for combining marks, 1 otherwise.
size_t code_point_width(uint32_t cp) {
  // Below the first combining mark every code point takes one column; most
  // text from a table is there.
  if (cp < 0x0300) return 1;
  struct range {
    uint32_t first, last;
  };
  static const range kCombining[] = {
      {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
      {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
  };
  static const range kWide[] = {
      {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},
      {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
      {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
      {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
      {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
  };
  for (const range& r : kCombining)
    if (cp >= r.first && cp <= r.last) return 0;
  for (const range& r : kWide)
    if (cp >= r.first && cp <= r.last) return 2;
  return 1;
}

}  // namespace

size_t utf8_sequence(const std::string& s, size_t i, uint32_t* cp) {
  return utf8_sequence(s.data(), s.size(), i, cp);
}

size_t utf8_sequence(const char* s, size_t size, size_t i, uint32_t* cp) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF)
    n = 2, *cp = c & 0x1Fu;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, *cp = c & 0x0Fu;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, *cp = c & 0x07u;
  else
    return 0;
  if (n > size - i) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    *cp = *cp << 6 | (d & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && *cp < 0x800) || (n == 4 && (*cp < 0x10000 || *cp > 0x10FFFF)) ||
      (*cp >= 0xD800 && *cp <= 0xDFFF))
    return 0;
  return n;
}

std::string printable_text(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    // ASCII, nearly all a table holds, is shown as itself but for
    // controls: a run of it is copied at once.
    size_t j = i;
    while (j < raw.size() && raw[j] >= 0x20 && raw[j] < 0x7F) ++j;
    if (j > i) {
      out.append(raw, i, j - i);
      i = j;
      continue;
    }
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c < 0x80) {
      out += '?';
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t n = utf8_sequence(raw, i, &cp);
    if (n == 0 || shown_as_question_mark(cp)) {
      out += '?';
      i += n == 0 ? 1 : n;
    } else {
      out.append(raw, i, n);
      i += n;
    }
  }
  return out;
}

std::string controls_as_question_marks(const std::string& raw) {
  std::string out = raw;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

size_t display_width(const std::string& text) {
  size_t w = 0;
  for (size_t i = 0; i < text.size();) {
    // An ASCII byte takes one column: every cell of a table is measured.
    uint32_t cp = 0;
    const size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 0 : utf8_sequence(text, i, &cp);
    if (n == 0) {
      ++w, ++i;
      continue;
    }
    w += code_point_width(cp);
    i += n;
  }
  return w;
}

uint64_t size_unit(uint64_t bytes, uint64_t largest) {
  for (uint64_t unit = largest; unit >= kKiB; unit >>= 10)
    if (bytes >= unit) return unit;
  return 1;
}

std::string size_in_unit(uint64_t bytes, uint64_t unit, const char* bytes_name) {
  const char* name = unit == kTiB   ? "TiB"
                     : unit == kGiB ? "GiB"
                     : unit == kMiB ? "MiB"
                     : unit == kKiB ? "KiB"
                                    : bytes_name;
  if (bytes % unit == 0) return std::to_string(bytes / unit) + " " + name;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.1f %s", static_cast<double>(bytes) / static_cast<double>(unit),
                name);
  return buf;
}

std::string size_text(uint64_t bytes, uint64_t largest, const char* bytes_name) {
  return size_in_unit(bytes, size_unit(bytes, largest), bytes_name);
}

std::string aligned_rows(const std::vector<std::vector<std::string>>& rows) {
  // Each cell measured once, and the text written into one string.
  std::vector<std::vector<size_t>> cell_widths(rows.size());
  std::vector<size_t> widths;
  size_t bytes = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    cell_widths[r].resize(row.size());
    for (size_t c = 0; c < row.size(); ++c) {
      cell_widths[r][c] = display_width(row[c]);
      widths[c] = std::max(widths[c], cell_widths[r][c]);
      bytes += row[c].size();
    }
  }
  std::string out;
  out.reserve(bytes + rows.size() * (2 * widths.size() + 1));
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    const size_t line_start = out.size();
    for (size_t c = 0; c < row.size(); ++c) {
      out += row[c];
      out.append(widths[c] - cell_widths[r][c] + 2, ' ');
    }
    while (out.size() > line_start && out.back() == ' ') out.pop_back();
    out += '\n';
  }
  return out;
}
