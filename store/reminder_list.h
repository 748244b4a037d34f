// A reminder list and the account that holds it, as the store describes
// them. Kind numbers are the ones the JSON output shows unchanged.
#pragma once

#include <optional>
#include <string>

namespace corvane {

// Account kinds ("sourceType").
enum class AccountKind : int {
  kLocal = 0,
  kExchange = 1,
  kCalDav = 2,
  kSubscribed = 4,
  kBirthdays = 5,
};

// List kinds ("type").
enum class ListKind : int {
  kLocal = 0,
  kCalDav = 1,
  kExchange = 2,
  kSubscribed = 3,
  kBirthdays = 4,
};

struct Account {
  std::string title;
  AccountKind kind = AccountKind::kLocal;
};

// Red, green and blue in 0..1; a list without a colour has none.
struct RgbColor {
  double red = 0, green = 0, blue = 0;
};

struct ReminderList {
  std::string identifier;  // "<account>/<list>"
  std::string title;
  ListKind kind = ListKind::kLocal;
  bool allowsContentModifications = false;
  Account account;
  std::optional<RgbColor> color;
};

}  // namespace corvane
