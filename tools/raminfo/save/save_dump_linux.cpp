// Linux: the table as the library reads it, with the entry point the kernel
// exports beside it, in dmidecode's layout.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os.h"
#include "save/save_dump.h"
#include "smbios/block.h"
#include "sources/udev.h"

namespace {
constexpr const char* kTables = "/sys/firmware/dmi/tables";
// An entry point is 31 bytes at most (32 with padding) in every version.
constexpr size_t kEntryPointLimit = 64;
}  // namespace

bool read_machine_dump(std::vector<uint8_t>* out, std::string* layout, std::string* error) {
  const std::string dmi = std::string(kTables) + "/DMI";
  // The same reader as the library's, so that the saved file decodes as this
  // machine's live table does.
  const uint32_t need = os_raw_smbios(nullptr, 0);
  std::vector<uint8_t> block(need);
  const uint32_t got = need == 0 ? 0 : os_raw_smbios(block.data(), need);
  if (got < RAW_HEADER_SIZE || got > need) {
    const bool readable = access(dmi.c_str(), R_OK) == 0;
    const int why = errno;
    *error = "cannot read " + dmi;
    if (!readable && why == EACCES)
      *error += ": it is readable by root only (try sudo)";
    else if (!readable && why == ENOENT)
      *error += ": this machine exposes no SMBIOS table there";
    else if (!readable)
      *error += std::string(": ") + std::strerror(why);
    return false;
  }
  std::string entry_point;
  const std::string ep_path = std::string(kTables) + "/smbios_entry_point";
  if (!read_bounded_file(ep_path, kEntryPointLimit, &entry_point, error)) return false;
  const std::vector<uint8_t> ep(entry_point.begin(), entry_point.end());
  const smbios_view t = raw_block_table(block.data(), got);
  const std::vector<uint8_t> table(t.base, t.base + t.len);
  if (!dmidecode_dump(ep, table, out, error)) {
    *error = ep_path + ": " + *error;
    return false;
  }
  *layout = "the layout of dmidecode --dump-bin";
  return true;
}
