#include "platform/heap.h"

#include <cstdlib>

void* heap_alloc(size_t size) { return std::malloc(size); }

void heap_free(void* p) { std::free(p); }
