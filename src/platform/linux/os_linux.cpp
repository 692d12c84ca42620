#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/sysfs.h"
#include "platform/os.h"
#include "smbios/bytes.h"

namespace {

// Reads up to size bytes of path into buf; returns the count, or -1.
long read_file(const char* path, uint8_t* buf, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t got = 0;
  while (got < size) {
    const ssize_t r = read(fd, buf + got, size - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      close(fd);
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
      close(fd);
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
  char path[4096];
  if (std::snprintf(path, sizeof path, "%s/DMI", dir) >= static_cast<int>(sizeof path)) return 0;
  const long length = file_length(path, UINT32_MAX - RAW_HEADER_SIZE);
  if (length < 0) return 0;
  const uint32_t need = RAW_HEADER_SIZE + static_cast<uint32_t>(length);
  if (buf == nullptr || size < need) return need;

  auto* out = static_cast<uint8_t*>(buf);
  out[0] = 0;  // calling method: none on Linux
  entry_point_version(dir, out + 1);
  // Read as much as the caller offered: a table that grew since the size
  // query then shows up as a count other than the one announced.
  const long got = read_file(path, out + RAW_HEADER_SIZE, size - RAW_HEADER_SIZE);
  if (got < 0) return 0;
  const auto len = static_cast<uint32_t>(got);
  out[4] = static_cast<uint8_t>(len);
  out[5] = static_cast<uint8_t>(len >> 8);
  out[6] = static_cast<uint8_t>(len >> 16);
  out[7] = static_cast<uint8_t>(len >> 24);
  return RAW_HEADER_SIZE + len;
}

uint32_t os_raw_smbios(void* buf, uint32_t size) {
  return sysfs_raw_smbios("/sys/firmware/dmi/tables", buf, size);
}

bool os_total_memory(uint64_t* bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return false;
  *bytes = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  return true;
}
