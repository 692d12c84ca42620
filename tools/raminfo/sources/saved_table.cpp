#include "sources/saved_table.h"

#include <cstring>

#include "files/input.h"
#include "smbios/bytes.h"
#include "smbios/smbios.h"

namespace {

// Callers check that the field lies inside the file first.
uint32_t le(const std::vector<uint8_t>& f, size_t off, size_t width) {
  return read_le(f.data() + off, width);
}

bool starts_with(const std::vector<uint8_t>& f, const char* anchor) {
  const size_t n = std::strlen(anchor);
  return f.size() >= n && std::memcmp(f.data(), anchor, n) == 0;
}

bool sums_to_zero(const std::vector<uint8_t>& f, size_t from, size_t count) {
  if (from + count > f.size()) return false;
  uint8_t sum = 0;
  for (size_t i = from; i < from + count; ++i) sum = static_cast<uint8_t>(sum + f[i]);
  return sum == 0;
}

// Puts the raw block header in front of the len table bytes at from: the
// table moved once, straight to its place after the header (into the room
// read_dump_file leaves past the file when it starts less than a header in).
void make_block(std::vector<uint8_t>* f, size_t from, size_t len, uint8_t major, uint8_t minor,
                uint8_t revision) {
  if (f->size() < RAW_HEADER_SIZE + len) f->resize(RAW_HEADER_SIZE + len);
  std::memmove(f->data() + RAW_HEADER_SIZE, f->data() + from, len);
  f->resize(RAW_HEADER_SIZE + len);
  const auto n = static_cast<uint32_t>(len);
  const uint8_t header[RAW_HEADER_SIZE] = {0,
                                           major,
                                           minor,
                                           revision,
                                           static_cast<uint8_t>(n),
                                           static_cast<uint8_t>(n >> 8),
                                           static_cast<uint8_t>(n >> 16),
                                           static_cast<uint8_t>(n >> 24)};
  std::memcpy(f->data(), header, RAW_HEADER_SIZE);
}

std::string cut_warning(uint64_t present, uint64_t claimed) {
  return "table cut: " + std::to_string(present) + " of " + std::to_string(claimed) +
         " bytes present";
}

// Why the table of len bytes at from in f is no SMBIOS structure table, or
// "" when it is one. The walk must find its first structure sound, as DMTF
// DSP0134 section 6.1 lays one out: a 4-byte header whose length byte counts
// at least the header, then either the end-of-table type 127 of exactly 4
// bytes (an empty table), or a formatted area and strings ended by two NUL
// bytes, inside the table. When the layout says the table is cut short
// (cut), they may run to its end instead. A table whose walk breaks later
// (firmware that writes a bad length after some good structures) is read up
// to the break, as the library reads it.
std::string walk_problem(const std::vector<uint8_t>& f, size_t from, size_t len, bool cut) {
  if (len == 0) return "the table in it is empty";
  const smbios_view t{f.data() + from, len};
  const uint8_t* header = smbios_bytes(t, 0, 4);
  if (header == nullptr)
    return std::to_string(len) + (len == 1 ? " byte" : " bytes") +
           ", fewer than a structure header";
  const uint8_t type = header[0];
  const uint8_t length = header[1];
  if (length < 4)
    return "the first structure's length byte is " + std::to_string(length) + ", below 4";
  if (type == 127) {
    if (length == 4) return "";
    return "the first structure has the end-of-table type but " + std::to_string(length) +
           " bytes, not 4";
  }
  if (smbios_bytes(t, 0, length) == nullptr)
    return cut ? "" : "the first structure's " + std::to_string(length) + " bytes run past the end";
  for (size_t q = length; smbios_bytes(t, q, 2) != nullptr; ++q) {
    const uint8_t* pair = smbios_bytes(t, q, 2);
    if (pair[0] == 0 && pair[1] == 0) return "";
  }
  return cut ? "" : "the first structure's strings never end in two NUL bytes";
}

// Whether the raw block f holds a table that walks (see walk_problem); the
// error when it does not. A block whose table is empty (a header alone) is
// left to the loader, which refuses it as too short.
bool is_table(const std::vector<uint8_t>& f, bool cut, std::string* error) {
  if (f.size() <= RAW_HEADER_SIZE) return true;
  uint32_t len = le(f, RAW_LENGTH_OFFSET, 4);
  if (len > f.size() - RAW_HEADER_SIZE) len = static_cast<uint32_t>(f.size() - RAW_HEADER_SIZE);
  const std::string why = walk_problem(f, RAW_HEADER_SIZE, len, cut);
  if (why.empty()) return true;
  *error = "not an SMBIOS table (" + why + ")";
  return false;
}

}  // namespace

const char* dump_format_label(dump_format format) {
  switch (format) {
    case dump_format::rsmb: return "rsmb";
    case dump_format::dmidecode: return "a dmidecode dump";
    default: return "a bare table";
  }
}

bool read_dump_file(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  // Room for the block header too, so that the conversion to a raw block
  // never moves the bytes to a second buffer.
  return read_bounded_file(path, kDumpLimit, out, error, RAW_HEADER_SIZE);
}

