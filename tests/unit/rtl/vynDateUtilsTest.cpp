#include "vynDateUtils.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "vynTestTimeZone.h"

namespace vyn {
namespace {

using test::TTimeZoneGuard;

TEST(DateUtils, EncodeKnownDaysAndRejectImpossibleOnes) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2);  // leap day
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1);  // no leap day
  TDateTime d;
  for (auto [y, m, day] : {std::tuple{2001, 2, 29}, {2000, 13, 1}, {2000, 4, 31}, {0, 1, 1}, {2000, 1, 0}})
    EXPECT_FALSE(TryEncodeDate(y, m, day, d)) << y << "-" << m << "-" << day;
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
}

TEST(DateUtils, DecodeRoundTripsOnBothSidesOfTheEpoch) {
  struct Case {
    int Y, M, D, H, N, S, MS;
  } cases[] = {{1899, 12, 30, 0, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0},   {1600, 2, 29, 23, 59, 59, 999},
               {1970, 1, 1, 0, 0, 0, 1}, {2038, 1, 19, 3, 14, 8, 0},   {9999, 12, 31, 12, 30, 0, 500}};
  for (const auto& c : cases) {
    const TDateTime value = ComposeDateTime(EncodeDate(c.Y, c.M, c.D), EncodeTime(c.H, c.N, c.S, c.MS));
    int y, m, d, h, n, s, ms;
    DecodeDate(value, y, m, d);
    DecodeTime(value, h, n, s, ms);
    EXPECT_EQ(std::tuple(y, m, d, h, n, s, ms), std::tuple(c.Y, c.M, c.D, c.H, c.N, c.S, c.MS)) << value;
    EXPECT_EQ(UnixMSecToDateTime(DateTimeToUnixMSec(value)), value);
  }
  // 1899-12-29 06:00 is the day before the epoch minus a quarter day.
  EXPECT_DOUBLE_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)), -1.25);
  // A value a hair below midnight rounds to the next day, not to 24:00.
  int y, m, d, h, n, s, ms;
  const TDateTime almost = EncodeDate(2020, 12, 31) + 0.99999999999;
  DecodeDate(almost, y, m, d);
  DecodeTime(almost, h, n, s, ms);
  EXPECT_EQ(std::tuple(y, m, d, h, n, s, ms), std::tuple(2021, 1, 1, 0, 0, 0, 0));
}

TEST(DateUtils, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1994, 11, 6)), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29) - 0.75), 6);
  EXPECT_EQ(DayOfWeek(EncodeDate(1970, 1, 1)), 5);
}

TEST(DateUtils, LocalAndUtcFollowTheZoneRules) {
  TTimeZoneGuard tz(test::kTZCentralEurope);
  const TDateTime winterUtc = EncodeDate(2023, 1, 15) + EncodeTime(12, 0, 0, 0);
  const TDateTime summerUtc = EncodeDate(2023, 7, 15) + EncodeTime(12, 0, 0, 0);
  EXPECT_DOUBLE_EQ(UTCToLocalTime(winterUtc), EncodeDate(2023, 1, 15) + EncodeTime(13, 0, 0, 0));
  EXPECT_DOUBLE_EQ(UTCToLocalTime(summerUtc), EncodeDate(2023, 7, 15) + EncodeTime(14, 0, 0, 0));
  EXPECT_DOUBLE_EQ(LocalTimeToUTC(UTCToLocalTime(summerUtc)), summerUtc);
  // Milliseconds survive the conversion.
  const TDateTime withMs = summerUtc + EncodeTime(0, 0, 0, 123);
  EXPECT_EQ(DateTimeToUnixMSec(LocalTimeToUTC(UTCToLocalTime(withMs))), DateTimeToUnixMSec(withMs));

  const TDateTime now = Now();
  const time_t t = time(nullptr);
  const TDateTime expected = UTCToLocalTime(UnixMSecToDateTime(static_cast<int64_t>(t) * 1000));
  EXPECT_NEAR(now, expected, 5 * OneSecond);
}

}  // namespace
}  // namespace vyn
