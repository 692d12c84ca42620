#include "files/input.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "files/file_names.h"

namespace {

std::string limit_text(size_t limit) {
  if (limit >= (1u << 20) && limit % (1u << 20) == 0) return std::to_string(limit >> 20) + " MiB";
  return std::to_string(limit) + " bytes";
}

// Opens path for reading; with regular_only, refuses (EINVAL) anything but a
// regular file before a read could block on it, and with regular_not_linked
// also a symbolic link at path (ELOOP), which is never opened.
FILE* open_input(const std::string& path, file_kind kind) {
  if (path == "-" && kind == file_kind::any) {
#if defined(_WIN32)
    // A saved table is bytes: no CR LF translation, no end at a ^Z.
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
  }
  if (kind == file_kind::any) return open_file(path, "rb");
#if defined(_WIN32)
  // Windows has no FIFOs in its file system, so a device name is refused
  // here; nor O_NOFOLLOW, but it reads no tree whose links could matter.
  struct _stat64 st;
  if (_wstat64(wide_name(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  return open_file(path, "rb");
#else
  // Opening a FIFO for reading waits for a writer unless O_NONBLOCK is given.
  const int no_link = kind == file_kind::regular_not_linked ? O_NOFOLLOW : 0;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | no_link);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  FILE* f = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
#endif
}

// Both kinds of byte vector are read here, in one way.
template <typename Bytes>
bool read_bounded_bytes(const std::string& path, size_t limit, Bytes* out, std::string* error,
                        size_t spare, file_kind kind) {
  out->clear();
  const std::string too_large = "larger than the limit of " + limit_text(limit);
  errno = 0;
  FILE* f = open_input(path, kind);
  if (f == nullptr && errno == EINVAL && kind != file_kind::any) {
    *error = "not a regular file, so it is not read";
    return false;
  }
#if !defined(_WIN32)
  // O_NOFOLLOW's ELOOP; a loop in the directories on the way says so itself.
  struct stat link;
  if (f == nullptr && errno == ELOOP && kind == file_kind::regular_not_linked &&
      lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    *error = "a symbolic link, so it is not read";
    return false;
  }
#endif
  if (f == nullptr) {
    const int open_errno = errno;
    // Windows refuses to open a directory with "Permission denied"; say what
    // it really is.
    *error = std::strerror(is_directory(path) ? EISDIR : open_errno);
    return false;
  }
  struct stat st;
  size_t expected = 0;
  if (fstat(fileno(f), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      std::fclose(f);
      *error = std::strerror(EISDIR);
      return false;
    }
    // A regular file's size is known: a huge (or sparse) one is refused unread.
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
      std::fclose(f);
      *error = too_large;
      return false;
    }
    if (S_ISREG(st.st_mode)) expected = static_cast<size_t>(st.st_size);
  }
  // One byte past the expected size shows a file that grew. A pipe or device
  // has no size: the limit is reserved (address space only, touched as it
  // fills) so that growing never copies.
  out->reserve((expected > 0 ? expected : limit) + 1 + spare);
  size_t got = 0;
  errno = 0;
  while (got <= limit) {
    if (got == out->size()) {
      const size_t grown = out->empty() ? (expected > 0 ? expected + 1 : 65536) : out->size() * 2;
      out->resize(grown < limit + 1 ? grown : limit + 1);
    }
    const size_t n = std::fread(out->data() + got, 1, out->size() - got, f);
    if (n == 0) break;
    got += n;
  }
  const int read_errno = errno;
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  out->resize(got);
  if (failed) {
    *error = std::strerror(read_errno != 0 ? read_errno : EIO);
    return false;
  }
  if (got > limit) {
    *error = too_large;
    return false;
  }
  out->reserve(got + spare);
  return true;
}

}  // namespace

bool read_bounded_file(const std::string& path, size_t limit, std::vector<uint8_t>* out,
                       std::string* error, size_t spare, file_kind kind) {
  return read_bounded_bytes(path, limit, out, error, spare, kind);
}

bool read_bounded_file(const std::string& path, size_t limit, byte_buffer* out, std::string* error,
                       size_t spare, file_kind kind) {
  return read_bounded_bytes(path, limit, out, error, spare, kind);
}

bool read_bounded_file(const std::string& path, size_t limit, std::string* out, std::string* error,
                       file_kind kind) {
  std::vector<uint8_t> bytes;
  const bool ok = read_bounded_file(path, limit, &bytes, error, 0, kind);
  if (!ok) *error = path + ": " + *error;
  out->assign(bytes.begin(), bytes.end());
  return ok;
}
