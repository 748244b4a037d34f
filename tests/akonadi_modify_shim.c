/* Loaded with LD_PRELOAD into corvane by the Akonadi test of a change that
 * races another client. When corvane makes its modify job for an item it
 * has read, the shell command in AKONADI_SHIM_BEFORE_MODIFY runs first,
 * once: the other client's change, made through Akonadi, lands between
 * corvane's read and its write, and the job then carries a revision that
 * Akonadi no longer has. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

static void otherClientFirst(void) {
  const char* hook = getenv("AKONADI_SHIM_BEFORE_MODIFY");
  if (!hook) return;
  char* command = strdup(hook);
  unsetenv("AKONADI_SHIM_BEFORE_MODIFY");
  if (command && system(command) != 0) abort();
  free(command);
}

/* Akonadi::ItemModifyJob::ItemModifyJob(const Item&, QObject*) */
void _ZN7Akonadi13ItemModifyJobC1ERKNS_4ItemEP7QObject(void* self,
                                                         const void* item,
                                                         void* parent) {
  static void (*real)(void*, const void*, void*);
  if (!real)
    real = (void (*)(void*, const void*, void*))dlsym(RTLD_NEXT, __func__);
  otherClientFirst();
  real(self, item, parent);
}

/* Akonadi::ItemModifyJob::ItemModifyJob(const QVector<Item>&, QObject*) */
void _ZN7Akonadi13ItemModifyJobC1ERK7QVectorINS_4ItemEEP7QObject(
    void* self, const void* items, void* parent) {
  static void (*real)(void*, const void*, void*);
  if (!real)
    real = (void (*)(void*, const void*, void*))dlsym(RTLD_NEXT, __func__);
  otherClientFirst();
  real(self, items, parent);
}
