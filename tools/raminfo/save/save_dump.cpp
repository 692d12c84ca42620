#include "save/save_dump.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "output/output.h"
#include "smbios/bytes.h"

namespace {

// Writes value at off and keeps the byte sum of the bytes it replaces in the
// checksum byte: a checksum that was right stays right, and one the firmware
// got wrong stays as wrong, as dmidecode does.
void replace_le(std::vector<uint8_t>& b, size_t off, size_t width, uint64_t value,
                size_t checksum) {
  for (size_t i = 0; i < width; ++i) {
    const auto next = static_cast<uint8_t>(value >> (8 * i));
    b[checksum] = static_cast<uint8_t>(b[checksum] + b[off + i] - next);
    b[off + i] = next;
  }
}

}  // namespace

bool dmidecode_dump(const std::vector<uint8_t>& entry_point, const std::vector<uint8_t>& table,
                    std::vector<uint8_t>* out, std::string* error) {
  const auto starts_with = [&entry_point](const char* anchor) {
    const size_t n = std::strlen(anchor);
    return entry_point.size() >= n && std::memcmp(entry_point.data(), anchor, n) == 0;
  };
  // Entry point layouts, DMTF DSP0134 sections 5.2.1 (32-bit "_SM_", with the
  // legacy "_DMI_" one at 0x10) and 5.2.2 (64-bit "_SM3_").
  std::vector<uint8_t> ep;
  uint64_t length = 0;
  if (starts_with("_SM3_") && entry_point.size() >= 0x18 && entry_point[0x06] >= 0x18 &&
      entry_point[0x06] <= kDumpTableOffset && entry_point[0x06] <= entry_point.size()) {
    ep.assign(entry_point.begin(), entry_point.begin() + entry_point[0x06]);
    length = read_le(ep.data() + 0x0C, 4);  // the table's maximum size
    replace_le(ep, 0x10, 8, kDumpTableOffset, 0x05);
  } else if (starts_with("_SM_") && entry_point.size() >= 0x1E && entry_point[0x05] >= 0x1E &&
             entry_point[0x05] <= kDumpTableOffset && entry_point[0x05] <= entry_point.size()) {
    // Some firmware gives 0x1E for the 0x1F-byte layout; dmidecode keeps
    // the length the firmware gives.
    ep.assign(entry_point.begin(), entry_point.begin() + entry_point[0x05]);
    ep.resize(0x1F, 0);
    length = read_le(ep.data() + 0x16, 2);
    // The address lies in the intermediate area, whose own checksum covers
    // it; the sum over the whole entry point does not change.
    replace_le(ep, 0x18, 4, kDumpTableOffset, 0x15);
    ep.resize(entry_point[0x05]);
  } else if (starts_with("_DMI_") && entry_point.size() >= 0x0F) {
    ep.assign(entry_point.begin(), entry_point.begin() + 0x0F);
    length = read_le(ep.data() + 0x06, 2);
    replace_le(ep, 0x08, 4, kDumpTableOffset, 0x05);
  } else {
    *error = "the entry point is none dmidecode reads (_SM3_, _SM_ or _DMI_ of its full length)";
    return false;
  }
  out->assign(kDumpTableOffset, 0);
  std::copy(ep.begin(), ep.end(), out->begin());
  // The table the entry point announces; the kernel's copy may be shorter.
  const size_t keep = length < table.size() ? static_cast<size_t>(length) : table.size();
  out->insert(out->end(), table.begin(), table.begin() + static_cast<std::ptrdiff_t>(keep));
  return true;
}

int save_dump(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string layout;
  std::string error;
  if (!read_machine_dump(&bytes, &layout, &error)) {
    say("cannot save the SMBIOS table: " + error);
    return 1;
  }
  // "-" is stdout, for a pipe into a compressor or a paste service.
  const std::string text(bytes.begin(), bytes.end());
  const bool to_stdout = path == "-";
  std::string warning;
  const bool ok =
      to_stdout ? write_stdout(text, &error) : write_file_atomically(path, text, &error, &warning);
  if (!warning.empty()) say("warning: " + path + ": " + warning);
  if (!ok) {
    say(error);
    return 1;
  }
  say("wrote this machine's SMBIOS table to " + (to_stdout ? std::string("stdout") : path) + " (" +
      std::to_string(bytes.size()) + " bytes, " + layout + ")");
  return 0;
}
