#include "app/MemoryUse.h"

#include <cstdlib>  // first: it defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vantrel {

namespace {

// glibc's own starting values. Set explicitly they stay fixed; left alone they rise with the
// largest block freed so far (to 4 MB and 8 MB after a few large pages), and each thread's arena
// then keeps megabytes of free room at its top for the rest of the run.
constexpr int kLargeBlockBytes = 128 * 1024;

}  // namespace

void SetMemoryPolicy() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    mallopt(M_TRIM_THRESHOLD, kLargeBlockBytes);
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace vantrel
