#include "app/allocation_hooks.h"

#include <errno.h>
#include <stdio_ext.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace corvane {
namespace {

constexpr size_t kReserveBytes = 256 * 1024;

std::atomic<void*> reserve{nullptr};
std::atomic<const char*> envelopeData{nullptr};
size_t envelopeSize = 0;  // written before envelopeData is published
std::atomic<size_t> answerBytes{0};

}  // namespace

void prepareForMemoryExhaustion(std::string_view envelope) noexcept {
  // Taken first: without it the run has nothing to hand back, but may
  // still go on.
  reserve.store(std::malloc(kReserveBytes));
  envelopeSize = envelope.size();
  envelopeData.store(envelope.data(), std::memory_order_release);
}

void countAnswerBytes(size_t bytes) noexcept {
  answerBytes.fetch_add(bytes, std::memory_order_relaxed);
}

bool releaseMemoryReserve() noexcept {
  void* block = reserve.exchange(nullptr);
  std::free(block);
  return block != nullptr;
}

}  // namespace corvane

// A sanitizer's runtime has its own allocator and reports of its own; those
// builds keep it, and meet memory running out through the new handler only.
#if !CORVANE_KEEPS_LIBC_MALLOC

// The C library's allocator under its own names: glibc exports them so
// that a program can wrap its malloc. Every block still comes from glibc,
// so its free, malloc_usable_size and the rest stay as they are.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace corvane {
namespace {

// Set while C++'s operator new asks for memory: it may see a failure,
// because it turns one into bad_alloc, which the program answers.
thread_local bool inOperatorNew = false;

std::atomic<bool> ending{false};

[[noreturn]] void endRunOutOfMemory() {
  if (!ending.exchange(true)) {
    // Whatever stdio still holds is a part of an answer that cannot be
    // finished; _exit drops it. A part that went out already ends the
    // output there: an envelope after it would be a second document.
    const char* data = envelopeData.load(std::memory_order_acquire);
    size_t left = answerBytes.load() > __fpending(stdout) ? 0 : envelopeSize;
    while (left > 0) {
      ssize_t written = ::write(STDOUT_FILENO, data, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      data += written;
      left -= static_cast<size_t>(written);
    }
    ::_exit(0);
  }
  // Another thread is printing the envelope and ends the process; this one
  // waits for it, but not for ever.
  const timespec pause{0, 10'000'000};
  for (int i = 0; i < 500; ++i) ::nanosleep(&pause, nullptr);
  ::_exit(0);
}

// The slow road of every allocation that came back empty: hand the reserve
// back and try once more, then fail to operator new or end the run.
template <class Again>
[[gnu::noinline, gnu::cold]] void* afterFailure(Again again) {
  const int failure = errno;
  if (envelopeData.load(std::memory_order_acquire) == nullptr) return nullptr;
  if (releaseMemoryReserve())
    if (void* block = again()) return block;
  if (inOperatorNew) {
    errno = failure;
    return nullptr;
  }
  // libical and GLib do not survive a null answer (one crashes, the other
  // aborts and prints): the run ends here instead, with its answer.
  endRunOutOfMemory();
}

template <class Allocate>
void* allocateForNew(Allocate allocate) {
  for (;;) {
    inOperatorNew = true;
    void* block = allocate();
    inOperatorNew = false;
    if (block) [[likely]]
      return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

}  // namespace
}  // namespace corvane

using corvane::afterFailure;

extern "C" void* malloc(size_t size) noexcept {
  if (void* block = __libc_malloc(size)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_malloc(size); });
}

extern "C" void* calloc(size_t count, size_t size) noexcept {
  if (void* block = __libc_calloc(count, size)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_calloc(count, size); });
}

extern "C" void* realloc(void* old, size_t size) noexcept {
  void* block = __libc_realloc(old, size);
  // A size of zero frees the block and answers null.
  if (block || (old && size == 0)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_realloc(old, size); });
}

extern "C" void* memalign(size_t alignment, size_t size) noexcept {
  if (void* block = __libc_memalign(alignment, size)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_memalign(alignment, size); });
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) noexcept {
  return memalign(alignment, size);
}

extern "C" int posix_memalign(void** out, size_t alignment,
                              size_t size) noexcept {
  if (alignment == 0 || alignment % sizeof(void*) != 0 ||
      (alignment & (alignment - 1)) != 0)
    return EINVAL;
  void* block = memalign(alignment, size);
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}

extern "C" void* valloc(size_t size) noexcept {
  if (void* block = __libc_valloc(size)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_valloc(size); });
}

extern "C" void* pvalloc(size_t size) noexcept {
  if (void* block = __libc_pvalloc(size)) [[likely]]
    return block;
  return afterFailure([&] { return __libc_pvalloc(size); });
}

// The library's other forms (new[], nothrow) come through these two.
void* operator new(size_t size) {
  return corvane::allocateForNew([&] { return malloc(size ? size : 1); });
}

void* operator new[](size_t size) { return ::operator new(size); }

void* operator new(size_t size, std::align_val_t alignment) {
  return corvane::allocateForNew([&] {
    return memalign(static_cast<size_t>(alignment), size ? size : 1);
  });
}

void* operator new[](size_t size, std::align_val_t alignment) {
  return ::operator new(size, alignment);
}

#endif
