#include "store/akonadi/akonadi_identifiers.h"

#include <charconv>

namespace corvane {
namespace {

// A positive id written as akonadiListIdentifier writes it.
std::optional<std::int64_t> idOf(std::string_view digits) {
  if (digits.empty() || digits.front() == '0') return std::nullopt;
  std::int64_t id = 0;
  auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size() || id <= 0)
    return std::nullopt;
  return id;
}

std::optional<std::string_view> afterPrefix(std::string_view identifier) {
  if (!identifier.starts_with(kAkonadiPrefix)) return std::nullopt;
  return identifier.substr(kAkonadiPrefix.size());
}

}  // namespace

std::string akonadiListIdentifier(std::int64_t collection) {
  return std::string(kAkonadiPrefix) + std::to_string(collection);
}

std::string akonadiReminderIdentifier(const AkonadiItemName& name) {
  return akonadiListIdentifier(name.collection) + '/' +
         std::to_string(name.item);
}

bool isAkonadiListIdentifier(std::string_view identifier) {
  return collectionOf(identifier).has_value();
}

bool isAkonadiReminderIdentifier(std::string_view identifier) {
  return itemNameOf(identifier).has_value();
}

std::optional<std::int64_t> collectionOf(std::string_view listIdentifier) {
  auto rest = afterPrefix(listIdentifier);
  if (!rest) return std::nullopt;
  return idOf(*rest);
}

std::optional<AkonadiItemName> itemNameOf(std::string_view reminderIdentifier) {
  auto rest = afterPrefix(reminderIdentifier);
  if (!rest) return std::nullopt;
  std::size_t slash = rest->find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  auto collection = idOf(rest->substr(0, slash));
  auto item = idOf(rest->substr(slash + 1));
  if (!collection || !item) return std::nullopt;
  return AkonadiItemName{*collection, *item};
}

}  // namespace corvane
