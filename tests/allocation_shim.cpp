// Loaded with LD_PRELOAD into corvane by the low-memory tests: the
// ALLOCATION_SHIM_FAILS-th allocation fails, and so does the one right
// after it (the program's retry once its reserve is handed back), as when
// memory runs out in the middle of a run; every other succeeds. It sits
// beneath the program's own malloc family, which forwards to the C
// library's allocator under the names taken here, so every allocation is
// counted: C++'s, libical's, the C library's and GLib's.
// Counted over every thread from the program's first `signal` call (the
// first thing corvane's main does), so the libraries' start-up is left
// out. Where ALLOCATION_SHIM_COUNT_TO names a file, the number of
// allocations made is written there at exit.
#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long> made{-1};  // -1 until the program starts
long failing = 0;

void countAtExit() {
  if (const char* path = std::getenv("ALLOCATION_SHIM_COUNT_TO"))
    if (FILE* file = std::fopen(path, "w")) {
      std::fprintf(file, "%ld\n", made.load());
      std::fclose(file);
    }
}

bool fails() {
  if (made.load(std::memory_order_relaxed) < 0) return false;
  long n = made.fetch_add(1, std::memory_order_relaxed) + 1;
  return n == failing || n == failing + 1;
}

template <class Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// What a failing call asks of the C library's allocator, which then fails
// as it does when memory is out.
size_t sizeFor(size_t size) { return fails() ? ~size_t{0} / 2 : size; }

}  // namespace

extern "C" sighandler_t signal(int number, sighandler_t handler) {
  static auto realSignal = real<sighandler_t (*)(int, sighandler_t)>("signal");
  if (made.load() < 0) {
    if (const char* text = std::getenv("ALLOCATION_SHIM_FAILS"))
      failing = std::atol(text);
    std::atexit(countAtExit);
    made.store(0);
  }
  return realSignal(number, handler);
}

// Looked up at the first call: the C++ library allocates in its own
// start-up, before this library's initialisers run.
extern "C" void* __libc_malloc(size_t size) {
  static auto next = real<void* (*)(size_t)>("__libc_malloc");
  return next(sizeFor(size));
}
extern "C" void* __libc_calloc(size_t count, size_t size) {
  static auto next = real<void* (*)(size_t, size_t)>("__libc_calloc");
  return next(count, sizeFor(size));
}
extern "C" void* __libc_realloc(void* block, size_t size) {
  static auto next = real<void* (*)(void*, size_t)>("__libc_realloc");
  return next(block, sizeFor(size));
}
extern "C" void* __libc_memalign(size_t alignment, size_t size) {
  static auto next = real<void* (*)(size_t, size_t)>("__libc_memalign");
  return next(alignment, sizeFor(size));
}
