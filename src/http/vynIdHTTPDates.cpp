#include "vynIdHTTPDates.h"

#include <vector>

namespace vyn {

namespace {

constexpr StringView kDayNames[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
constexpr StringView kMonthNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                      u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};

// Month names by row, then by month; an empty entry is no name. Searched row by row,
// the first hit winning.
constexpr StringView kMonthTable[15][12] = {
    {u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN", u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"},
    {u"JANUARY", u"FEBRUARY", u"MARCH", u"APRIL", u"", u"JUNE", u"JULY", u"AUGUST", u"SEPTEMBER",
     u"OCTOBER", u"NOVEMBER", u"DECEMBER"},
    {u"", u"", u"", u"", u"", u"", u"", u"", u"SEPT", u"", u"", u""},
    {u"J\u00C4N", u"", u"MRZ", u"", u"MAI", u"JUNI", u"JULI", u"", u"", u"OKT", u"", u"DEZ"},
    {u"JANUAR", u"FEBRUAR", u"M\u00C4RZ", u"", u"MAI", u"", u"", u"", u"", u"OKTOBER", u"",
     u"DEZEMBER"},
    {u"ENO", u"FBRO", u"MZO", u"ABR", u"", u"", u"", u"AGTO", u"SBRE", u"OBRE", u"NBRE", u"DBRE"},
    {u"ENERO", u"FBRERO", u"MARZO", u"ABRIL", u"MAYO", u"JUNIO", u"JULIO", u"AGOSTO",
     u"SEPTIEMBRE", u"OCTUBRE", u"NOVIEMBRE", u"DICIEMBRE"},
    {u"", u"", u"", u"AB", u"", u"", u"", u"", u"SET", u"", u"", u"DIC"},
    {u"", u"", u"MRT", u"", u"", u"", u"", u"", u"", u"", u"", u""},
    {u"JANUARI", u"FEBRUARI", u"MAART", u"", u"MEI", u"", u"", u"AUGUSTUS", u"", u"", u"", u""},
    {u"JANV", u"F\u00C9V", u"", u"AVR", u"", u"", u"JUIL", u"AO\u00DB", u"", u"", u"", u"D\u00C9C"},
    {u"JANVIER", u"F\u00C9VRIER", u"MARS", u"AVRIL", u"", u"JUIN", u"JUILLET", u"AO\u00DBT",
     u"SEPTEMBRE", u"OCTOBRE", u"NOVEMBRE", u"D\u00C9CEMBRE"},
    {u"", u"F\u00C9VR", u"", u"", u"", u"", u"JUI", u"", u"", u"", u"", u""},
    {u"", u"", u"", u"", u"", u"", u"", u"AVG", u"", u"", u"", u""},
    {u"", u"", u"MAREC", u"", u"MAJ", u"JUNJI", u"JULIJ", u"AVGUST", u"", u"", u"", u""},
};

struct TZoneRow {
  StringView Name;
  int Minutes;  // east of UTC
};

// Zone abbreviations with their offsets. Names used by several zones keep the order in
// which the first match wins (so "EST" and "CST" read as the Australian summer times).
constexpr TZoneRow kZones[] = {
    {u"A", 60}, {u"ACDT", 630}, {u"ACST", 570}, {u"ACT", -300}, {u"ACWST", 525}, {u"ADT", -180},
    {u"AEDT", 660}, {u"AEST", 600}, {u"AFT", 270}, {u"AKDT", -480}, {u"AKST", -540},
    {u"ALMT", 360}, {u"AMST", -180}, {u"AMST", 300}, {u"AMT", -240}, {u"AMT", 240},
    {u"ANAST", 720}, {u"ANAT", 720}, {u"AQTT", 300}, {u"ART", -180}, {u"AST", -240}, {u"AST", 180},
    {u"AWDT", 540}, {u"AWST", 480}, {u"AZOST", 0}, {u"AZOT", -60}, {u"AZST", 300}, {u"AZT", 240},
    {u"B", 120}, {u"BNT", 480}, {u"BOT", -240}, {u"BRST", -120}, {u"BRT", -180}, {u"BST", 60},
    {u"BST", 360}, {u"BTT", 360}, {u"C", 180}, {u"CAST", 480}, {u"CAT", 120}, {u"CCT", 390},
    {u"CDT", 630}, {u"CDT", -300}, {u"CDT", -240}, {u"CEDT", 120}, {u"CEST", 120}, {u"CET", 60},
    {u"CHADT", 825}, {u"CHAST", 765}, {u"CHOT", 480}, {u"CHUT", 600}, {u"CKT", -600},
    {u"CLST", -180}, {u"CLT", -240}, {u"COT", -300}, {u"CST", 630}, {u"CST", 570}, {u"CST", -360},
    {u"CST", 480}, {u"CST", -300}, {u"CVT", -60}, {u"CXT", 420}, {u"D", 240}, {u"DAVT", 420},
    {u"DDUT", 600}, {u"E", 300}, {u"EASST", -300}, {u"EAST", -360}, {u"EAT", 180}, {u"ECT", -300},
    {u"EDT", 660}, {u"EDT", -240}, {u"EEDT", 180}, {u"EEST", 180}, {u"EET", 120}, {u"EGST", 0},
    {u"EGT", -60}, {u"EST", 660}, {u"EST", 600}, {u"EST", -300}, {u"ET", -300}, {u"F", 360},
    {u"FET", 180}, {u"FJST", 780}, {u"FJT", 720}, {u"FKST", -180}, {u"FKT", -240}, {u"FNT", -120},
    {u"G", 420}, {u"GALT", -360}, {u"GAMT", -540}, {u"GET", 240}, {u"GFT", -180}, {u"GILT", 720},
    {u"GMT", 0}, {u"GST", 240}, {u"GST", -120}, {u"GYT", -240}, {u"H", 480}, {u"HAA", -180},
    {u"HAC", -300}, {u"HADT", -540}, {u"HAE", -240}, {u"HAP", -420}, {u"HAR", -360},
    {u"HAST", -600}, {u"HAT", -150}, {u"HDT", -540}, {u"HKT", 480}, {u"HLV", -270}, {u"HNA", -240},
    {u"HNC", -360}, {u"HNE", -300}, {u"HNP", -480}, {u"HNR", -420}, {u"HNT", -210}, {u"HOVT", 420},
    {u"HST", -600}, {u"I", 540}, {u"ICT", 420}, {u"IDT", 180}, {u"IOT", 360}, {u"IRDT", 270},
    {u"IRKST", 540}, {u"IRKT", 480}, {u"IRST", 210}, {u"IST", 330}, {u"IST", 60}, {u"IST", 120},
    {u"JST", 540}, {u"K", 600}, {u"KGT", 360}, {u"KOST", 660}, {u"KRAST", 480}, {u"KRAT", 420},
    {u"KST", 540}, {u"KUYT", 240}, {u"L", 660}, {u"LHDT", 660}, {u"LHST", 630}, {u"LINT", 840},
    {u"M", 720}, {u"MAGST", 720}, {u"MAGT", 660}, {u"MART", -570}, {u"MAWT", 300}, {u"MDT", -360},
    {u"MEST", 120}, {u"MESZ", 120}, {u"MET", 60}, {u"MEZ", 60}, {u"MHT", 720}, {u"MMT", 390},
    {u"MSD", 240}, {u"MSK", 180}, {u"MST", -420}, {u"MUT", 240}, {u"MVT", 300}, {u"MYT", 480},
    {u"N", -60}, {u"NCT", 660}, {u"NDT", -150}, {u"NFT", 690}, {u"NOVST", 420}, {u"NOVT", 420},
    {u"NPT", 345}, {u"NRT", 720}, {u"NST", -210}, {u"NUT", -660}, {u"NZDT", 780}, {u"NZST", 720},
    {u"O", -120}, {u"OMSST", 420}, {u"OMST", 360}, {u"P", -180}, {u"PDT", -420}, {u"PET", -300},
    {u"PETST", 720}, {u"PETT", 720}, {u"PGT", 600}, {u"PHOT", 780}, {u"PHT", 480}, {u"PKT", 300},
    {u"PMDT", -120}, {u"PMST", -180}, {u"PONT", 660}, {u"PST", -480}, {u"PT", -480}, {u"PWT", 540},
    {u"PYST", -180}, {u"PYT", -240}, {u"Q", -240}, {u"R", -300}, {u"RET", 240}, {u"S", -360},
    {u"SAMT", 240}, {u"SAST", 120}, {u"SBT", 660}, {u"SCT", 240}, {u"SGT", 480}, {u"SRT", -180},
    {u"SST", -660}, {u"T", -420}, {u"TAHT", -600}, {u"TFT", 300}, {u"TJT", 300}, {u"TKT", 780},
    {u"TLT", 540}, {u"TMT", 300}, {u"TOT", 780}, {u"TVT", 720}, {u"U", -480}, {u"ULAT", 480},
    {u"UT", 0}, {u"UTC", 0}, {u"UYST", -120}, {u"UYT", -180}, {u"UZT", 300}, {u"V", -540},
    {u"VET", -240}, {u"VLAST", 660}, {u"VLAT", 600}, {u"VUT", 660}, {u"W", -600}, {u"WAST", 120},
    {u"WAT", 60}, {u"WEST", 60}, {u"WESZ", 60}, {u"WET", 0}, {u"WEZ", 0}, {u"WFT", 720},
    {u"WGST", -120}, {u"WGT", -180}, {u"WIB", 420}, {u"WIT", 540}, {u"WITA", 480}, {u"WST", 480},
    {u"WT", 0}, {u"X", -660}, {u"Y", -720}, {u"YAKST", 600}, {u"YAKT", 540}, {u"YAPT", 600},
    {u"YEKST", 360}, {u"YEKT", 300}, {u"Z", 0},
};
static_assert(std::size(kZones) == 245);

// Upper case for ASCII and the Latin-1 letters the month names use.
String UpperLatin1(StringView AText) {
  String out(AText);
  for (auto& c : out) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 0x20);
  }
  return out;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool AllDigits(StringView AText) {
  if (AText.empty()) return false;
  for (const char16_t c : AText)
    if (!IsDigit(c)) return false;
  return true;
}

// A run of decimal digits as a number; raises for anything else, so that the caller's
// catch turns it into "not a date". An empty part reads as 0.
int ReadNumber(StringView AText) {
  const String text = Trim(AText);
  if (text.empty()) return 0;
  if (!AllDigits(text) || text.size() > 9) EConvertError::Toss(u"'" + text + u"' is not a valid integer value");
  int value = 0;
  for (const char16_t c : text) value = value * 10 + (c - u'0');
  return value;
}

bool DigitsAt(StringView AText, size_t APos, size_t ACount) {
  if (APos + ACount > AText.size()) return false;
  for (size_t i = APos; i < APos + ACount; ++i)
    if (!IsDigit(AText[i])) return false;
  return true;
}

int NumberAt(StringView AText, size_t APos, size_t ACount) { return ReadNumber(AText.substr(APos, ACount)); }

// The first blank-delimited word of AText.
String FirstWord(StringView AText) {
  String rest = TrimLeft(AText);
  return SplitOffToken(rest, u" ");
}

std::vector<String> Words(StringView AText) {
  std::vector<String> words;
  String rest(AText);
  while (!(rest = TrimLeft(rest)).empty()) words.push_back(SplitOffToken(rest, u" "));
  return words;
}

// Date and time fields read from a text, before the zone is applied.
struct TDateFields {
  int Year = 0, Month = 1, Day = 1, Hour = 0, Min = 0, Sec = 0, MSec = 0;
  String Zone;
};

// YYYY[-MM[-DD]][Thh:mm[:ss[.fff]]]zone. False when the text breaks the form, so that
// the general rules get it.
bool ReadIsoDate(StringView AText, TDateFields& AFields) {
  const size_t n = AText.size();
  if (!DigitsAt(AText, 0, 4)) return false;
  AFields.Year = NumberAt(AText, 0, 4);
  size_t p = 4;
  if (p < n && AText[p] == u'-') {
    if (!DigitsAt(AText, p + 1, 2)) return false;
    AFields.Month = NumberAt(AText, p + 1, 2);
    p += 3;
    if (p < n && AText[p] == u'-') {
      if (!DigitsAt(AText, p + 1, 2)) return false;
      AFields.Day = NumberAt(AText, p + 1, 2);
      p += 3;
    }
  }
  // "T" separates the time; a blank does too when a time clearly follows.
  const bool timeFollows =
      p < n && (AText[p] == u'T' || (AText[p] == u' ' && DigitsAt(AText, p + 1, 2) && p + 3 < n &&
                                     AText[p + 3] == u':'));
  if (timeFollows) {
    if (!DigitsAt(AText, p + 1, 2) || p + 3 >= n || AText[p + 3] != u':' || !DigitsAt(AText, p + 4, 2))
      return false;
    AFields.Hour = NumberAt(AText, p + 1, 2);
    AFields.Min = NumberAt(AText, p + 4, 2);
    p += 6;
    if (p >= n) return false;
    if (AText[p] == u':') {
      if (!DigitsAt(AText, p + 1, 2)) return false;
      AFields.Sec = NumberAt(AText, p + 1, 2);
      p += 3;
      if (p >= n) return false;
      if (AText[p] == u'.') {
        ++p;
        // A decimal fraction of the second: the first three digits are milliseconds.
        int scale = 100;
        while (p < n && IsDigit(AText[p])) {
          AFields.MSec += (AText[p] - u'0') * scale;
          scale /= 10;
          ++p;
        }
      }
    }
  }
  AFields.Zone = FirstWord(AText.substr(p));
  return true;
}

bool IsDayName(StringView AText) {
  if (AText.size() < 3) return false;
  for (const auto day : kDayNames)
    if (TextEqualsIgnoreCase(AText.substr(0, 3), day)) return true;
  return false;
}

// The forms with a day name, day, month name and year in any of the usual orders.
void ReadGeneralDate(StringView AText, TDateFields& AFields) {
  String s(AText);
  if (IsDayName(s)) {
    if (s.size() > 4 && s[3] == u',' && s[4] != u' ') s = s.substr(0, 4) + u" " + s.substr(4);
    SplitOffToken(s, u" ");
    s = TrimLeft(s);
  }
  const size_t dash = s.find(u'-');
  const size_t blank = s.find(u' ');
  const StringView delim = dash != String::npos && dash >= 1 && (blank == String::npos || dash < blank)
                               ? StringView(u"-")
                               : StringView(u" ");
  const String first = Trim(SplitOffToken(s, delim));
  s = TrimLeft(s);
  if (const int month = MonthFromName(first); month != 0) {
    AFields.Month = month;
    AFields.Day = StrToIntDef(Trim(SplitOffToken(s, delim)), 1);
  } else {
    AFields.Day = StrToIntDef(first, 1);
    AFields.Month = MonthFromName(Trim(SplitOffToken(s, delim)));
  }
  s = TrimLeft(s);
  String yearText = SplitOffToken(s, u" ");
  if (!AllDigits(Trim(yearText))) {
    // asctime puts the time before the year.
    const String timeText = yearText;
    s = TrimLeft(s);
    yearText = SplitOffToken(s, u" ");
    s = timeText + u" " + s;
  }
  yearText = Trim(yearText);
  if (yearText.empty()) EConvertError::Toss(u"A date needs a year");
  int year = ReadNumber(yearText);
  if (yearText.size() <= 2) year += year < 50 ? 2000 : 1900;
  else if (yearText.size() == 3) year += 1900;
  AFields.Year = year;

  std::vector<String> words = Words(s);
  // AM and PM stand after the time, as a word of their own or attached to it.
  bool am = false, pm = false;
  for (size_t i = 0; i < words.size() && i < 2; ++i) {
    String& w = words[i];
    const String upper = UpperCase(w);
    if (upper == u"AM" || upper == u"PM") {
      (upper == u"AM" ? am : pm) = true;
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
    if (w.size() > 2 && (TextHasSuffix(w, u"AM") || TextHasSuffix(w, u"PM")) &&
        (w.find(u':') != String::npos || w.find(u'.') != String::npos)) {
      (TextHasSuffix(w, u"AM") ? am : pm) = true;
      w.erase(w.size() - 2);
      break;
    }
  }
  size_t next = 0;
  if (!words.empty()) {
    const String& w = words[0];
    const char16_t sep = w.find(u':') == String::npos && w.find(u'.') != String::npos ? u'.' : u':';
    if (w.find(sep) != String::npos) {
      String rest = w;
      AFields.Hour = ReadNumber(SplitOffToken(rest, StringView(&sep, 1)));
      AFields.Min = ReadNumber(SplitOffToken(rest, StringView(&sep, 1)));
      String seconds = SplitOffToken(rest, StringView(&sep, 1));
      // "37.250" with ":" separators: the fraction of the second is dropped.
      if (sep == u':') seconds = SplitOffToken(seconds, u".");
      AFields.Sec = ReadNumber(seconds);
      if (am && AFields.Hour == 12) AFields.Hour = 0;
      if (pm && AFields.Hour < 12) AFields.Hour += 12;
      next = 1;
    }
  }
  if (next < words.size()) AFields.Zone = words[next];
}

}  // namespace

String HttpDateText(TDateTime ADateTime) {
  int year, month, day, hour, min, sec, msec;
  DecodeDate(ADateTime, year, month, day);
  DecodeTime(ADateTime, hour, min, sec, msec);
  const String time = FormatInvariant(u"%.2d:%.2d:%.2d", {hour, min, sec});
  return FormatInvariant(u"%s, %.2d %s %.4d %s %s", {kDayNames[DayOfWeek(ADateTime) - 1], day,
                                                     kMonthNames[month - 1], year, time, u"GMT"});
}

String LocalToHttpDateText(TDateTime ADateTime) { return HttpDateText(LocalTimeToUTC(ADateTime)); }

int MonthFromName(StringView AName) {
  if (AName.empty()) return 0;
  const String upper = UpperLatin1(AName);
  for (const auto& row : kMonthTable)
    for (int m = 0; m < 12; ++m)
      if (!row[m].empty() && row[m] == upper) return m + 1;
  return 0;
}

int ZoneOffsetMinutes(StringView AZone) {
  const String zone = Trim(AZone);
  if (zone.empty()) return 0;
  if (zone[0] == u'+' || zone[0] == u'-') {
    const int sign = zone[0] == u'-' ? -1 : 1;
    const StringView digits = StringView(zone).substr(1);
    if (digits.size() == 4 && DigitsAt(digits, 0, 4))
      return sign * (NumberAt(digits, 0, 2) * 60 + NumberAt(digits, 2, 2));
    if (digits.size() == 5 && DigitsAt(digits, 0, 2) && digits[2] == u':' && DigitsAt(digits, 3, 2))
      return sign * (NumberAt(digits, 0, 2) * 60 + NumberAt(digits, 3, 2));
    if (digits.size() == 2 && DigitsAt(digits, 0, 2)) return sign * NumberAt(digits, 0, 2) * 60;
    return 0;
  }
  for (const auto& row : kZones)
    if (TextEqualsIgnoreCase(row.Name, zone)) return row.Minutes;
  return 0;
}

int ZoneTableSize() { return static_cast<int>(std::size(kZones)); }

bool TryParseHttpDate(StringView AText, TDateTime& AResult) {
  AResult = 0;
  const String text = Trim(AText);
  if (text.empty()) return true;
  try {
    TDateFields fields;
    if (!(DigitsAt(text, 0, 4) && ReadIsoDate(text, fields))) {
      fields = TDateFields();
      ReadGeneralDate(text, fields);
    }
    TDateTime date, time;
    if (!TryEncodeDate(fields.Year, fields.Month, fields.Day, date) ||
        !TryEncodeTime(fields.Hour, fields.Min, fields.Sec, fields.MSec, time))
      return false;
    const int64_t utc = DateTimeToUnixMSec(ComposeDateTime(date, time)) -
                        static_cast<int64_t>(ZoneOffsetMinutes(fields.Zone)) * 60000;
    AResult = UTCToLocalTime(UnixMSecToDateTime(utc));
    return true;
  } catch (const Exception&) {
    AResult = 0;
    return false;
  }
}

TDateTime ParseHttpDate(StringView AText) {
  TDateTime result;
  return TryParseHttpDate(AText, result) ? result : 0;
}

}  // namespace vyn
