#include "store/ical_zone.h"

#include <mutex>

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
      icaltimezone* zone = icaltimezone_new();
      if (zone && icaltimezone_set_component(zone, icalcomponent_new_clone(vtimezone)))
        return std::make_shared<IcalZone>(zone, true);
      if (zone) icaltimezone_free(zone, 1);
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
