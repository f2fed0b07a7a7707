// HTTP date texts, in a time zone with summer time.
//
// Two kinds of input, chosen by the first byte:
// - any text: reading never fails or raises; an unreadable text gives false and 0;
//   ParseHttpDate agrees with TryParseHttpDate; a date that was read, written back
//   with LocalToHttpDateText, reads as the same instant to the second.
// - a date built from fields in one of the forms servers send (RFC 1123, RFC 850,
//   asctime, ISO 8601, with names or numeric zones, 12-hour times, Spanish month
//   names): it reads as exactly that instant.
#include <cmath>

#include "vynFuzz.h"
#include "vynIdHTTPDates.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

constexpr const char16_t* kDays[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
constexpr const char16_t* kFullDays[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                         u"Thursday", u"Friday", u"Saturday"};
constexpr const char16_t* kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                       u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
constexpr const char16_t* kFullMonths[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                           u"July",    u"August",   u"September", u"October", u"November", u"December"};
constexpr const char16_t* kSpanishMonths[] = {u"enero",      u"fbrero",  u"marzo",     u"abril",
                                              u"mayo",       u"junio",   u"julio",     u"agosto",
                                              u"septiembre", u"octubre", u"noviembre", u"diciembre"};

struct TZoneName {
  const char16_t* Name;
  int Minutes;
};
constexpr TZoneName kZoneNames[] = {{u"GMT", 0},   {u"UTC", 0},   {u"UT", 0},     {u"Z", 0},
                                    {u"EST", 660}, {u"CST", 630}, {u"PST", -480}, {u"CEST", 120},
                                    {u"JST", 540}, {u"gmt", 0},   {u"NZDT", 780}};

// The mixed case a server may use for a name.
String Cased(const String& AText, uint8_t AHow) {
  String out = AText;
  for (auto& c : out) {
    if (AHow == 1 && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (AHow == 2 && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

String Two(int AValue) { return FormatInvariant(u"%.2d", {AValue}); }

// A zone word and its offset: a name from the table, or "+hhmm", "-hh:mm" or "+hh".
String ZoneWord(TFuzzInput& AIn, bool ANamesAllowed, int& AMinutes) {
  const int kind = AIn.Range(0, 3);
  if (kind == 0 && ANamesAllowed) {
    const auto& z = kZoneNames[AIn.Range(0, std::size(kZoneNames) - 1)];
    AMinutes = z.Minutes;
    return z.Name;
  }
  const int sign = AIn.Bool() ? -1 : 1;
  const int hh = AIn.Range(0, 23), mm = AIn.Range(0, 59);
  const String s = sign < 0 ? u"-" : u"+";
  if (kind == 2) {
    AMinutes = sign * hh * 60;
    return s + Two(hh);
  }
  AMinutes = sign * (hh * 60 + mm);
  return kind == 3 ? s + Two(hh) + u':' + Two(mm) : s + Two(hh) + Two(mm);
}

void ArbitraryText(TFuzzInput& AIn) {
  const String text = TextOf(AIn.Rest(), AIn.Bool() ? tfUTF8 : tfLatin1);
  TDateTime read = -1;
  const bool ok = TryParseHttpDate(text, read);
  const auto context = [&] { return std::string("text [" + Show(text) + "]"); };
  FUZZ_CHECK(std::isfinite(read), context());
  FUZZ_CHECK(ok || read == 0, context());
  FUZZ_CHECK(ParseHttpDate(text) == (ok ? read : 0), context());
  // Written back and read again: the same local time to the second, as long as the
  // date has four-digit years on both sides of the zone.
  if (!ok || read == 0 || read < -693593.0 + 2 || read > 2958465.0 - 2) return;
  const String again = LocalToHttpDateText(read);
  TDateTime reread = 0;
  FUZZ_CHECK(TryParseHttpDate(again, reread), context() + " written back as [" + Show(again) + "]");
  const int64_t a = DateTimeToUnixMSec(read), b = DateTimeToUnixMSec(reread);
  const auto wholeSecond = [](int64_t AMSec) { return AMSec >= 0 ? AMSec / 1000 : -((-AMSec + 999) / 1000); };
  FUZZ_CHECK(wholeSecond(a) == wholeSecond(b) && b % 1000 == 0,
             context() + " written back as [" + Show(again) + "] reads " + std::to_string(b - a) + " ms off");
}

// The text must read as the fields' instant, shown in local time.
void BuiltCheck(const String& AText, int AYear, int AMonth, int ADay, int AHour, int AMin, int ASec, int AMSec,
                int AOffset) {
  const int64_t utc =
      DateTimeToUnixMSec(ComposeDateTime(EncodeDate(AYear, AMonth, ADay), EncodeTime(AHour, AMin, ASec, AMSec))) -
      static_cast<int64_t>(AOffset) * 60000;
  // Instants that the zone moves out of the years 1 to 9999 are not compared.
  const int64_t first = DateTimeToUnixMSec(EncodeDate(1, 1, 2)), last = DateTimeToUnixMSec(EncodeDate(9999, 12, 30));
  TDateTime read = 0;
  const bool ok = TryParseHttpDate(AText, read);
  if (utc < first || utc > last) return;
  const auto context = [&] { return std::string("text [" + Show(AText) + "], offset " + std::to_string(AOffset)); };
  FUZZ_CHECK(ok, context());
  const int64_t expected = DateTimeToUnixMSec(UTCToLocalTime(UnixMSecToDateTime(utc)));
  const int64_t got = DateTimeToUnixMSec(read);
  FUZZ_CHECK(std::llabs(got - expected) <= 1, context() + " reads " + std::to_string(got - expected) + " ms off");
}

void BuiltDate(TFuzzInput& AIn) {
  const int form = AIn.Range(0, 5);
  const bool twoDigitYear = form == 1;
  int year = twoDigitYear ? AIn.Range(0, 99) : AIn.Range(1, 9999);
  const int shownYear = year;
  if (twoDigitYear) year += year < 50 ? 2000 : 1900;
  const int month = AIn.Range(1, 12);
  TDateTime date;
  int day = AIn.Range(1, 31);
  while (!TryEncodeDate(year, month, day, date)) --day;
  const int hour = AIn.Range(0, 23), minute = AIn.Range(0, 59);
  int second = AIn.Range(0, 59), msec = 0;
  const uint8_t casing = static_cast<uint8_t>(AIn.Range(0, 2));
  const String dayName = Cased(kDays[DayOfWeek(date) - 1], casing);
  const String time = Two(hour) + u':' + Two(minute) + u':' + Two(second);
  int offset = 0;
  String text;
  switch (form) {
    case 0:  // Sun, 06 Nov 1994 08:49:37 GMT
      text = dayName + u", " + Two(day) + u' ' + Cased(kMonths[month - 1], casing) + u' ' +
             FormatInvariant(u"%.4d", {year}) + u' ' + time + u' ' + ZoneWord(AIn, true, offset);
      break;
    case 1:  // Sunday, 06-Nov-94 08:49:37 GMT
      text = Cased(kFullDays[DayOfWeek(date) - 1], casing) + u", " + Two(day) + u'-' +
             Cased(kMonths[month - 1], casing) + u'-' + Two(shownYear) + u' ' + time + u' ' +
             ZoneWord(AIn, true, offset);
      break;
    case 2:  // Sun Nov  6 08:49:37 1994
      text = dayName + u' ' + Cased(kMonths[month - 1], casing) + u' ' + FormatInvariant(u"%2d", {day}) + u' ' + time +
             u' ' + FormatInvariant(u"%.4d", {year});
      break;
    case 3: {  // 1994-11-06T08:49:37.123Z, or without the fraction, or without the seconds
      const int precision = AIn.Range(0, 2);
      text = FormatInvariant(u"%.4d-%.2d-%.2dT%.2d:%.2d", {year, month, day, hour, minute});
      if (precision >= 1)
        text += u':' + Two(second);
      else
        second = 0;
      if (precision == 2) {
        msec = AIn.Range(0, 999);
        text += FormatInvariant(u".%.3d", {msec});
      }
      text += AIn.Bool() ? String(u"Z") : ZoneWord(AIn, false, offset);
      break;
    }
    case 4: {  // 06 November 1994 8:49:37 PM +0100 (a 12-hour clock)
      const int h12 = hour % 12 == 0 ? 12 : hour % 12;
      text = Two(day) + u' ' + Cased(kFullMonths[month - 1], casing) + u' ' + FormatInvariant(u"%.4d", {year}) + u' ' +
             IntToStr(h12) + u':' + Two(minute) + u':' + Two(second) + (hour < 12 ? u" AM " : u" PM ") +
             ZoneWord(AIn, true, offset);
      break;
    }
    case 5:  // 6 marzo 1994 08:49:37 +01:00
      text = IntToStr(day) + u' ' + Cased(kSpanishMonths[month - 1], casing) + u' ' + FormatInvariant(u"%.4d", {year}) +
             u' ' + time + u' ' + ZoneWord(AIn, true, offset);
      break;
  }
  BuiltCheck(text, year, month, day, hour, minute, second, msec, offset);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Central European rules: local time differs from UTC, and some local times repeat.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  if (in.Byte() & 1)
    BuiltDate(in);
  else
    ArbitraryText(in);
  return 0;
}
