#include "store/eds/eds_list.h"

#include "store/eds/eds_identifiers.h"
#include "store/eds/glib_ptr.h"
#include "store/rgb_color.h"
#include "store/utf8.h"

namespace corvane {

ReminderList describeTaskList(ESourceRegistry* registry, ESource* source,
                              bool writable) {
  auto* extension = static_cast<ESourceTaskList*>(
      e_source_get_extension(source, E_SOURCE_EXTENSION_TASK_LIST));
  ReminderList list;
  list.identifier =
      repairUtf8(edsListIdentifier(takeText(e_source_dup_uid(source))));
  list.title = repairUtf8(takeText(e_source_dup_display_name(source)));
  auto [accountKind, listKind] = kindsOfBackend(
      takeText(e_source_backend_dup_backend_name(E_SOURCE_BACKEND(extension))));
  list.kind = listKind;
  list.account.kind = accountKind;
  list.allowsContentModifications = writable;
  std::string parentUid = takeText(e_source_dup_parent(source));
  if (!parentUid.empty()) {
    GObjectPtr<ESource> parent(
        e_source_registry_ref_source(registry, parentUid.c_str()));
    if (parent)
      list.account.title =
          repairUtf8(takeText(e_source_dup_display_name(parent.get())));
  }
  list.color = parseColor(
      takeText(e_source_selectable_dup_color(E_SOURCE_SELECTABLE(extension))));
  return list;
}

std::pair<AccountKind, ListKind> kindsOfBackend(const std::string& backend) {
  if (backend == "caldav" || backend == "webdav" || backend == "gtasks")
    return {AccountKind::kCalDav, ListKind::kCalDav};
  if (backend == "ews" || backend == "microsoft365")
    return {AccountKind::kExchange, ListKind::kExchange};
  if (backend == "webcal")
    return {AccountKind::kSubscribed, ListKind::kSubscribed};
  return {AccountKind::kLocal, ListKind::kLocal};
}

}  // namespace corvane
