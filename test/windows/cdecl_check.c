/* Compiled, never run, by a 32-bit build with GCC's -mrtd, which makes
 * stdcall-like callee-pops the default as MSVC's /Gz makes stdcall: each
 * declaration of raminfo.h and raminfo_detail.h must still be C's convention
 * (cdecl), which the DLLs' exports are, or binding it to a cdecl pointer does not compile.
 * With RAMINFO_CHECK_UNPINNED a declaration that names no convention is
 * bound the same way, and must fail: the check can tell the two apart. */
#include <stdint.h>

#include "raminfo.h"
#include "raminfo_detail.h"

typedef const char*(__cdecl* text_fn)(void);
typedef int32_t(__cdecl* int_fn)(void);

text_fn const get_json = raminfo_get_json;
text_fn const last_error = raminfo_last_error;
int_fn const slot_count = raminfo_slot_count;
int_fn const total_mb = raminfo_total_mb;
text_fn const version = raminfo_version;
text_fn const detail_json = raminfo_detail_json;
const char*(__cdecl* const detail_json_from)(const void*, size_t) = raminfo_detail_json_from;
text_fn const detail_version = raminfo_detail_version;

#ifdef RAMINFO_CHECK_UNPINNED
typedef int32_t(__cdecl* unpinned_check_fn)(void);
int32_t unpinned(void);
unpinned_check_fn const unpinned_fn = unpinned;
#endif
