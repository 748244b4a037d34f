#include "store/ical_zone.h"

#include <mutex>
#include <unordered_map>

namespace corvane {
namespace {

// libical fills a zone's table of clock changes lazily, and the zones of
// the time zone database are shared by the whole process; reminders are
// read on several threads, so every use of a libical zone goes through
// this lock.
std::mutex& zoneLock() {
  static std::mutex lock;
  return lock;
}

class IcalZone final : public TimeZone {
 public:
  IcalZone(icaltimezone* zone, bool owned) : zone_(zone), owned_(owned) {}
  ~IcalZone() override {
    if (owned_) icaltimezone_free(zone_, 1);
  }
  IcalZone(const IcalZone&) = delete;
  IcalZone& operator=(const IcalZone&) = delete;

  std::optional<Instant> instantFor(const LocalDateTime& t) const override {
    icaltimetype local = icaltime_null_time();
    local.year = t.year;
    local.month = t.month;
    local.day = t.day;
    local.hour = t.hour;
    local.minute = t.minute;
    local.second = t.second;
    std::lock_guard guard(zoneLock());
    return Instant{std::chrono::seconds{icaltime_as_timet_with_zone(local, zone_)}};
  }

 private:
  icaltimezone* zone_;
  bool owned_;
};

// The zone a VTIMEZONE defines. Working out a zone's clock changes costs
// far more than reading a whole item, and the files that one program
// writes carry the same VTIMEZONE text; so each distinct text becomes one
// zone, shared by every item of the process that carries it. Equal text
// means equal rules, so sharing changes no answer.
std::shared_ptr<const TimeZone> zoneDefinedBy(icalcomponent* vtimezone) {
  char* text = icalcomponent_as_ical_string_r(vtimezone);
  if (!text) return nullptr;
  std::string key(text);
  icalmemory_free_buffer(text);
  static std::unordered_map<std::string, std::shared_ptr<const TimeZone>> zones;
  std::lock_guard guard(zoneLock());
  if (auto found = zones.find(key); found != zones.end()) return found->second;
  icaltimezone* zone = icaltimezone_new();
  if (!zone) return nullptr;
  if (!icaltimezone_set_component(zone, icalcomponent_new_clone(vtimezone))) {
    icaltimezone_free(zone, 1);
    return nullptr;
  }
  auto made = std::make_shared<IcalZone>(zone, true);
  zones.emplace(std::move(key), made);
  return made;
}

}  // namespace

std::shared_ptr<const TimeZone> icalZoneFor(icalcomponent* calendar,
                                            const std::string& tzid) {
  if (calendar) {
    for (icalcomponent* vtimezone =
             icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT);
         vtimezone; vtimezone = icalcomponent_get_next_component(
                        calendar, ICAL_VTIMEZONE_COMPONENT)) {
      icalproperty* id =
          icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
      const char* value = id ? icalproperty_get_tzid(id) : nullptr;
      if (!value || tzid != value) continue;
      if (auto zone = zoneDefinedBy(vtimezone)) return zone;
      break;
    }
  }
  std::lock_guard guard(zoneLock());
  icaltimezone* known = icaltimezone_get_builtin_timezone(tzid.c_str());
  if (!known) known = icaltimezone_get_builtin_timezone_from_tzid(tzid.c_str());
  if (!known) return nullptr;
  return std::make_shared<IcalZone>(known, false);
}

}  // namespace corvane
