// Windows: names cross into the system as UTF-16 through the wide calls.
//
// Wide calls rather than the UTF-8 active code page of an application
// manifest: the manifest takes effect only from Windows 10 version 1903 and
// is silently ignored before that (Windows Server 2016 among them), where
// such names would still turn into '?'. The wide calls name every file the
// same way on every Windows version, and Wine, which runs the tests.
#include <windows.h>

#include <cerrno>
#include <cwchar>

#include "files/file_names.h"

namespace {

std::string utf8_name(const wchar_t* name) {
  const int wide_len = static_cast<int>(wcslen(name));
  if (wide_len == 0) return {};
  // An unpaired surrogate, which only a name made by a program can hold,
  // becomes U+FFFD: no such file is found, and the error names it.
  const int n = WideCharToMultiByte(CP_UTF8, 0, name, wide_len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, wide_len, &out[0], n, nullptr, nullptr);
  return out;
}

// An open handle on path for reading its identity only: no access to the
// content, and directories too.
HANDLE identity_handle(const std::string& path) {
  return CreateFileW(wide_name(path).c_str(), 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::wstring wide_name(const std::string& path) {
  if (path.empty()) return {};
  const int size = static_cast<int>(path.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, &out[0], n);
  return out;
}

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8_name(argv[i]));
  return args;
}

FILE* open_file(const std::string& path, const char* mode) {
  const std::wstring name = wide_name(path);
  if (name.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return _wfopen(name.c_str(), wide_name(mode).c_str());
}

bool is_directory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide_name(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The volume and the file index name one file, whatever path leads to it.
bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  const HANDLE ha = identity_handle(a);
  if (ha == INVALID_HANDLE_VALUE) return false;
  const bool got_a = GetFileInformationByHandle(ha, &ia) != 0;
  CloseHandle(ha);
  const HANDLE hb = identity_handle(b);
  if (hb == INVALID_HANDLE_VALUE) return false;
  const bool got_b = GetFileInformationByHandle(hb, &ib) != 0;
  CloseHandle(hb);
  return got_a && got_b && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}
