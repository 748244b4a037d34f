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

/* The library's own constructor. corvane loads Akonadi's library with its
 * module, out of the global scope, where RTLD_NEXT does not look. */
static void* real(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found) return found;
  void* library = dlopen("libKF5AkonadiCore.so.5abi2", RTLD_LAZY | RTLD_NOLOAD);
  return library ? dlsym(library, name) : NULL;
}

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
  static void (*made)(void*, const void*, void*);
  if (!made) made = (void (*)(void*, const void*, void*))real(__func__);
  otherClientFirst();
  made(self, item, parent);
}

/* Akonadi::ItemModifyJob::ItemModifyJob(const QVector<Item>&, QObject*) */
void _ZN7Akonadi13ItemModifyJobC1ERK7QVectorINS_4ItemEEP7QObject(
    void* self, const void* items, void* parent) {
  static void (*made)(void*, const void*, void*);
  if (!made) made = (void (*)(void*, const void*, void*))real(__func__);
  otherClientFirst();
  made(self, items, parent);
}
