#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file_names.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string reason(int err) { return std::strerror(err != 0 ? err : EIO); }

#if defined(_WIN32)

int make_temp(const std::string& path, std::string* tmp, std::string* target) {
  *target = path;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tmp = path + ".tmp" + std::to_string(_getpid()) + "-" + std::to_string(attempt);
    const int fd = _wopen(wide_name(*tmp).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const size_t chunk = text.size() - done < 1u << 30 ? text.size() - done : 1u << 30;
    const int n = _write(fd, text.data() + done, static_cast<unsigned>(chunk));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return _commit(fd) == 0;
}

bool close_fd(int fd) { return _close(fd) == 0; }
void remove_file(const std::string& p) { _wunlink(wide_name(p).c_str()); }

bool replace(const std::string& from, const std::string& to) {
  if (MoveFileExW(wide_name(from).c_str(), wide_name(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // Also what a directory in FILE's place gives.
      errno = EACCES;
      break;
    default: errno = EIO;
  }
  return false;
}

#else

// Where the file really is: a symbolic link is followed, so that the link
// stays and its target is replaced. False with errno for a device, pipe or
// directory, which renaming would destroy.
bool target_of(const std::string& path, std::string* target, mode_t* mode) {
  char* real = realpath(path.c_str(), nullptr);
  *target = real != nullptr ? real : path;
  std::free(real);
  struct stat st;
  if (stat(target->c_str(), &st) != 0) {
    // A new file: the usual permissions, for other readers too (a
    // node_exporter running as its own user).
    const mode_t mask = umask(0);
    umask(mask);
    *mode = 0666 & ~mask;
    return true;
  }
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  *mode = st.st_mode & 07777;  // the file keeps its permissions
  return true;
}

int make_temp(const std::string& path, std::string* tmp, std::string* target) {
  mode_t mode = 0;
  if (!target_of(path, target, &mode)) return -1;
  *tmp = *target + ".XXXXXX";
  const int fd = mkstemp(&(*tmp)[0]);
  if (fd < 0) return fd;
  if (fchmod(fd, mode) != 0) {
    const int err = errno;
    close(fd);
    unlink(tmp->c_str());
    errno = err;
    return -1;
  }
  return fd;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fsync(fd) == 0;
}

bool close_fd(int fd) { return close(fd) == 0; }
void remove_file(const std::string& p) { unlink(p.c_str()); }
bool replace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

}  // namespace

bool write_stdout(const std::string& text, std::string* error) {
  errno = 0;
  const size_t n = std::fwrite(text.data(), 1, text.size(), stdout);
  const bool flushed = n == text.size() && std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int err = errno;
  // Closing reports what the last flush may have hidden (NFS, some pipes).
  const bool closed = std::fclose(stdout) == 0;
  if (flushed && closed) return true;
  *error = "cannot write to stdout: " + reason(flushed ? errno : err);
  return false;
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string* error) {
  std::string tmp, target;
  errno = 0;
  const int fd = make_temp(path, &tmp, &target);
  if (fd < 0) {
    // EINVAL: a device or pipe in FILE's place, which a rename would destroy.
    *error = "cannot write " + path + ": " +
             (errno == EINVAL ? std::string("not a regular file, so it is not replaced")
                              : reason(errno));
    return false;
  }
  errno = 0;
  bool ok = write_all(fd, text);
  int err = errno;
  if (!close_fd(fd) && ok) ok = false, err = errno;
  if (ok && !replace(tmp, target)) ok = false, err = errno;
  if (ok) return true;
  remove_file(tmp);
  *error = "cannot write " + path + ": " + reason(err);
  return false;
}
