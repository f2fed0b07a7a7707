#include "vynIdHTTPDates.h"

#include <gtest/gtest.h>

#include "vynTestTimeZone.h"

namespace vyn {
namespace {

using test::TTimeZoneGuard;

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  return ComposeDateTime(EncodeDate(y, mo, d), EncodeTime(h, mi, s, ms));
}

// Compares to the millisecond.
void ExpectSameInstant(TDateTime AActual, TDateTime AExpected, const std::string& AWhat) {
  EXPECT_EQ(DateTimeToUnixMSec(AActual), DateTimeToUnixMSec(AExpected))
      << AWhat << ": got " << ToUtf8(HttpDateText(AActual)) << ", want " << ToUtf8(HttpDateText(AExpected));
}

TEST(HttpDate, TextOfUtcAndOfLocalTime) {
  EXPECT_EQ(HttpDateText(At(1994, 11, 6, 8, 49, 37)), u"Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDateText(At(1970, 1, 1, 0, 0, 0)), u"Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(HttpDateText(At(2024, 2, 29, 23, 59, 59, 999)), u"Thu, 29 Feb 2024 23:59:59 GMT");
  TTimeZoneGuard tz(test::kTZCentralEurope);
  EXPECT_EQ(LocalToHttpDateText(At(1994, 11, 6, 9, 49, 37)), u"Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(LocalToHttpDateText(At(2023, 7, 1, 10, 0, 0)), u"Sat, 01 Jul 2023 08:00:00 GMT");
}

TEST(HttpDate, ClassicFormsOfOneInstantReadAlikeInLocalTime) {
  const char16_t* forms[] = {u"Sun, 06 Nov 1994 08:49:37 GMT", u"Sunday, 06-Nov-94 08:49:37 GMT",
                             u"Sun Nov  6 08:49:37 1994"};
  {
    TTimeZoneGuard tz(test::kTZCentralEurope);
    for (const auto* form : forms) ExpectSameInstant(ParseHttpDate(form), At(1994, 11, 6, 9, 49, 37), ToUtf8(form));
  }
  {
    TTimeZoneGuard tz(test::kTZUTC);
    for (const auto* form : forms) ExpectSameInstant(ParseHttpDate(form), At(1994, 11, 6, 8, 49, 37), ToUtf8(form));
  }
}

TEST(HttpDate, FormsZonesAndYears) {
  TTimeZoneGuard tz(test::kTZUTC);
  struct Case {
    const char16_t* Text;
    TDateTime Utc;
  } cases[] = {
      {u"Sun,06 Nov 1994 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37)},
      {u"  06 Nov 1994 08:49:37 GMT  ", At(1994, 11, 6, 8, 49, 37)},
      {u"Nov 06 1994 08:49:37", At(1994, 11, 6, 8, 49, 37)},
      {u"06 Nov 1994 08:49:37 +0100", At(1994, 11, 6, 7, 49, 37)},
      {u"06 Nov 1994 08:49:37 -05:30", At(1994, 11, 6, 14, 19, 37)},
      {u"06 Nov 1994 08:49:37 +02", At(1994, 11, 6, 6, 49, 37)},
      {u"06 Nov 1994 08:49:37 +01x0", At(1994, 11, 6, 8, 49, 37)},
      // Names: the first row of a shared name wins.
      {u"06 Nov 1994 08:49:37 EST", At(1994, 11, 5, 21, 49, 37)},
      {u"06 Nov 1994 08:49:37 CST", At(1994, 11, 5, 22, 19, 37)},
      {u"06 Nov 1994 08:49:37 pst", At(1994, 11, 6, 16, 49, 37)},
      {u"06 Nov 1994 08:49:37 UT", At(1994, 11, 6, 8, 49, 37)},
      {u"06 Nov 1994 08:49:37 WET", At(1994, 11, 6, 8, 49, 37)},
      {u"06 Nov 1994 08:49:37 NOSUCHZONE", At(1994, 11, 6, 8, 49, 37)},
      // Twelve-hour clock, attached or apart.
      {u"Sun, 06 Nov 1994 8:49:37 PM GMT", At(1994, 11, 6, 20, 49, 37)},
      {u"Sun, 06 Nov 1994 12:05:00am GMT", At(1994, 11, 6, 0, 5, 0)},
      {u"Sun, 06 Nov 1994 12:05:00 PM GMT", At(1994, 11, 6, 12, 5, 0)},
      {u"06 Nov 1994 08.49.37 GMT", At(1994, 11, 6, 8, 49, 37)},
      {u"06 Nov 1994 08:49:37.250 GMT", At(1994, 11, 6, 8, 49, 37)},
      {u"06 Nov 1994 08:49 GMT", At(1994, 11, 6, 8, 49, 0)},
      {u"06 Nov 1994", At(1994, 11, 6, 0, 0, 0)},
      // Two- and three-digit years.
      {u"06-Nov-49 08:49:37 GMT", At(2049, 11, 6, 8, 49, 37)},
      {u"06-Nov-50 08:49:37 GMT", At(1950, 11, 6, 8, 49, 37)},
      {u"06 Nov 094 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37)},
      // Month names of other languages.
      {u"06 Okt 1994 08:49:37 GMT", At(1994, 10, 6, 8, 49, 37)},
      {u"06 m\u00E4rz 1994 08:49:37 GMT", At(1994, 3, 6, 8, 49, 37)},
      {u"06 SEPTIEMBRE 1994 08:49:37 GMT", At(1994, 9, 6, 8, 49, 37)},
      {u"06 ao\u00FBt 1994 08:49:37 GMT", At(1994, 8, 6, 8, 49, 37)},
      {u"06 Maart 1994 08:49:37 GMT", At(1994, 3, 6, 8, 49, 37)},
      // ISO 8601.
      {u"1994-11-06T08:49:37Z", At(1994, 11, 6, 8, 49, 37)},
      {u"1994-11-06T08:49:37.25+01:00", At(1994, 11, 6, 7, 49, 37, 250)},
      {u"1994-11-06T08:49:37.123456 -0200", At(1994, 11, 6, 10, 49, 37, 123)},
      {u"1994-11-06T08:49Z", At(1994, 11, 6, 8, 49, 0)},
      {u"1994-11-06 08:49:37 GMT", At(1994, 11, 6, 8, 49, 37)},
      {u"1994-11-06", At(1994, 11, 6, 0, 0, 0)},
      {u"1994-11", At(1994, 11, 1, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    TDateTime parsed;
    EXPECT_TRUE(TryParseHttpDate(c.Text, parsed)) << ToUtf8(c.Text);
    ExpectSameInstant(parsed, c.Utc, ToUtf8(c.Text));
  }
}

TEST(HttpDate, UnreadableTextsGiveZero) {
  TTimeZoneGuard tz(test::kTZUTC);
  const char16_t* bad[] = {
      u"garbage", u"31 Feb 1994 08:49:37 GMT", u"06 Foo 1994 08:49:37 GMT", u"06 Nov 1994 25:00:00 GMT",
      u"06 Nov 1994 08:61:00 GMT", u"06 Nov", u"Sun, 06 Nov xx 08:49:37 yy",
      // Ends right after the minutes: not ISO, and the general rules cannot read it.
      u"1994-11-06T08:49", u"0000-01-01T00:00:00Z",
  };
  for (const auto* text : bad) {
    TDateTime parsed = 1;
    EXPECT_FALSE(TryParseHttpDate(text, parsed)) << ToUtf8(text);
    EXPECT_EQ(parsed, 0) << ToUtf8(text);
    EXPECT_EQ(ParseHttpDate(text), 0) << ToUtf8(text);
  }
  TDateTime parsed = 1;
  EXPECT_TRUE(TryParseHttpDate(u"   ", parsed));
  EXPECT_EQ(parsed, 0);
}

TEST(HttpDate, LocalTextRoundTripsAcrossSummerTime) {
  TTimeZoneGuard tz(test::kTZCentralEurope);
  const TDateTime locals[] = {At(2023, 3, 26, 1, 59, 59), At(2023, 3, 26, 3, 0, 0), At(2023, 10, 29, 3, 30, 0),
                              At(2023, 12, 31, 23, 59, 59), At(1901, 1, 1, 12, 0, 0)};
  for (const auto local : locals) {
    const String text = LocalToHttpDateText(local);
    ExpectSameInstant(ParseHttpDate(text), local, ToUtf8(text));
  }
}

TEST(HttpDate, TablesHoldTheirBindingRows) {
  EXPECT_EQ(ZoneTableSize(), 245);
  EXPECT_EQ(ZoneOffsetMinutes(u"EST"), 11 * 60);
  EXPECT_EQ(ZoneOffsetMinutes(u"cst"), 10 * 60 + 30);
  for (const auto* zero : {u"GMT", u"UT", u"UTC", u"Z", u"WET", u"", u"-1", u"???"})
    EXPECT_EQ(ZoneOffsetMinutes(zero), 0) << ToUtf8(zero);
  EXPECT_EQ(ZoneOffsetMinutes(u"-0930"), -(9 * 60 + 30));
  EXPECT_EQ(MonthFromName(u"jan"), 1);
  EXPECT_EQ(MonthFromName(u"MAI"), 5);
  EXPECT_EQ(MonthFromName(u"J\u00C4N"), 1);
  EXPECT_EQ(MonthFromName(u"sept"), 9);
  EXPECT_EQ(MonthFromName(u"JUI"), 7);
  EXPECT_EQ(MonthFromName(u"Ja"), 0);
  EXPECT_EQ(MonthFromName(u""), 0);
}

}  // namespace
}  // namespace vyn
