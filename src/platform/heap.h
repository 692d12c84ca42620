// The library's only heap use: the loader's scratch block and the table copy.
// Kept behind two functions so that tests can make either allocation fail.
#ifndef RAMINFO_PLATFORM_HEAP_H
#define RAMINFO_PLATFORM_HEAP_H

#include <cstddef>

// Returns size bytes of heap memory, or NULL.
void* heap_alloc(size_t size);

// Releases memory from heap_alloc; NULL is ignored.
void heap_free(void* p);

#endif
