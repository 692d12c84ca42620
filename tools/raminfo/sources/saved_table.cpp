#include "sources/saved_table.h"

#include <cstring>

#include "files/input.h"
#include "smbios/block.h"

namespace {

// Puts the raw block header in front of the len table bytes at from: the
// table moved once, straight to its place after the header (into the room
// read_dump_file leaves past the file when it starts less than a header in).
void make_block(std::vector<uint8_t>* f, size_t from, size_t len, uint8_t major, uint8_t minor,
                uint8_t revision) {
  if (f->size() < RAW_HEADER_SIZE + len) f->resize(RAW_HEADER_SIZE + len);
  std::memmove(f->data() + RAW_HEADER_SIZE, f->data() + from, len);
  f->resize(RAW_HEADER_SIZE + len);
  put_raw_header(f->data(), major, minor, revision, static_cast<uint32_t>(len));
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

bool dump_to_raw_block(std::vector<uint8_t>* file, dump_format format,
                       std::vector<std::string>* warnings, std::string* error) {
  std::vector<uint8_t>& f = *file;
  located_table where;
  char reason[kBlockReasonCap];
  const table_verdict verdict = locate_table(f.data(), f.size(), format, &where, reason);
  if (where.layout != where.seen) {
    warnings->push_back(
        std::string("the file looks like ") +
        (where.seen == dump_format::rsmb ? "an rsmb block" : dump_format_label(where.seen)) +
        ", not " + dump_format_label(where.layout));
  }
  if (f.empty()) {
    *error = "not an SMBIOS table (the file is empty)";
    return false;
  }
  // dmidecode refuses such a file; the table it points to may still be sound.
  if (where.checksum_wrong) warnings->push_back("entry point checksum is wrong");
  // The loader cuts a length that claims more than is present; say so.
  if (where.cut)
    warnings->push_back("table cut: " + std::to_string(where.table.len) + " of " +
                        std::to_string(where.claimed) + " bytes present");
  if (verdict == table_verdict::not_a_table) {
    *error = reason;
    return false;
  }
  // A block with no table at all goes to the loader all the same, which
  // refuses it as too short in every view.
  if (where.layout != dump_format::rsmb) {
    const size_t from = where.table.len == 0 ? 0 : static_cast<size_t>(where.table.base - f.data());
    make_block(file, from, where.table.len, where.major, where.minor, where.revision);
  }
  return true;
}
