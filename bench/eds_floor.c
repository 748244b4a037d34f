/* The least a program can do through libecal for what corvane's EDS store
 * does in one run, as a floor to compare with:
 *   eds_floor list          registry, every task list, each one's client
 *   eds_floor today         the same, then every object of every list as text
 *   eds_floor get SRC UID   registry, one list's client, one object as text
 * Prints a count, so that the work cannot be left out. */
#include <libecal/libecal.h>
#include <stdio.h>
#include <string.h>

static ECalClient *connect_list(ESource *source) {
  return E_CAL_CLIENT(e_cal_client_connect_sync(
      source, E_CAL_CLIENT_SOURCE_TYPE_TASKS, (guint32)-1, NULL, NULL));
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  ESourceRegistry *registry = e_source_registry_new_sync(NULL, NULL);
  if (!registry) return 1;
  long count = 0;
  if (strcmp(argv[1], "get") == 0 && argc == 4) {
    ESource *source = e_source_registry_ref_source(registry, argv[2]);
    ECalClient *client = source ? connect_list(source) : NULL;
    GSList *objects = NULL;
    if (client && e_cal_client_get_objects_for_uid_sync(client, argv[3],
                                                        &objects, NULL, NULL))
      for (GSList *item = objects; item; item = item->next) {
        gchar *text = e_cal_component_get_as_string(item->data);
        count += (long)strlen(text);
        g_free(text);
      }
    printf("%ld\n", count);
    return 0;
  }
  GList *lists =
      e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_TASK_LIST);
  for (GList *list = lists; list; list = list->next) {
    ECalClient *client = connect_list(list->data);
    if (!client) continue;
    count += e_client_is_readonly(E_CLIENT(client)) ? 0 : 1;
    GSList *objects = NULL;
    if (strcmp(argv[1], "today") == 0 &&
        e_cal_client_get_object_list_sync(client, "#t", &objects, NULL, NULL))
      for (GSList *item = objects; item; item = item->next) {
        gchar *text = i_cal_component_as_ical_string(item->data);
        count += (long)strlen(text);
        g_free(text);
      }
  }
  printf("%ld\n", count);
  return 0;
}
