/* libbz2 built without its stdio layer reports a broken internal invariant here. Its state can no
   longer be trusted and C code cannot unwind, so the process ends. Linked into the library itself
   so that every program using it has the hook, whatever the link order. */
#include <stdio.h>
#include <stdlib.h>

void bz_internal_error(int errcode);

void bz_internal_error(int errcode) {
    fprintf(stderr, "bzip2 internal error %d\n", errcode);
    abort();
}
