// The one way the project reads a file (sysfs attributes, label files, saved
// tables): whole, and never more than a limit.
#ifndef RAMINFO_FILES_INPUT_H
#define RAMINFO_FILES_INPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

// Whether a file that is not a regular one (a pipe, a device, a socket) may
// be read: a saved table may come through a pipe, but a FIFO where a regular
// file belongs would block the reader until someone writes to it. An
// attribute of a tree someone else may have made (a --sysfs-root) is read
// only when its name is the file itself: a symbolic link there would show
// whatever file it names (/etc/shadow, read as root) as the attribute.
enum class file_kind { any, regular_only, regular_not_linked };

// An allocator whose elements are left as they are when a vector grows: a
// buffer that a read fills at once need not be zeroed first (a 300 KB
// baseline cost as many instructions in the zeroing as in the reading).
template <typename T>
struct uninitialized_allocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = uninitialized_allocator<U>;
  };
  uninitialized_allocator() = default;
  template <typename U>
  uninitialized_allocator(const uninitialized_allocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Bytes read whole from a file, not zeroed before the read.
using byte_buffer = std::vector<uint8_t, uninitialized_allocator<uint8_t>>;

// Reads the whole of path into out, at most limit bytes and never more than
// one byte past it. A regular file larger than the limit is refused unread.
// spare bytes of capacity are left after the content, so that a caller can
// add a header without moving the bytes. False with the reason (without the
// path) when the file cannot be opened, is a directory, cannot be read or is
// larger than the limit. With regular_only, the file is opened without
// waiting for a writer, and anything but a regular file is refused unread;
// regular_not_linked also refuses a symbolic link at path (directories on
// the way may be links); otherwise a path of "-" reads stdin.
bool read_bounded_file(const std::string& path, size_t limit, std::vector<uint8_t>* out,
                       std::string* error, size_t spare = 0, file_kind kind = file_kind::any);
// The same into a buffer that is not zeroed before the read.
bool read_bounded_file(const std::string& path, size_t limit, byte_buffer* out, std::string* error,
                       size_t spare = 0, file_kind kind = file_kind::any);

// The same for text; the reason starts with the path.
bool read_bounded_file(const std::string& path, size_t limit, std::string* out, std::string* error,
                       file_kind kind = file_kind::any);

#endif