dump_format detect_dump_format(const std::vector<uint8_t>& file) {
  if (starts_with(file, "_SM3_") || starts_with(file, "_SM_") || starts_with(file, "_DMI_"))
    return dump_format::dmidecode;
  if (file.size() < RAW_HEADER_SIZE) return dump_format::table;
  // A length field that counts exactly the bytes after the header is the
  // strongest sign of a raw block, whatever its version bytes say.
  if (le(file, RAW_LENGTH_OFFSET, 4) == file.size() - RAW_HEADER_SIZE) return dump_format::rsmb;
  // A bare table opens with a structure whose length byte is 4 or more; a raw
  // block with a calling-method byte of 0 or 1 and an SMBIOS major version
  // (2 or 3, or 0 when left out) in that place.
  if (file[0] <= 1 && file[1] <= 3) return dump_format::rsmb;
  return dump_format::table;
}

namespace {

// What a dmidecode dump's entry point says of the table it points to.
struct entry_point {
  uint8_t major = 0, minor = 0, revision = 0;
  uint64_t address = 0;
  uint64_t length = 0;
  bool checksum_ok = false;
  // An SMBIOS 3 entry point gives only the table's maximum size, which the
  // table may fall short of; the older ones give its exact length.
  bool exact_length = true;
};

// Entry point layouts, DMTF DSP0134 sections 5.2.1 (32-bit), 5.2.2 (64-bit)
// and the legacy DMI one; false when the file opens with none of them.
bool read_entry_point(const std::vector<uint8_t>& f, entry_point* ep) {
  if (starts_with(f, "_SM3_") && f.size() >= 0x18) {
    ep->major = f[7];
    ep->minor = f[8];
    ep->revision = f[9];
    ep->length = le(f, 0x0C, 4);
    ep->address = le(f, 0x10, 4) | static_cast<uint64_t>(le(f, 0x14, 4)) << 32;
    ep->checksum_ok = f[6] >= 0x18 && sums_to_zero(f, 0, f[6]);
    ep->exact_length = false;
  } else if (starts_with(f, "_SM_") && f.size() >= 0x1F) {
    // Some SMBIOS 2.1 firmware writes an entry point length of 0x1E, which
    // dmidecode accepts too.
    ep->major = f[6];
    ep->minor = f[7];
    ep->revision = f[0x1E];
    ep->length = le(f, 0x16, 2);
    ep->address = le(f, 0x18, 4);
    ep->checksum_ok = f[5] >= 0x1E && sums_to_zero(f, 0, f[5]) && sums_to_zero(f, 0x10, 0x0F);
  } else if (starts_with(f, "_DMI_") && f.size() >= 0x0F) {
    ep->revision = f[0x0E];
    ep->major = static_cast<uint8_t>(ep->revision >> 4);
    ep->minor = static_cast<uint8_t>(ep->revision & 0x0F);
    ep->length = le(f, 0x06, 2);
    ep->address = le(f, 0x08, 4);
    ep->checksum_ok = sums_to_zero(f, 0, 0x0F);
  } else {
    return false;
  }
  return true;
}

// The table a dmidecode dump's entry point names, as a raw block in place.
bool dmidecode_to_raw_block(std::vector<uint8_t>* file, std::vector<std::string>* warnings,
                            std::string* error) {
  std::vector<uint8_t>& f = *file;
  entry_point ep;
  if (!read_entry_point(f, &ep)) {
    *error = "not a dmidecode dump: no usable entry point at offset 0";
    return false;
  }
  // dmidecode refuses such a file; the table it points to may still be sound.
  if (!ep.checksum_ok) warnings->push_back("entry point checksum is wrong");
  if (ep.address > f.size()) {
    *error = "dmidecode dump: the table address lies past the end of the file";
    return false;
  }
  // The table is what the file holds from its address, up to the length the
  // entry point gives.
  const uint64_t present = f.size() - ep.address;
  if (ep.exact_length && ep.length > present) warnings->push_back(cut_warning(present, ep.length));
  const uint64_t len = ep.length < present ? ep.length : present;
  make_block(file, static_cast<size_t>(ep.address), static_cast<size_t>(len), ep.major, ep.minor,
             ep.revision);
  return is_table(f, ep.exact_length && ep.length > present, error);
}

}  // namespace

bool dump_to_raw_block(std::vector<uint8_t>* file, dump_format format,
                       std::vector<std::string>* warnings, std::string* error) {
  const dump_format seen = detect_dump_format(*file);
  if (format == dump_format::automatic) {
    format = seen;
  } else if (format != seen) {
    warnings->push_back(std::string("the file looks like ") +
                        (seen == dump_format::rsmb ? "an rsmb block" : dump_format_label(seen)) +
                        ", not " + dump_format_label(format));
  }
  std::vector<uint8_t>& f = *file;
  if (f.empty()) {
    *error = "not an SMBIOS table (the file is empty)";
    return false;
  }
  if (format == dump_format::table) {
    make_block(file, 0, f.size(), 0, 0, 0);
    return is_table(f, false, error);
  }
  if (format == dump_format::rsmb) {
    // The loader cuts a length that claims more than is present; say so.
    bool cut = false;
    if (f.size() >= RAW_HEADER_SIZE && le(f, RAW_LENGTH_OFFSET, 4) > f.size() - RAW_HEADER_SIZE) {
      warnings->push_back(cut_warning(f.size() - RAW_HEADER_SIZE, le(f, RAW_LENGTH_OFFSET, 4)));
      cut = true;
    }
    return is_table(f, cut, error);
  }
  return dmidecode_to_raw_block(file, warnings, error);
}
