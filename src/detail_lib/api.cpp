// The detail library's three functions (include/raminfo_detail.h): the
// --detail document from the one decoder, for this machine's table or a
// block the caller holds.
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "core/loader.h"
#include "detail/detail.h"
#include "detail_lib/result_buffer.h"
#include "edac/memory_errors.h"
#include "raminfo_build_version.h"
#include "raminfo_detail.h"
#include "smbios/block.h"
#include "smbios/smbios.h"

namespace {

// The answer when not even a buffer for one can be had: a whole document,
// so that a host still parses what it gets, from the detail writer, which
// writes it without allocating.
const char* out_of_memory() noexcept {
  try {
    return raminfo_detail::out_of_memory_json();
  } catch (...) {
    // Not reached: the document fits its static storage, and its strings
    // fit inside their std::string objects.
    return "";
  }
}

// The loader's cache and status text are the process's, as in the core
// library: the one read of this machine's table is made under this lock, and
// the cached table is never written again once it is there.
std::mutex g_load;

raminfo_detail::document unreadable(const char* reason) {
  raminfo_detail::document doc;
  doc.reason = reason;
  return doc;
}

// This machine's document: the table the core's way, the counts at each call.
raminfo_detail::document live_document() {
  smbios_view t{nullptr, 0};
  {
    std::lock_guard<std::mutex> lock(g_load);
    if (load_smbios() != 1) return unreadable(g_err);
    t = smbios_cached_view();
  }
  raminfo_detail::document doc = raminfo_detail::decode_detail(t);
#if defined(_WIN32)
  doc.errors.reason = kMemoryErrorsNotOnWindows;
#else
  // As raminfo --detail with no options: the live tree, the default label
  // database, and the kernel's names when the table lacks them. The messages
  // are for a person at a terminal; a program gets the counts.
  memory_errors_request req;
  req.read = true;
  req.identity_from_sysfs = true;
  std::vector<memory_errors_message> messages;
  add_memory_errors(req, t, &doc, &messages);
#endif
  return doc;
}

// The document of a block the caller holds, in any layout raminfo --from-dump
// reads (a raw block, a dmidecode dump, a bare table), found and checked as
// --from-dump finds and checks it: bytes that hold no table give no document
// of an empty machine, but the reason.
raminfo_detail::document block_document(const void* block, size_t size) {
  if (block == nullptr) return unreadable("no SMBIOS block was given");
  located_table where;
  char reason[kBlockReasonCap];
  if (locate_table(static_cast<const uint8_t*>(block), size, block_layout::automatic, &where,
                   reason) != table_verdict::table)
    return unreadable(reason);
  raminfo_detail::document doc = raminfo_detail::decode_detail(where.table);
#if defined(_WIN32)
  doc.errors.reason = kMemoryErrorsNotOnWindows;
#else
  doc.errors.reason = kMemoryErrorsSavedTable;
#endif
  return doc;
}

// Keeps text in the calling thread's buffer and returns it. The decoder and
// the JSON writer allocate; a failed allocation must not cross into a C host.
template <typename Make>
const char* answer(Make make) {
  try {
    std::string* buffer = detail_result_buffer();
    if (buffer == nullptr) return out_of_memory();
    *buffer = raminfo_detail::detail_json(make());
    return buffer->c_str();
  } catch (...) {
    return out_of_memory();
  }
}

}  // namespace

#if !defined(_WIN32)
std::string* detail_result_buffer() {
  thread_local std::string buffer;
  return &buffer;
}
#endif

extern "C" {

const char* RAMINFO_DETAIL_CALL raminfo_detail_json(void) { return answer(live_document); }

const char* RAMINFO_DETAIL_CALL raminfo_detail_json_from(const void* block, size_t size) {
  return answer([=] { return block_document(block, size); });
}

const char* RAMINFO_DETAIL_CALL raminfo_detail_version(void) { return RAMINFO_VERSION_TEXT; }

}  // extern "C"
