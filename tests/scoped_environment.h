// For tests: sets or clears environment variables for one scope and puts
// back what was there before, so locale and time zone tests do not leak
// into each other.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
    tzset();
  }

  void set(const std::string& name, const std::string& value) {
    save(name);
    setenv(name.c_str(), value.c_str(), 1);
    tzset();
  }

  void unset(const std::string& name) {
    save(name);
    unsetenv(name.c_str());
    tzset();
  }

  // Only LC_ALL decides the locale; TZ names the zone.
  void useLocaleAndZone(const std::string& locale, const std::string& zone) {
    set("LC_ALL", locale);
    unset("LC_TIME");
    unset("LANG");
    set("TZ", zone);
  }

 private:
  void save(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(
        name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Sets the process's time zone (TZ) for one scope.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) {
    environment_.set("TZ", zone);
  }

 private:
  ScopedEnvironment environment_;
};

}  // namespace corvane
