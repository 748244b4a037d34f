#include "store/eds/eds_identifiers.h"

#include <algorithm>

namespace corvane {
namespace {

// The text after the prefix, holding `slashes` slashes and no empty part.
std::optional<std::string_view> partsAfterPrefix(std::string_view identifier,
                                                 std::size_t slashes) {
  if (!identifier.starts_with(kEdsPrefix)) return std::nullopt;
  identifier.remove_prefix(kEdsPrefix.size());
  if (static_cast<std::size_t>(std::ranges::count(identifier, '/')) != slashes)
    return std::nullopt;
  if (identifier.empty() || identifier.front() == '/' ||
      identifier.back() == '/')
    return std::nullopt;
  return identifier;
}

}  // namespace

std::string edsListIdentifier(std::string_view sourceUid) {
  return std::string(kEdsPrefix).append(sourceUid);
}

std::string edsReminderIdentifier(const EdsObjectName& name) {
  std::string identifier = edsListIdentifier(name.sourceUid);
  identifier += '/';
  for (char c : name.uid) {
    if (c == '%')
      identifier += "%25";
    else if (c == '/')
      identifier += "%2F";
    else
      identifier += c;
  }
  return identifier;
}

bool isEdsListIdentifier(std::string_view identifier) {
  return partsAfterPrefix(identifier, 0).has_value();
}

bool isEdsReminderIdentifier(std::string_view identifier) {
  return partsAfterPrefix(identifier, 1).has_value();
}

std::optional<std::string> sourceUidOf(std::string_view listIdentifier) {
  auto parts = partsAfterPrefix(listIdentifier, 0);
  if (!parts) return std::nullopt;
  return std::string(*parts);
}

std::optional<EdsObjectName> objectNameOf(std::string_view reminderIdentifier) {
  auto parts = partsAfterPrefix(reminderIdentifier, 1);
  if (!parts) return std::nullopt;
  std::size_t slash = parts->find('/');
  EdsObjectName name{std::string(parts->substr(0, slash)), {}};
  std::string_view escaped = parts->substr(slash + 1);
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      name.uid += escaped[i];
    } else if (escaped.substr(i, 3) == "%25") {
      name.uid += '%';
      i += 2;
    } else if (escaped.substr(i, 3) == "%2F") {
      name.uid += '/';
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return name;
}

}  // namespace corvane
