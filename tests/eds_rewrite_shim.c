/* Loaded with LD_PRELOAD into corvane by the EDS tests of changes that
 * race another program or stop half way. By default, the second time
 * corvane reads a task's objects (the read just before it writes, after
 * the lookup), the task's title is changed first, through EDS, as another
 * program would change it; with EDS_SHIM_CHANGE_BEFORE_WRITE set, it is
 * changed instead just before corvane's write, after every read. With
 * EDS_SHIM_STOP_AFTER_CREATE set, corvane instead ends as if killed right
 * after its first new object is made: the completed occurrence of a
 * series, before the series moves on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libecal/libecal.h>
#include <stdlib.h>
#include <unistd.h>

static int changing;

/* Another program's change of the task's title, through EDS. */
static void change_title(ECalClient* client, const gchar* uid) {
  ICalComponent* todo = NULL;
  changing = 1;
  if (e_cal_client_get_object_sync(client, uid, NULL, &todo, NULL, NULL)) {
    i_cal_component_set_summary(todo, "Changed by another program");
    e_cal_client_modify_object_sync(client, todo, E_CAL_OBJ_MOD_THIS,
                                    E_CAL_OPERATION_FLAG_NONE, NULL, NULL);
    g_object_unref(todo);
  }
  changing = 0;
}

static int change_before_write(void) {
  static int changed;
  return !changing && getenv("EDS_SHIM_CHANGE_BEFORE_WRITE") && !changed++;
}

gboolean e_cal_client_modify_object_sync(
    ECalClient* client, ICalComponent* icalcomp, ECalObjModType mod,
    ECalOperationFlags opflags, GCancellable* cancellable, GError** error) {
  static gboolean (*real)(ECalClient*, ICalComponent*, ECalObjModType,
                          ECalOperationFlags, GCancellable*, GError**);
  if (!real)
    real = (gboolean(*)(ECalClient*, ICalComponent*, ECalObjModType,
                        ECalOperationFlags, GCancellable*,
                        GError**))dlsym(RTLD_NEXT, __func__);
  if (change_before_write())
    change_title(client, i_cal_component_get_uid(icalcomp));
  return real(client, icalcomp, mod, opflags, cancellable, error);
}

gboolean e_cal_client_remove_object_sync(ECalClient* client, const gchar* uid,
                                         const gchar* rid, ECalObjModType mod,
                                         ECalOperationFlags opflags,
                                         GCancellable* cancellable,
                                         GError** error) {
  static gboolean (*real)(ECalClient*, const gchar*, const gchar*,
                          ECalObjModType, ECalOperationFlags, GCancellable*,
                          GError**);
  if (!real)
    real = (gboolean(*)(ECalClient*, const gchar*, const gchar*, ECalObjModType,
                        ECalOperationFlags, GCancellable*,
                        GError**))dlsym(RTLD_NEXT, __func__);
  if (change_before_write()) change_title(client, uid);
  return real(client, uid, rid, mod, opflags, cancellable, error);
}

gboolean e_cal_client_create_object_sync(
    ECalClient* client, ICalComponent* icalcomp, ECalOperationFlags opflags,
    gchar** out_uid, GCancellable* cancellable, GError** error) {
  static gboolean (*real)(ECalClient*, ICalComponent*, ECalOperationFlags,
                          gchar**, GCancellable*, GError**);
  if (!real)
    real =
        (gboolean(*)(ECalClient*, ICalComponent*, ECalOperationFlags, gchar**,
                     GCancellable*, GError**))dlsym(RTLD_NEXT, __func__);
  gboolean made = real(client, icalcomp, opflags, out_uid, cancellable, error);
  if (getenv("EDS_SHIM_STOP_AFTER_CREATE")) _exit(137);
  return made;
}

gboolean e_cal_client_get_objects_for_uid_sync(ECalClient* client,
                                               const gchar* uid,
                                               GSList** out_ecalcomps,
                                               GCancellable* cancellable,
                                               GError** error) {
  static int calls;
  static gboolean (*real)(ECalClient*, const gchar*, GSList**, GCancellable*,
                          GError**);
  if (!real)
    real = (gboolean(*)(ECalClient*, const gchar*, GSList**, GCancellable*,
                        GError**))dlsym(RTLD_NEXT, __func__);
  if (!getenv("EDS_SHIM_STOP_AFTER_CREATE") &&
      !getenv("EDS_SHIM_CHANGE_BEFORE_WRITE") && !changing && ++calls == 2)
    change_title(client, uid);
  return real(client, uid, out_ecalcomps, cancellable, error);
}
