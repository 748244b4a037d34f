// The catalogue of reminder lists, as the array that `list` prints.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "store/reminder_store.h"

namespace corvane {

using ColorText = std::function<std::string(const std::optional<RgbColor>&)>;

// One six-member record per list, in store order.
nlohmann::ordered_json listRecords(const ReminderStore& store,
                                   const ColorText& colorText);

// The record of one list.
nlohmann::ordered_json listRecord(const ReminderList& list,
                                  const ColorText& colorText);

}  // namespace corvane
