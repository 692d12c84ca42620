#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/linux/sysfs.h"
#include "platform/os.h"
#include "smbios/block.h"

namespace {

// Why the last sysfs_raw_smbios call gave no block, or a block of another
// size than the buffer offered, in words a Linux user can act on; empty
// otherwise. The loader shows it instead of the GetSystemFirmwareTable texts,
// which would send a Linux user looking for a Windows call.
char g_failure[256];

void set_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));
void set_failure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(g_failure, sizeof g_failure, format, args);
  va_end(args);
}

// What an errno of opening or reading the table means to the user.
void set_errno_failure(const char* path, int err) {
  if (err == ENOENT)
    set_failure("%s does not exist: this machine exposes no SMBIOS table", path);
  else if ((err == EACCES || err == EPERM) && geteuid() != 0)
    set_failure("%s is readable by root only", path);
  else
    set_failure("%s: %s", path, std::strerror(err));
}

// Reads up to size bytes of path into buf; returns the count, or -1.
long read_file(const char* path, uint8_t* buf, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t got = 0;
  while (got < size) {
    const ssize_t r = read(fd, buf + got, size - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int err = errno;
      close(fd);
      errno = err;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  return static_cast<long>(got);
}

// Length of the file at path, found by reading it through: sysfs does not
// always report a size. -1 when it cannot be read or exceeds limit.
long file_length(const char* path, uint64_t limit) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  uint8_t chunk[4096];
  uint64_t total = 0;
  for (;;) {
    const ssize_t r = read(fd, chunk, sizeof chunk);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || total + static_cast<uint64_t>(r) > limit) {
      const int err = r < 0 ? errno : EFBIG;
      close(fd);
      errno = err;
      return r == 0 ? static_cast<long>(total) : -1;
    }
    total += static_cast<uint64_t>(r);
  }
}

// SMBIOS major, minor and DMI revision from the entry point (DMTF DSP0134
// sections 5.2.1 and 5.2.2); zeros when it cannot be read or is unknown.
void entry_point_version(const char* dir, uint8_t* out) {
  out[0] = out[1] = out[2] = 0;
  char path[4096];
  if (std::snprintf(path, sizeof path, "%s/smbios_entry_point", dir) >=
      static_cast<int>(sizeof path))
    return;
  uint8_t ep[32] = {};
  const long n = read_file(path, ep, sizeof ep);
  if (n >= 0x0A && std::memcmp(ep, "_SM3_", 5) == 0) {
    out[0] = ep[7];
    out[1] = ep[8];
    out[2] = ep[9];
  } else if (n >= 0x1F && std::memcmp(ep, "_SM_", 4) == 0) {
    out[0] = ep[6];
    out[1] = ep[7];
    out[2] = ep[0x1E];
  }
}

}  // namespace

uint32_t sysfs_raw_smbios(const char* dir, void* buf, uint32_t size) {
  g_failure[0] = '\0';
  char path[4096];
  if (std::snprintf(path, sizeof path, "%s/DMI", dir) >= static_cast<int>(sizeof path)) {
    set_failure("the SMBIOS table's path is too long");
    return 0;
  }
  const long length = file_length(path, UINT32_MAX - RAW_HEADER_SIZE);
  if (length < 0) {
    set_errno_failure(path, errno);
    return 0;
  }
  // Every structure starts with a 4-byte header (DMTF DSP0134 6.1.2): a
  // shorter table has none to give, which is the firmware's fault, not a
  // machine without memory.
  if (length == 0) {
    set_failure("%s is empty: the firmware gave an SMBIOS table without structures", path);
    return 0;
  }
  if (length < 4) {
    set_failure("%s is too short: %ld bytes, fewer than one SMBIOS structure header", path, length);
    return 0;
  }
  const uint32_t need = RAW_HEADER_SIZE + static_cast<uint32_t>(length);
  if (buf == nullptr) return need;
  if (size < need) {
    set_failure("%s changed while it was read", path);
    return need;
  }

  auto* out = static_cast<uint8_t*>(buf);
  uint8_t version[3];
  entry_point_version(dir, version);
  // Read as much as the caller offered: a table that grew since the size
  // query then shows up as a count other than the one announced.
  const long got = read_file(path, out + RAW_HEADER_SIZE, size - RAW_HEADER_SIZE);
  if (got < 0) {
    set_errno_failure(path, errno);
    return 0;
  }
  const auto len = static_cast<uint32_t>(got);
  if (RAW_HEADER_SIZE + len != size) set_failure("%s changed while it was read", path);
  put_raw_header(out, version[0], version[1], version[2], len);
  return RAW_HEADER_SIZE + len;
}

const char* sysfs_failure() { return g_failure; }

uint32_t os_raw_smbios(void* buf, uint32_t size) {
  return sysfs_raw_smbios("/sys/firmware/dmi/tables", buf, size);
}

const char* os_raw_smbios_failure() { return g_failure; }

bool os_total_memory(uint64_t* bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return false;
  *bytes = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  return true;
}
