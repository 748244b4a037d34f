// Loaded with LD_PRELOAD into corvane by the low-memory tests: the
// ALLOCATION_SHIM_FAILS-th allocation by operator new fails (the new
// handler is called, then bad_alloc thrown), as when memory runs out in
// the middle of a run; every other succeeds.
// Counted over every thread from the program's first `signal` call (the
// first thing corvane's main does), so the libraries' start-up is left
// out. Where ALLOCATION_SHIM_COUNT_TO names a file, the number of
// allocations made is written there at exit. The C library's malloc is
// left alone: libical does not check it (a failure there is a crash that
// no caller of libical can prevent).
#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

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

void* allocate(std::size_t size) {
  long n = made.load(std::memory_order_relaxed) < 0
               ? -1
               : made.fetch_add(1, std::memory_order_relaxed) + 1;
  if (n == failing) {
    // As the library's operator new does when memory is out.
    if (std::new_handler handler = std::get_new_handler()) handler();
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}

}  // namespace

extern "C" sighandler_t signal(int number, sighandler_t handler) {
  static auto real = reinterpret_cast<sighandler_t (*)(int, sighandler_t)>(
      dlsym(RTLD_NEXT, "signal"));
  if (made.load() < 0) {
    if (const char* text = std::getenv("ALLOCATION_SHIM_FAILS"))
      failing = std::atol(text);
    std::atexit(countAtExit);
    made.store(0);
  }
  return real(number, handler);
}

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
