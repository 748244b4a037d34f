/* Loaded with LD_PRELOAD into corvane by the EDS test of changes that race
 * another program: the second time corvane reads a task's objects (the
 * read just before it writes, after the lookup), the task's title is
 * changed first, through EDS, as another program would change it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libecal/libecal.h>

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
  ICalComponent* todo = NULL;
  if (++calls == 2 &&
      e_cal_client_get_object_sync(client, uid, NULL, &todo, NULL, NULL)) {
    i_cal_component_set_summary(todo, "Changed by another program");
    e_cal_client_modify_object_sync(client, todo, E_CAL_OBJ_MOD_THIS,
                                    E_CAL_OPERATION_FLAG_NONE, NULL, NULL);
    g_object_unref(todo);
  }
  return real(client, uid, out_ecalcomps, cancellable, error);
}
