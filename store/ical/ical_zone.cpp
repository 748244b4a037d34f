#include "store/ical/ical_zone.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "store/ical/nesting.h"
#include "store/zones/database_zone.h"

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

  // Only the offsets: libical itself would read a skipped time with the
  // offset after the change and a repeated one as its second occurrence.
  std::optional<std::chrono::seconds> offsetAt(Instant instant) const override {
    icaltimetype utc = icaltime_from_timet_with_zone(
        static_cast<std::time_t>(instant.time_since_epoch().count()), 0,
        icaltimezone_get_utc_timezone());
    int isDaylight = 0;
    std::lock_guard guard(zoneLock());
    return std::chrono::seconds{
        icaltimezone_get_utc_offset_of_utc_time(zone_, &utc, &isDaylight)};
  }

 private:
  icaltimezone* zone_;
  bool owned_;
};

// Working out a zone's clock changes costs far more than reading a whole
// item, and the files that one program writes carry the same VTIMEZONE
// text; so each distinct text becomes one zone, shared by every item of the
// process that carries it. Equal text means equal rules, so sharing changes
// no answer. Keys are the component's text, as the file has it or as
// libical writes it out. Call with zoneLock() held.
std::unordered_map<std::string, std::shared_ptr<const TimeZone>>& knownZones() {
  static std::unordered_map<std::string, std::shared_ptr<const TimeZone>> zones;
  return zones;
}

// libical works out a zone's clock changes lazily, year range by year
// range; only when every offset is less than a day does the answer for a
// time not depend on which times were asked for before. Other zones are
// not shared, so that each item's answers stay its own.
bool isShareable(icalcomponent* vtimezone) {
  constexpr int kDay = 24 * 3600;
  for (auto kind : {ICAL_XSTANDARD_COMPONENT, ICAL_XDAYLIGHT_COMPONENT}) {
    for (icalcomponent* rule =
             icalcomponent_get_first_component(vtimezone, kind);
         rule; rule = icalcomponent_get_next_component(vtimezone, kind)) {
      for (auto offset :
           {ICAL_TZOFFSETFROM_PROPERTY, ICAL_TZOFFSETTO_PROPERTY}) {
        icalproperty* property = icalcomponent_get_first_property(rule, offset);
        if (!property) return false;
        int seconds = offset == ICAL_TZOFFSETFROM_PROPERTY
                          ? icalproperty_get_tzoffsetfrom(property)
                          : icalproperty_get_tzoffsetto(property);
        if (seconds <= -kDay || seconds >= kDay) return false;
      }
    }
  }
  return true;
}

// A zone of its own for `vtimezone`, which it takes over; null when libical
// cannot make one of it.
std::shared_ptr<const TimeZone> zoneOwning(icalcomponent* vtimezone) {
  icaltimezone* zone = icaltimezone_new();
  if (zone && icaltimezone_set_component(zone, vtimezone))
    return std::make_shared<IcalZone>(zone, true);
  if (zone) icaltimezone_free(zone, 1);
  icalcomponent_free(vtimezone);
  return nullptr;
}

// The shared zone for the VTIMEZONE text `key`, made from the component
// that `parse` gives for the key (null: none) the first time. Call with
// zoneLock() held.
template <typename Parse>
std::shared_ptr<const TimeZone> sharedZone(std::string key, Parse parse) {
  auto& zones = knownZones();
  if (auto found = zones.find(key); found != zones.end()) return found->second;
  icalcomponent* vtimezone = parse(key);
  if (!vtimezone) return nullptr;
  bool shareable = isShareable(vtimezone);
  auto made = zoneOwning(vtimezone);
  if (made && shareable) zones.emplace(std::move(key), made);
  return made;
}

std::shared_ptr<const TimeZone> zoneDefinedBy(icalcomponent* vtimezone) {
  std::lock_guard guard(zoneLock());
  char* text = icalcomponent_as_ical_string_r(vtimezone);
  if (!text) return nullptr;
  std::string key(text);
  icalmemory_free_buffer(text);
  return sharedZone(std::move(key), [&](const std::string&) {
    return icalcomponent_new_clone(vtimezone);
  });
}

}  // namespace

std::shared_ptr<const TimeZone> icalZoneFromText(
    std::string_view vtimezoneText) {
  std::lock_guard guard(zoneLock());
  return sharedZone(
      std::string(vtimezoneText), [](const std::string& key) -> icalcomponent* {
        if (nestsTooDeep(key)) return nullptr;
        icalcomponent* component = icalparser_parse_string(key.c_str());
        if (component &&
            icalcomponent_isa(component) != ICAL_VTIMEZONE_COMPONENT) {
          icalcomponent_free(component);
          return nullptr;
        }
        return component;
      });
}

std::shared_ptr<const TimeZone> icalZoneFor(icalcomponent* calendar,
                                            const std::string& tzid) {
  if (calendar) {
    for (icalcomponent* vtimezone = icalcomponent_get_first_component(
             calendar, ICAL_VTIMEZONE_COMPONENT);
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
  // The database's zones live as long as the process; each name is looked
  // up once.
  static std::unordered_map<std::string, std::shared_ptr<const TimeZone>> named;
  std::lock_guard guard(zoneLock());
  if (auto found = named.find(tzid); found != named.end()) return found->second;
  // libical would work out each database zone's clock changes from its
  // first year, 1847 for some, which costs milliseconds a zone; it stays
  // for the names only it understands (its own prefixed TZIDs).
  std::shared_ptr<const TimeZone> zone = databaseZone(tzid);
  if (!zone) {
    if (icaltimezone* known = libicalZoneFor(nullptr, tzid.c_str()))
      zone = std::make_shared<IcalZone>(known, false);
  }
  named.emplace(tzid, zone);
  return zone;
}

icaltimezone* libicalZoneFor(icalcomponent* calendar, const char* tzid) {
  if (calendar)
    if (icaltimezone* own = icalcomponent_get_timezone(calendar, tzid))
      return own;
  if (icaltimezone* known = icaltimezone_get_builtin_timezone(tzid))
    return known;
  return icaltimezone_get_builtin_timezone_from_tzid(tzid);
}

}  // namespace corvane
