#include "vynDateUtils.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace vyn {

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
constexpr int64_t kUnixDays = 25569;

bool IsLeapYear(int AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

int DaysInMonth(int AYear, int AMonth) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : kDays[AMonth - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& AYear, int& AMonth, int& ADay) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  AYear = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  AMonth = static_cast<int>(m);
  ADay = static_cast<int>(d);
}

// Splits a value into its day number (days since 1899-12-30) and the milliseconds of
// the day, rounding to whole milliseconds.
void SplitDateTime(TDateTime ADateTime, int64_t& ADays, int64_t& AMSecOfDay) {
  double whole;
  const double frac = std::modf(ADateTime, &whole);
  ADays = static_cast<int64_t>(whole);
  AMSecOfDay = std::llround(std::fabs(frac) * MSecsPerDay);
  if (AMSecOfDay >= kMSecsPerDay) {
    AMSecOfDay -= kMSecsPerDay;
    ADays += ADateTime < 0 ? -1 : 1;
  }
}

// The offset of local time from UTC, in seconds, at the UTC instant ASeconds.
long LocalOffsetAt(time_t ASeconds) {
  tm local{};
  if (!localtime_r(&ASeconds, &local)) return 0;
  return local.tm_gmtoff;
}

}  // namespace

bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& ADate) {
  if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1 ||
      ADay > DaysInMonth(AYear, AMonth))
    return false;
  ADate = static_cast<double>(DaysFromCivil(AYear, AMonth, ADay) + kUnixDays);
  return true;
}

TDateTime EncodeDate(int AYear, int AMonth, int ADay) {
  TDateTime result;
  if (!TryEncodeDate(AYear, AMonth, ADay, result)) EConvertError::Toss(u"Invalid argument to date encode");
  return result;
}

bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TDateTime& ATime) {
  if (AHour < 0 || AHour > 23 || AMin < 0 || AMin > 59 || ASec < 0 || ASec > 59 || AMSec < 0 ||
      AMSec > 999)
    return false;
  ATime = (AHour * 3600000.0 + AMin * 60000.0 + ASec * 1000.0 + AMSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(int AHour, int AMin, int ASec, int AMSec) {
  TDateTime result;
  if (!TryEncodeTime(AHour, AMin, ASec, AMSec, result)) EConvertError::Toss(u"Invalid argument to time encode");
  return result;
}

TDateTime ComposeDateTime(TDateTime ADate, TDateTime ATime) {
  return ADate < 0 ? ADate - ATime : ADate + ATime;
}

void DecodeDate(TDateTime ADateTime, int& AYear, int& AMonth, int& ADay) {
  int64_t days, msec;
  SplitDateTime(ADateTime, days, msec);
  CivilFromDays(days - kUnixDays, AYear, AMonth, ADay);
}

void DecodeTime(TDateTime ADateTime, int& AHour, int& AMin, int& ASec, int& AMSec) {
  int64_t days, msec;
  SplitDateTime(ADateTime, days, msec);
  AHour = static_cast<int>(msec / 3600000);
  AMin = static_cast<int>(msec / 60000 % 60);
  ASec = static_cast<int>(msec / 1000 % 60);
  AMSec = static_cast<int>(msec % 1000);
}

int DayOfWeek(TDateTime ADateTime) {
  int64_t days, msec;
  SplitDateTime(ADateTime, days, msec);
  // 1970-01-01 was a Thursday (5).
  const int64_t unixDays = days - kUnixDays;
  return static_cast<int>(((unixDays % 7) + 7 + 4) % 7) + 1;
}

int64_t DateTimeToUnixMSec(TDateTime ADateTime) {
  int64_t days, msec;
  SplitDateTime(ADateTime, days, msec);
  return (days - kUnixDays) * kMSecsPerDay + msec;
}

TDateTime UnixMSecToDateTime(int64_t AMSec) {
  int64_t unixDays = AMSec / kMSecsPerDay;
  int64_t msec = AMSec % kMSecsPerDay;
  if (msec < 0) {
    msec += kMSecsPerDay;
    --unixDays;
  }
  return ComposeDateTime(static_cast<double>(unixDays + kUnixDays), msec / MSecsPerDay);
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const int64_t utcMSec = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return UnixMSecToDateTime(utcMSec + static_cast<int64_t>(LocalOffsetAt(ts.tv_sec)) * 1000);
}

TDateTime UTCToLocalTime(TDateTime AUtc) {
  const int64_t msec = DateTimeToUnixMSec(AUtc);
  const time_t seconds = static_cast<time_t>(msec >= 0 ? msec / 1000 : (msec - 999) / 1000);
  return UnixMSecToDateTime(msec + static_cast<int64_t>(LocalOffsetAt(seconds)) * 1000);
}

TDateTime LocalTimeToUTC(TDateTime ALocal) {
  int year, month, day, hour, min, sec, msec;
  DecodeDate(ALocal, year, month, day);
  DecodeTime(ALocal, hour, min, sec, msec);
  tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = min;
  local.tm_sec = sec;
  local.tm_isdst = -1;
  // mktime reports -1 both for an error and for one second before the epoch; the
  // broken-down time it normalised tells the two apart.
  errno = 0;
  const time_t seconds = mktime(&local);
  if (seconds == static_cast<time_t>(-1) && errno != 0) return ALocal;
  return UnixMSecToDateTime(static_cast<int64_t>(seconds) * 1000 + msec);
}

}  // namespace vyn
