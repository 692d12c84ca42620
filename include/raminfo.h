/* Memory module inventory from the firmware's SMBIOS table.
 *
 * Every function takes no arguments. Text results point to storage owned by
 * the library: the caller reads it and never frees it. Calls must come from
 * one thread at a time. */
#ifndef RAMINFO_H
#define RAMINFO_H

#include <stdint.h>

#if defined(_WIN32)
/* The DLL exports through its .def file; consumers import by default. Define
 * RAMINFO_STATIC when linking the library's objects directly. */
#if defined(RAMINFO_STATIC) || defined(RAMINFO_BUILDING)
#define RAMINFO_API
#else
#define RAMINFO_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define RAMINFO_API __attribute__((visibility("default")))
#else
#define RAMINFO_API
#endif

/* The calling convention of the five functions: C's (cdecl) everywhere. On
 * 32-bit Windows it is said outright, so that a caller whose compiler makes
 * another the default (MSVC /Gz, GCC -mrtd) still calls, and links against,
 * the undecorated cdecl exports. Other targets keep their one C convention. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define RAMINFO_CALL __cdecl
#else
#define RAMINFO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Renders the whole inventory as one line of JSON and returns it; never NULL.
 * The text is rewritten by the next call. Clears the last-error text first. */
RAMINFO_API const char* RAMINFO_CALL raminfo_get_json(void);

/* Returns the reason for the last failure to read the SMBIOS table, or "". */
RAMINFO_API const char* RAMINFO_CALL raminfo_last_error(void);

/* Returns the number of populated memory devices, or -1 when the SMBIOS
 * table cannot be read. */
RAMINFO_API int32_t RAMINFO_CALL raminfo_slot_count(void);

/* Returns the total physical memory in MiB (rounded down), or -1. */
RAMINFO_API int32_t RAMINFO_CALL raminfo_total_mb(void);

/* Returns the library's version text, "1.0.0"; the same pointer every call. */
RAMINFO_API const char* RAMINFO_CALL raminfo_version(void);

#ifdef __cplusplus
}
#endif

#endif /* RAMINFO_H */
