// Linux: a file name is its bytes, whatever their encoding.
#include <sys/stat.h>

#include "files/file_names.h"

FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
