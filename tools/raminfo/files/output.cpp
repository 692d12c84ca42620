#include "files/output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_names.h"
#include "text/text.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string reason(int err) { return std::strerror(err != 0 ? err : EIO); }

// The directory part of path ("." when it has none).
std::string directory_of(const std::string& path) {
#if defined(_WIN32)
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.rfind('/');
#endif
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

#if defined(_WIN32)

int make_temp(const std::string& path, std::string* tmp, std::string* target, std::string*) {
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

// Where the file really is: symbolic links are followed, a dangling one
// too, so that the link stays and its target is written. False with errno
// for a loop of links.
bool follow_links(const std::string& path, std::string* target) {
  *target = path;
  // The kernel's own limit on links in a path (Linux's MAXSYMLINKS).
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(target->c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(4096, '\0');
    const ssize_t n = readlink(target->c_str(), &link[0], link.size());
    if (n < 0 || static_cast<size_t>(n) >= link.size()) return false;
    link.resize(static_cast<size_t>(n));
    *target = link[0] == '/' ? link : directory_of(*target) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

// The owner, group and permissions the replacement takes: an existing
// file's own, so that a collector reading it through its group keeps its
// access; for a new file, the usual ones for the umask, so that other users
// (a node_exporter running as its own user) can read it. False with errno
// for a device, pipe or directory, which renaming would destroy.
bool existing_file(const std::string& target, bool* exists, struct stat* st) {
  *exists = stat(target.c_str(), st) == 0;
  if (*exists && !S_ISREG(st->st_mode)) {
    errno = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return true;
}

// Creates the temporary file beside target, its name cut so that it fits
// the file system's limit on a name however long target's is.
int make_temp(const std::string& path, std::string* tmp, std::string* target,
              std::string* warning) {
  if (!follow_links(path, target)) return -1;
  bool exists = false;
  struct stat st {};
  if (!existing_file(*target, &exists, &st)) return -1;
  const size_t slash = target->rfind('/');
  const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  std::string name = target->substr(name_at);
  constexpr size_t kSuffix = 7;  // ".XXXXXX"
  if (name.size() + kSuffix > NAME_MAX) name.resize(NAME_MAX - kSuffix);
  *tmp = target->substr(0, name_at) + name + ".XXXXXX";
  const int fd = mkstemp(&(*tmp)[0]);
  if (fd < 0) {
    errno = errno != 0 ? errno : EIO;
    return -2;  // the directory refuses a new file
  }
  mode_t mode = st.st_mode & 07777;
  if (!exists) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  // Only root may give a file away; anyone else keeps going with a file of
  // their own, and is told. The new file's own owner and group (a set-group-ID
  // directory gives its group) tell whether there is anything to change.
  struct stat made {};
  const bool same_owner =
      fstat(fd, &made) == 0 && made.st_uid == st.st_uid && made.st_gid == st.st_gid;
  if (exists && !same_owner && fchown(fd, st.st_uid, st.st_gid) != 0)
    *warning = "the new file is owned by this user, not by the old one's owner and group (" +
               std::string(std::strerror(errno)) + ")";
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

bool write_file_atomically(const std::string& path, const std::string& text, std::string* error,
                           std::string* warning) {
  std::string tmp, target, note;
  errno = 0;
  const int fd = make_temp(path, &tmp, &target, &note);
  if (fd == -2) {
    // The file is fine; its directory takes no new file (read-only, missing).
    *error = "cannot write " + path + ": cannot create a file in " + directory_of(target) + ": " +
             reason(errno);
    return false;
  }
  if (fd < 0) {
    // EINVAL: a device or pipe in FILE's place, which a rename would destroy.
    *error = "cannot write " + path + ": " +
             (errno == EINVAL ? std::string("not a regular file, so it is not replaced")
                              : reason(errno));
    return false;
  }
  if (warning != nullptr) *warning = note;
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

void say(const std::string& line) {
  const std::string shown = "raminfo: " + printable_text(line) + "\n";
  std::fwrite(shown.data(), 1, shown.size(), stderr);
}
