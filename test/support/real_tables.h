// The real tables gathered for the tests (cmake/real-tables.cmake): those in
// test/data/real-tables, and the GPL- and LGPL-sourced ones from
// ../shared/smbios-dumps when that folder is there. A case that needs one of
// the latter says so when it is absent; a table of the repository is never
// absent, so a case that misses one fails instead.
#ifndef RAMINFO_TEST_REAL_TABLES_H
#define RAMINFO_TEST_REAL_TABLES_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline const std::filesystem::path kRealTablesDir = RAMINFO_DUMPS_DIR;

// The names that cmake/real-tables.cmake found missing, one a line.
inline std::vector<std::string> absent_real_tables() {
  std::ifstream in(kRealTablesDir / "absent.txt");
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

inline bool real_table_absent(const std::string& name) {
  const std::vector<std::string> absent = absent_real_tables();
  return std::find(absent.begin(), absent.end(), name) != absent.end();
}

inline std::string absent_real_table_note(const std::string& name) {
  return name +
         " is absent: its source is GPL or LGPL, so it is kept outside the repository, in "
         "../shared/smbios-dumps, and that folder is not beside the project";
}

#define SKIP_IF_REAL_TABLE_ABSENT(name) \
  if (real_table_absent(name)) GTEST_SKIP() << absent_real_table_note(name)

#endif
