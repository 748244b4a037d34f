#include "store/system_zone.h"

#include <absl/time/time.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "store/database_zone.h"

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
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return ZoneFile::kNone;
  struct stat info;
  bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
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

class SystemZone final : public TimeZone {
 public:
  std::optional<Instant> instantFor(const LocalDateTime& t) const override {
    // The zone file is read once through Abseil, which resolves every
    // local time by one rule; the C library's mktime reads the file again
    // for each conversion and answers a repeated time from what it was
    // asked before.
    const char* value = std::getenv("TZ");
    auto zone = value ? zoneOfVariable(value) : localtimeFileZone();
    if (zone) return zone->instantFor(t);
    return instantFromCLibrary(t);
  }
};

std::optional<long> offsetAt(std::time_t instant) {
  std::tm fields{};
  if (!::localtime_r(&instant, &fields)) return std::nullopt;
  return fields.tm_gmtoff;
}

}  // namespace

std::shared_ptr<const TimeZone> systemTimeZone() {
  static const auto zone = std::make_shared<SystemZone>();
  return zone;
}

std::optional<Instant> instantFromCLibrary(const LocalDateTime& t) {
  using namespace std::chrono;
  ::tzset();  // localtime_r need not look at TZ again by itself
  sys_days day = year{t.year} / t.month / t.day;
  const std::time_t local = (day.time_since_epoch() + hours{t.hour} +
                             minutes{t.minute} + seconds{t.second})
                                .count();
  constexpr std::time_t kDay = 86400;
  // Offsets in force a day before, at and a day after the wall-clock time
  // read as UTC: the instant sought lies between, so one of them is its
  // offset, unless the time was skipped.
  auto before = offsetAt(local - kDay);
  if (!before) return std::nullopt;
  std::optional<std::time_t> first;
  for (auto offset : {before, offsetAt(local), offsetAt(local + kDay)}) {
    if (!offset) continue;
    std::time_t candidate = local - *offset;
    if (offsetAt(candidate) == offset && (!first || candidate < *first))
      first = candidate;
  }
  // Skipped: the offset before the change carries the time past the gap.
  return Instant{seconds{first.value_or(local - *before)}};
}

}  // namespace corvane
