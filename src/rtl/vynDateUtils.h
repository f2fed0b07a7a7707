// Date-time values and the few date helpers the protocols need.
#pragma once

#include <cstdint>

#include "vynSysUtils.h"

namespace vyn {

// Days since 1899-12-30 00:00, local time unless a name says otherwise. The fraction
// is the time of day; for days before the epoch the value is the (negative) day minus
// the time of day, so the fraction's magnitude is always the time.
using TDateTime = double;

inline constexpr double SecsPerDay = 86400.0;
inline constexpr double MSecsPerDay = 86400000.0;
inline constexpr double OneSecond = 1.0 / SecsPerDay;
// The value of 1970-01-01 00:00.
inline constexpr double UnixDateDelta = 25569.0;

// Years 1 to 9999. The Try forms return false for an impossible date or time; the
// others raise EConvertError "Invalid argument to date encode" / "... time encode".
bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& ADate);
TDateTime EncodeDate(int AYear, int AMonth, int ADay);
bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TDateTime& ATime);
TDateTime EncodeTime(int AHour, int AMin, int ASec, int AMSec);
// A date (whole days) and a time of day joined by the sign convention above.
TDateTime ComposeDateTime(TDateTime ADate, TDateTime ATime);

// The value is first rounded to whole milliseconds.
void DecodeDate(TDateTime ADateTime, int& AYear, int& AMonth, int& ADay);
void DecodeTime(TDateTime ADateTime, int& AHour, int& AMin, int& ASec, int& AMSec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime ADateTime);

// The current local date-time.
TDateTime Now();

// Conversions with the local time-zone rules (TZ as glibc reads it). A local time that
// a clock change skips or repeats is resolved the way mktime resolves it.
TDateTime LocalTimeToUTC(TDateTime ALocal);
TDateTime UTCToLocalTime(TDateTime AUtc);

// Milliseconds since 1970-01-01 00:00 and back, without any time-zone conversion.
int64_t DateTimeToUnixMSec(TDateTime ADateTime);
TDateTime UnixMSecToDateTime(int64_t AMSec);

}  // namespace vyn
