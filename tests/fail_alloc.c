// Refuses allocations, preloaded (LD_PRELOAD) into the editor by tests/alloc_faults.sh.
// Counting starts when main starts. FAIL_ALLOC=N refuses the Nth allocation (from 1), and with
// FAIL_ALLOC_MODE=from every one after it too; FAIL_ALLOC_COUNT names a file that gets the
// number of allocations made, written at exit. operator new reaches malloc in libstdc++.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);

static int armed;
static unsigned long count;
static unsigned long fail_at;
static int from;

static int Refused(void) {
  if (!armed) return 0;
  ++count;
  if (fail_at == 0 || count < fail_at || (!from && count > fail_at)) return 0;
  errno = ENOMEM;
  return 1;
}

void* malloc(size_t size) { return Refused() ? NULL : __libc_malloc(size); }
void* calloc(size_t n, size_t size) { return Refused() ? NULL : __libc_calloc(n, size); }
void* realloc(void* p, size_t size) {
  return size != 0 && Refused() ? NULL : __libc_realloc(p, size);
}
void* memalign(size_t align, size_t size) {
  return Refused() ? NULL : __libc_memalign(align, size);
}
void* aligned_alloc(size_t align, size_t size) { return memalign(align, size); }
int posix_memalign(void** p, size_t align, size_t size) {
  if (Refused()) return ENOMEM;
  *p = __libc_memalign(align, size);
  return *p == NULL ? ENOMEM : 0;
}

static void WriteCount(void) {
  const char* name = getenv("FAIL_ALLOC_COUNT");
  if (name == NULL) return;
  char text[32];
  int n = snprintf(text, sizeof text, "%lu\n", count);
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0 && write(fd, text, (size_t)n) == n) close(fd);
}

static int (*real_main)(int, char**, char**);

static int Main(int argc, char** argv, char** env) {
  const char* n = getenv("FAIL_ALLOC");
  const char* mode = getenv("FAIL_ALLOC_MODE");
  fail_at = n != NULL ? strtoul(n, NULL, 10) : 0;
  from = mode != NULL && strcmp(mode, "from") == 0;
  atexit(WriteCount);
  armed = 1;
  return real_main(argc, argv, env);
}

typedef int (*StartMain)(int (*)(int, char**, char**), int, char**, void (*)(void),
                         void (*)(void), void (*)(void), void*);

int __libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, void (*init)(void),
                      void (*fini)(void), void (*rtld_fini)(void), void* stack_end) {
  real_main = main;
  StartMain start;
  *(void**)&start = dlsym(RTLD_NEXT, "__libc_start_main");  // as POSIX shows for functions
  return start(Main, argc, argv, init, fini, rtld_fini, stack_end);
}
