// The listener's request-line, header-line and query rules, on text alone so that they
// can be tested without a socket. Wire text is read one character per byte (the 8-bit
// reading), so every character here is below U+0100.
#pragma once

#include <string>

#include "vynClasses.h"

namespace vyn {

// The three parts of a request line.
struct TvynWSRequestLine {
  String Command;  // the method, as sent (methods are case-sensitive)
  String Target;   // the request target, as sent
  String Version;  // "HTTP/1.1"
  int Major = 0;
  int Minor = 0;
};

enum TvynWSRequestLineResult { rlOK, rlMalformed, rlVersionNotSupported };

// Method SP target SP "HTTP/" digit "." digit, with exactly one blank between the
// parts, a token as method and only visible ASCII in the target. A well-formed line of
// a major version other than 1 gives rlVersionNotSupported.
TvynWSRequestLineResult ParseRequestLine(StringView ALine, TvynWSRequestLine& VLine);

// Splits a request target into its path and its query (the text after the first "?",
// without it; a "#" ends both). The absolute form ("http://host:port/p?q") gives the
// path of its URL, "/" when it has none. False for any other form ("*", "host:port",
// a relative path), which a GET cannot carry.
bool SplitRequestTarget(StringView ATarget, String& VPath, String& VQuery);

// Decodes "%XX" escapes into bytes and reads all bytes as UTF-8 (invalid sequences
// become U+FFFD). With APlusIsSpace (query parts) "+" is a blank. A "%" that does not
// start an escape stays as it is.
String DecodeURLComponent(StringView AText, bool APlusIsSpace);

// Appends one decoded "name=value" line per "&"-separated parameter of AQuery, in
// order; a parameter without "=" gives "name=", empty parameters are skipped.
void DecodeQueryParams(StringView AQuery, TStrings& AParams);

// "Name: value" with a token as name and no blank before the colon; the value loses
// the blanks and tabs around it. Control characters other than tab make the line
// malformed; a continuation line (leading blank) is malformed too, as obsolete folding
// is refused.
bool ParseHeaderLine(StringView ALine, String& VName, String& VValue);

// The reason phrase of a status code ("OK", "Not Found", ...); "Unknown" when the code
// has none here.
String HTTPStatusText(int ACode);

// The size line that starts a chunk of ASize bytes: hexadecimal digits, CR LF.
std::string ChunkSizeLine(size_t ASize);

}  // namespace vyn
