// Sets TZ for the lifetime of the guard and restores the previous setting.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vyn::test {

// POSIX rule strings need no zone database: central Europe with its summer time.
inline constexpr const char* kTZCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kTZUTC = "UTC0";

class TTimeZoneGuard {
public:
  explicit TTimeZoneGuard(const char* ATZ) {
    if (const char* old = std::getenv("TZ")) FOld = old;
    setenv("TZ", ATZ, 1);
    tzset();
  }
  ~TTimeZoneGuard() {
    if (FOld) setenv("TZ", FOld->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  TTimeZoneGuard(const TTimeZoneGuard&) = delete;
  TTimeZoneGuard& operator=(const TTimeZoneGuard&) = delete;

private:
  std::optional<std::string> FOld;
};

}  // namespace vyn::test
