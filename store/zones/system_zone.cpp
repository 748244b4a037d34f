#include "store/zones/system_zone.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "store/system/descriptor.h"
#include "store/zones/database_zone.h"

namespace corvane {
namespace {

enum class ZoneFile { kNone, kRegular, kOther };

// The file the C library reads for a TZ value, and what it is: TZ names a
// zone file (":" first or not, absolute or under TZDIR) before it is read
// as a POSIX rule. Opened without waiting, so that a FIFO cannot block.
ZoneFile zoneFileOf(std::string name, std::string& path) {
  if (!name.empty() && name[0] == ':') name.erase(0, 1);
  if (name.empty()) name = "Universal";
  if (name[0] == '/') {
    path = name;
  } else {
    const char* directory = std::getenv("TZDIR");
    path = directory && directory[0] ? directory : "/usr/share/zoneinfo";
    path += "/" + name;
  }
  Descriptor file(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return ZoneFile::kNone;
  struct stat info;
  bool regular = ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
  return regular ? ZoneFile::kRegular : ZoneFile::kOther;
}

// A TZ that names a FIFO, a device or a folder would have the C library
// (and ICU and libical through it) wait on it or read it as a zone; it is
// replaced by UTC before main runs, while no other thread can read the
// environment yet.
bool settleZoneVariable() {
  std::string path;
  const char* value = std::getenv("TZ");
  if (!value || zoneFileOf(value, path) != ZoneFile::kOther) return true;
  ::setenv("TZ", "UTC0", 1);
  if (zoneFileOf("UTC0", path) == ZoneFile::kOther) ::unsetenv("TZDIR");
  return false;
}

[[maybe_unused]] const bool kZoneVariableSettled = settleZoneVariable();

// The zone a TZ value names through Abseil, loaded once per value: null for
// a POSIX rule, which the C library reads instead.
std::shared_ptr<const TimeZone> zoneOfVariable(const char* value) {
  static std::mutex mutex;
  static std::string loadedFor;
  static std::shared_ptr<const TimeZone> loaded;
  static bool known = false;
  std::lock_guard lock(mutex);
  if (known && loadedFor == value) return loaded;
  std::string path;
  switch (zoneFileOf(value, path)) {
    case ZoneFile::kRegular:
      loaded = zoneFromFile(path);
      break;
    case ZoneFile::kOther:
      loaded = utcTimeZone();
      break;
    case ZoneFile::kNone:
      loaded.reset();
      break;
  }
  loadedFor = value;
  known = true;
  return loaded;
}

// The C library's local time, from its conversion of instants alone, which
// depends on nothing asked before (mktime answers a repeated time from what
// it was asked before).
class CLibraryZone final : public TimeZone {
 public:
  std::optional<std::chrono::seconds> offsetAt(Instant instant) const override {
    ::tzset();  // localtime_r need not look at TZ again by itself
    const std::time_t seconds = instant.time_since_epoch().count();
    std::tm fields{};
    if (!::localtime_r(&seconds, &fields)) return std::nullopt;
    return std::chrono::seconds{fields.tm_gmtoff};
  }
};

class SystemZone final : public TimeZone {
 public:
  std::optional<std::chrono::seconds> offsetAt(Instant instant) const override {
    // A zone file is read once, through Abseil; the C library reads it
    // again for each conversion, and serves only a POSIX rule.
    const char* value = std::getenv("TZ");
    auto zone = value ? zoneOfVariable(value) : localtimeFileZone();
    return (zone ? *zone : *cLibraryZone()).offsetAt(instant);
  }
};

}  // namespace

std::shared_ptr<const TimeZone> systemTimeZone() {
  static const auto zone = std::make_shared<SystemZone>();
  return zone;
}

std::shared_ptr<const TimeZone> cLibraryZone() {
  static const auto zone = std::make_shared<CLibraryZone>();
  return zone;
}

}  // namespace corvane
