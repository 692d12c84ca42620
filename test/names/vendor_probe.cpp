// Reads lines of "count<TAB>type<TAB>manufacturer<TAB>part number" (the
// shape of a corpus of real modules) and writes, for each, what the detail
// decoder's own rules make of it, for scripts/vendor-coverage to add up:
//   count, placeholder (manufacturer string), placeholder (part number),
//   string's maker and source, part number's maker, chosen maker and
//   source, jedec_name
// tab-separated, "-" for none. Not a test: a measure.
#include <iostream>
#include <string>

#include "names/names.h"
#include "names/vendors.h"

namespace {

using raminfo_detail::opt;
using raminfo_detail::vendor_id;

std::string name_of(const opt<vendor_id>& v) {
  if (!v) return "-";
  return v->name.empty() ? "(unnamed)" : v->name;
}

std::string source_of(const opt<vendor_id>& v) { return v ? v->source : "-"; }

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string field[4];
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
      const size_t tab = i < 3 ? line.find('\t', at) : std::string::npos;
      field[i] = line.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
      at = tab == std::string::npos ? line.size() : tab + 1;
    }
    const std::string& maker = field[2];
    const std::string& part = field[3];
    const opt<vendor_id> s = raminfo_detail::vendor_from_string(maker);
    const opt<vendor_id> p = raminfo_detail::vendor_from_part_number(part);
    const opt<vendor_id> chosen = raminfo_detail::choose_vendor(s, std::nullopt, &part);
    std::string jedec = "-";
    if (chosen && chosen->jedec_name)
      jedec = chosen->jedec_name->empty() ? "(unnamed)" : *chosen->jedec_name;
    std::cout << field[0] << '\t' << (raminfo_detail::is_placeholder(maker) ? 1 : 0) << '\t'
              << (raminfo_detail::is_placeholder(part) ? 1 : 0) << '\t' << name_of(s) << '\t'
              << source_of(s) << '\t' << name_of(p) << '\t' << name_of(chosen) << '\t'
              << source_of(chosen) << '\t' << jedec << '\n';
  }
  return 0;
}
