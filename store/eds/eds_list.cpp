#include "store/eds/eds_list.h"

#include <cstdio>
#include <cstring>

#include "store/eds/eds_identifiers.h"
#include "store/eds/glib_ptr.h"
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
  list.color = parseSourceColor(
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

std::optional<RgbColor> parseSourceColor(const std::string& text) {
  unsigned red, green, blue;
  int used = -1;
  if (text.size() == 7 &&
      std::sscanf(text.c_str(), "#%2x%2x%2x%n", &red, &green, &blue, &used) ==
          3 &&
      used == 7 && std::strspn(text.c_str() + 1, "0123456789abcdefABCDEF") == 6)
    return RgbColor{red / 255.0, green / 255.0, blue / 255.0};
  double alpha;
  used = -1;
  if ((std::sscanf(text.c_str(), "rgb(%u,%u,%u)%n", &red, &green, &blue,
                   &used) == 3 ||
       std::sscanf(text.c_str(), "rgba(%u,%u,%u,%lf)%n", &red, &green, &blue,
                   &alpha, &used) == 4) &&
      used == static_cast<int>(text.size()) && red <= 255 && green <= 255 &&
      blue <= 255)
    return RgbColor{red / 255.0, green / 255.0, blue / 255.0};
  return std::nullopt;
}

}  // namespace corvane
