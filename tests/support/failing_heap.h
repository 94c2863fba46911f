// A heap that fails on request, for the out-of-memory paths of the library.
// Only for test programs linked with
//   -Wl,--wrap=malloc -Wl,--wrap=realloc -Wl,--wrap=free
// and, where the compiler has turned malloc and zeroing into calloc,
// -Wl,--wrap=calloc (tests/<name>.cmake says so); every malloc, realloc (and
// calloc) of the program then passes through here, the library's and the
// test's alike.
#ifndef FAILING_HEAP_H
#define FAILING_HEAP_H

#include <stdint.h>

// Lets the next `successes` malloc/realloc calls through and fails the one
// after; the heap then works again. -1 disarms. Arming also starts the count
// of outstanding blocks afresh.
void FAILING_HEAP_fail_after(int32_t successes);
// True once the armed failure has happened.
bool FAILING_HEAP_failed(void);
// Blocks obtained minus blocks freed since the failure was last armed.
int32_t FAILING_HEAP_outstanding(void);

#endif
