/* Another program editing tasks through libecal while corvane changes the
 * same ones, for bench/eds_lost_updates:
 *   eds_writer SRC PAUSE_MS SECONDS UID...
 * For SECONDS it goes round the UIDs: reads the series' main object,
 * checks that its X-WRITER value is the last one this writer wrote (if it
 * is not, someone wrote back an older version over the writer's: a lost
 * update), then writes the next value. Prints "writes N lost M". */
#include <libecal/libecal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static long value_of(ICalComponent *todo) {
  for (ICalProperty *p =
           i_cal_component_get_first_property(todo, I_CAL_X_PROPERTY);
       p; p = i_cal_component_get_next_property(todo, I_CAL_X_PROPERTY)) {
    const char *name = i_cal_property_get_x_name(p);
    long value = name && strcmp(name, "X-WRITER") == 0
                     ? atol(i_cal_property_get_x(p))
                     : -1;
    g_object_unref(p);
    if (value >= 0) return value;
  }
  return 0;
}

static void set_value(ICalComponent *todo, long value) {
  ICalProperty *p = i_cal_component_get_first_property(todo, I_CAL_X_PROPERTY);
  while (p) {
    ICalProperty *next =
        i_cal_component_get_next_property(todo, I_CAL_X_PROPERTY);
    const char *name = i_cal_property_get_x_name(p);
    if (name && strcmp(name, "X-WRITER") == 0)
      i_cal_component_remove_property(todo, p);
    g_object_unref(p);
    p = next;
  }
  char text[32];
  snprintf(text, sizeof text, "%ld", value);
  p = i_cal_property_new_x(text);
  i_cal_property_set_x_name(p, "X-WRITER");
  i_cal_component_take_property(todo, p);
}

int main(int argc, char **argv) {
  if (argc < 5) return 2;
  ESourceRegistry *registry = e_source_registry_new_sync(NULL, NULL);
  ESource *source =
      registry ? e_source_registry_ref_source(registry, argv[1]) : NULL;
  ECalClient *client = source ? E_CAL_CLIENT(e_cal_client_connect_sync(
                                    source, E_CAL_CLIENT_SOURCE_TYPE_TASKS,
                                    (guint32)-1, NULL, NULL))
                              : NULL;
  if (!client) return 1;
  long pause_ms = atol(argv[2]), writes = 0, lost = 0;
  int uids = argc - 4;
  long *last = calloc((size_t)uids, sizeof *last);
  gint64 end = g_get_monotonic_time() + atol(argv[3]) * G_USEC_PER_SEC;
  for (int i = 0; g_get_monotonic_time() < end; i = (i + 1) % uids) {
    ICalComponent *todo = NULL;
    if (!e_cal_client_get_object_sync(client, argv[4 + i], NULL, &todo, NULL,
                                      NULL))
      continue;
    if (value_of(todo) < last[i]) ++lost;
    set_value(todo, ++writes);
    if (e_cal_client_modify_object_sync(client, todo, E_CAL_OBJ_MOD_THIS,
                                        E_CAL_OPERATION_FLAG_NONE, NULL, NULL))
      last[i] = writes;
    g_object_unref(todo);
    if (pause_ms > 0) g_usleep((gulong)pause_ms * 1000);
  }
  printf("writes %ld lost %ld\n", writes, lost);
  return 0;
}
