/* Memory arrays and modules field by field, as raminfo --detail writes them:
 * the "raminfo-detail/1" JSON document (docs/raminfo-detail.schema.json).
 *
 * A library of its own beside tarnwick-smbios-ram-info: that one answers five
 * short questions in its fixed JSON; this one gives everything the table
 * says (ECC, ranks, bank locators, type detail, voltages, raw codes, maker
 * names) and, on Linux, the kernel's per-module error counts.
 *
 * Buffers: each function returns text owned by the library, NUL-terminated
 * and never NULL. It stays valid until the same thread's next call of
 * raminfo_detail_json or raminfo_detail_json_from; the caller reads (or
 * copies) it and never frees it.
 *
 * Threads: any number of threads may call at once. Each thread has its own
 * result buffer (thread-local storage; on Windows a TLS slot the DLL takes
 * when it loads and releases as each thread ends), and the one shared step,
 * reading this machine's table on the first call, is serialized inside the
 * library. */
#ifndef RAMINFO_DETAIL_H
#define RAMINFO_DETAIL_H

#include <stddef.h>

#if defined(_WIN32)
/* The DLL exports through its .def file; consumers import by default. Define
 * RAMINFO_DETAIL_STATIC when linking the library's objects directly. */
#if defined(RAMINFO_DETAIL_STATIC) || defined(RAMINFO_DETAIL_BUILDING)
#define RAMINFO_DETAIL_API
#else
#define RAMINFO_DETAIL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define RAMINFO_DETAIL_API __attribute__((visibility("default")))
#else
#define RAMINFO_DETAIL_API
#endif

/* C's calling convention (cdecl), said outright on 32-bit Windows so that a
 * caller whose compiler defaults to another (MSVC /Gz, GCC -mrtd) still links
 * against the undecorated exports; other targets have one C convention. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define RAMINFO_DETAIL_CALL __cdecl
#else
#define RAMINFO_DETAIL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The document for this machine's SMBIOS table, read the way
 * tarnwick-smbios-ram-info reads it (GetSystemFirmwareTable('RSMB') on
 * Windows, /sys/firmware/dmi/tables on Linux) and kept for the process once
 * read. On Linux it holds the EDAC error counts read at each call, as
 * raminfo --detail shows them. When the table cannot be read the document
 * says "readable": false and gives the reason. */
RAMINFO_DETAIL_API const char* RAMINFO_DETAIL_CALL raminfo_detail_json(void);

/* The document for a saved SMBIOS table, in any layout raminfo --from-dump
 * reads, told apart by their content as it tells them: the raw block in the
 * RSMB layout (8 bytes of header: calling method, SMBIOS major, minor, DMI
 * revision, table length as a little-endian 32-bit number; then the
 * structure table), the file dmidecode --dump-bin writes (which raminfo
 * --save-dump writes on Linux), or a bare structure table. The same document
 * raminfo --detail --from-dump writes for it. The block is only read, and may
 * be of any size. A NULL or empty block, a raw block header with no table
 * after it, and bytes whose first structure is not sound (fewer than 4
 * bytes, a length byte below 4, text) give "readable": false and the reason
 * raminfo --from-dump gives. No error counts: a saved table is not this
 * machine. */
RAMINFO_DETAIL_API const char* RAMINFO_DETAIL_CALL raminfo_detail_json_from(const void* block,
                                                                            size_t size);

/* The library's version text, "1.0.0"; the same pointer every call. */
RAMINFO_DETAIL_API const char* RAMINFO_DETAIL_CALL raminfo_detail_version(void);

#ifdef __cplusplus
}
#endif

#endif /* RAMINFO_DETAIL_H */
