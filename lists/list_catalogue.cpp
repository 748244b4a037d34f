#include "lists/list_catalogue.h"

namespace corvane {

nlohmann::ordered_json listRecord(const ReminderList& list,
                                  const ColorText& colorText) {
  nlohmann::ordered_json source = nlohmann::ordered_json::object();
  source["title"] = list.account.title;
  source["sourceType"] = static_cast<int>(list.account.kind);
  nlohmann::ordered_json record = nlohmann::ordered_json::object();
  record["calendarIdentifier"] = list.identifier;
  record["title"] = list.title;
  record["type"] = static_cast<int>(list.kind);
  record["allowsContentModifications"] = list.allowsContentModifications;
  record["source"] = std::move(source);
  record["color"] = colorText(list.color);
  return record;
}

nlohmann::ordered_json listRecords(const ReminderStore& store,
                                   const ColorText& colorText) {
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  for (const auto& list : store.reminderLists())
    records.push_back(listRecord(list, colorText));
  return records;
}

}  // namespace corvane
