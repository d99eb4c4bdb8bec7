// Preloaded by tests/alloc_faults.py: from main on, FAIL_ALLOC=N refuses the Nth allocation
// (FAIL_ALLOC_MODE=from: and every later one), raising FAIL_ALLOC_SIGNAL then if it is set;
// FAIL_ALLOC_COUNT names a file for the count.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
static unsigned long armed, count, fail_at, from;

static int Refused(void) {
  if (!armed || ++count < fail_at || fail_at == 0 || (count > fail_at && !from)) return 0;
  if (count == fail_at && getenv("FAIL_ALLOC_SIGNAL")) raise(atoi(getenv("FAIL_ALLOC_SIGNAL")));
  errno = ENOMEM;
  return 1;
}
void* malloc(size_t n) { return Refused() ? NULL : __libc_malloc(n); }
void* calloc(size_t k, size_t n) { return Refused() ? NULL : __libc_calloc(k, n); }
void* realloc(void* p, size_t n) { return n != 0 && Refused() ? NULL : __libc_realloc(p, n); }
void* memalign(size_t a, size_t n) { return Refused() ? NULL : __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { return memalign(a, n); }
int posix_memalign(void** p, size_t a, size_t n) { return (*p = memalign(a, n)) ? 0 : ENOMEM; }

static void Count(void) {
  armed = 0;
  FILE* f = getenv("FAIL_ALLOC_COUNT") ? fopen(getenv("FAIL_ALLOC_COUNT"), "w") : NULL;
  if (f) fprintf(f, "%lu\n", count), fclose(f);
}
static int (*real_main)(int, char**, char**);
static int Main(int argc, char** argv, char** env) {
  fail_at = getenv("FAIL_ALLOC") ? strtoul(getenv("FAIL_ALLOC"), NULL, 10) : 0;
  from = getenv("FAIL_ALLOC_MODE") && strcmp(getenv("FAIL_ALLOC_MODE"), "from") == 0;
  atexit(Count);
  armed = 1;
  return real_main(argc, argv, env);
}
int __libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, void (*init)(void),
                      void (*fini)(void), void (*rtld_fini)(void), void* stack_end) {
  int (*start)(int (*)(int, char**, char**), int, char**, void (*)(void), void (*)(void),
               void (*)(void), void*);
  *(void**)&start = dlsym(RTLD_NEXT, "__libc_start_main");  // as POSIX shows for functions
  real_main = main;
  return start(Main, argc, argv, init, fini, rtld_fini, stack_end);
}
