#include "store/zones/database_zone.h"

#include <absl/time/time.h>

#include <cctype>
#include <chrono>

namespace corvane {
namespace {

// Abseil reads the database file once and answers from its table of clock
// changes and the file's rule for later years, without working out any
// year it is not asked about.
class DatabaseZone final : public TimeZone {
 public:
  explicit DatabaseZone(absl::TimeZone zone) : zone_(zone) {}

  std::optional<std::chrono::seconds> offsetAt(Instant instant) const override {
    return std::chrono::seconds{
        zone_.At(absl::FromUnixSeconds(instant.time_since_epoch().count()))
            .offset};
  }

 private:
  absl::TimeZone zone_;
};

bool isNamePart(const std::string& part) {
  if (part.empty() || part == "." || part == "..") return false;
  for (unsigned char c : part)
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '+' && c != '.')
      return false;
  return true;
}

}  // namespace

bool isZoneName(const std::string& name) {
  constexpr size_t kLongestName = 255;
  if (name.empty() || name.size() > kLongestName) return false;
  size_t start = 0;
  while (true) {
    size_t slash = name.find('/', start);
    if (!isNamePart(name.substr(start, slash - start))) return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::shared_ptr<const TimeZone> zoneFromFile(const std::string& path) {
  absl::TimeZone loaded;
  if (path.empty() || path[0] != '/' || !absl::LoadTimeZone(path, &loaded))
    return nullptr;
  return std::make_shared<DatabaseZone>(loaded);
}

std::shared_ptr<const TimeZone> localtimeFileZone() {
  static const std::shared_ptr<const TimeZone> zone = [] {
    absl::TimeZone loaded;
    return absl::LoadTimeZone("/etc/localtime", &loaded)
               ? std::make_shared<DatabaseZone>(loaded)
               : std::shared_ptr<DatabaseZone>();
  }();
  return zone;
}

std::shared_ptr<const TimeZone> databaseZone(const std::string& name) {
  // "localtime" is Abseil's word for the system zone, not a database name.
  if (!isZoneName(name) || name == "localtime") return nullptr;
  absl::TimeZone zone;
  if (!absl::LoadTimeZone(name, &zone)) return nullptr;
  return std::make_shared<DatabaseZone>(zone);
}

}  // namespace corvane
