#include "app/service/memory_reuse.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
  // Blocks under 4 MiB come from the heap, and the heap keeps up to 16 MiB free at its top.
  // Larger blocks (a big cover) still get their own mapping and go back to the system on free.
  mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
}
