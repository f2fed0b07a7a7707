// HTTP date texts: building the RFC 1123 form and reading the forms servers send.
#pragma once

#include "vynDateUtils.h"
#include "vynIdGlobal.h"

namespace vyn {

// A date-time already in UTC as "Sun, 06 Nov 1994 08:49:37 GMT".
String HttpDateText(TDateTime ADateTime);
// A local date-time converted to UTC with the local time-zone rules, then HttpDateText.
String LocalToHttpDateText(TDateTime ADateTime);

// Reads RFC 1123, RFC 850, asctime and ISO 8601 forms (and the looser variants servers
// send) with a numeric or named zone, and gives the instant in local time. A text that
// cannot be read gives false (TryParseHttpDate) or 0 (ParseHttpDate); an empty text
// gives 0 and counts as read.
bool TryParseHttpDate(StringView AText, TDateTime& AResult);
TDateTime ParseHttpDate(StringView AText);

// The month number (1 to 12) of an English, German, Spanish, Dutch, French or Slovene
// month name or abbreviation, ignoring case; 0 when the name is none of them.
int MonthFromName(StringView AName);

// The offset of a zone word from UTC in minutes: "+hhmm", "+hh:mm", "+hh" (and the
// same with "-"), or an abbreviation from the zone table, the first matching row
// winning. A signed form that does not read, and an unknown name, give 0.
int ZoneOffsetMinutes(StringView AZone);

// The number of rows of the zone-abbreviation table.
int ZoneTableSize();

}  // namespace vyn
