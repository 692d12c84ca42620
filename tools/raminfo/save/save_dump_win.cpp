// Windows: the raw SMBIOS block exactly as GetSystemFirmwareTable('RSMB')
// returns it.
#include "platform/os.h"
#include "save/save_dump.h"

bool read_machine_dump(std::vector<uint8_t>* out, std::string* layout, std::string* error) {
  // The table can grow between the size query and the read; ask again then.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const uint32_t need = os_raw_smbios(nullptr, 0);
    if (need == 0) break;
    out->assign(need, 0);
    const uint32_t got = os_raw_smbios(out->data(), need);
    if (got == 0) break;
    if (got <= need) {
      out->resize(got);
      *layout = "a raw SMBIOS block from GetSystemFirmwareTable('RSMB')";
      return true;
    }
  }
  *error = "GetSystemFirmwareTable('RSMB') gives no table";
  return false;
}
