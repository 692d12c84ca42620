#include "output/output.h"

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

int make_temp(const std::string& path, std::string* tmp, std::string* target, std::string*,
              std::string*) {
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

// Windows has no sticky directories.
std::string sticky_refusal(const std::string&, int) { return ""; }

#else

// Whether the link whose lstat is st, in directory dir, may be followed by
// this process under the kernel's protected_symlinks rule (Linux's
// Documentation/admin-guide/sysctl/fs.rst): in a sticky, world-writable
// directory such as /tmp, only a link that belongs to the follower or to the
// directory's owner. The links are resolved here, not by the kernel's path
// walk, so the rule is applied here too; else another user's link would send
// root's replacement onto a file of that user's choosing.
bool may_follow(const struct stat& link, const std::string& dir) {
  struct stat d;
  if (stat(dir.c_str(), &d) != 0) return true;
  const bool shared = (d.st_mode & S_ISVTX) != 0 && (d.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == d.st_uid;
}

// Where the file really is: symbolic links are followed, a dangling one
// too, so that the link stays and its target is written. False with errno
// for a loop of links; false with *refused set to the link for one that
// may_follow refuses.
bool follow_links(const std::string& path, std::string* target, std::string* refused) {
  *target = path;
  // The kernel's own limit on links in a path (Linux's MAXSYMLINKS).
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(target->c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (!may_follow(st, directory_of(*target))) {
      *refused = "a symbolic link of user " + std::to_string(st.st_uid) +
                 " in the sticky, world-writable directory " + directory_of(*target) +
                 ", not followed: only this user's links and the directory owner's are";
      errno = EACCES;
      return false;
    }
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
// the file system's limit on a name however long target's is. -3 with
// *refused set for a link that is not followed.
int make_temp(const std::string& path, std::string* tmp, std::string* target, std::string* warning,
              std::string* refused) {
  if (!follow_links(path, target, refused)) return refused->empty() ? -1 : -3;
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

// Why a rename over target failed with err, when the reason is the sticky
// bit: in a sticky directory only the file's owner, the directory's owner or
// root may replace a file (Linux's rename(2), EPERM). "" for any other cause.
std::string sticky_refusal(const std::string& target, int err) {
  if (err != EPERM && err != EACCES) return "";
  struct stat d, f;
  const std::string dir = directory_of(target);
  if (stat(dir.c_str(), &d) != 0 || (d.st_mode & S_ISVTX) == 0 || lstat(target.c_str(), &f) != 0 ||
      f.st_uid == geteuid() || d.st_uid == geteuid())
    return "";
  return "it belongs to user " + std::to_string(f.st_uid) + ", and in the sticky directory " + dir +
         " only a file's owner, the directory's owner or root may replace it";
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
  std::string tmp, target, note, refused;
  errno = 0;
  const int fd = make_temp(path, &tmp, &target, &note, &refused);
  if (fd == -3) {
    *error = "cannot write " + path + ": " + target + " is " + refused;
    return false;
  }
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
  errno = 0;
  bool ok = write_all(fd, text);
  int err = errno;
  if (!close_fd(fd) && ok) ok = false, err = errno;
  const bool written = ok;
  if (ok && !replace(tmp, target)) ok = false, err = errno;
  // The note on the new file's owner is news only when there is a new file.
  if (ok) {
    if (warning != nullptr) *warning = note;
    return true;
  }
  remove_file(tmp);
  const std::string sticky = written ? sticky_refusal(target, err) : "";
  *error = "cannot write " + path + ": " + (sticky.empty() ? reason(err) : sticky);
  return false;
}

void say(const std::string& line) {
  const std::string shown = "raminfo: " + printable_text(line) + "\n";
  std::fwrite(shown.data(), 1, shown.size(), stderr);
}
