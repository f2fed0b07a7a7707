// Text helpers shared by the protocol code: path merging, and the header-value
// operations of the header lists, the header records and the engine (media-type tests
// and the parameters after a header's main value).
#pragma once

#include <initializer_list>
#include <vector>

#include "vynIdGlobal.h"

namespace vyn {

// Resolves APath against ABasePath, both made of segments separated by ADelimiter.
// An APath that starts with the delimiter is returned unchanged. Otherwise the two are
// joined, runs of delimiters collapse to one and every ".." segment removes the
// segment before it, never the root ("." segments stay). The result ends with the
// delimiter when APath is empty or ends with it (or when it is only the delimiter).
String MergePath(StringView ABasePath, StringView APath, StringView ADelimiter = u"/");
// Which characters force a parameter value into double quotes. Control characters
// (0 to 32) and 127 always do; each type adds its own special characters.
enum TIdHeaderQuotingType { QuotePlain, QuoteRFC822, QuoteMIME, QuoteHTTP };

// Whether AChar forces quoting under AQuoteType.
bool CharForcesQuotes(char16_t AChar, TIdHeaderQuotingType AQuoteType);

// One parameter of a header line ("; name=value"), as the line held it.
struct TIdHeaderParam {
  String Name;
  String Value;   // unquoted, escapes removed
  bool Quoted = false;
};

// The parameters after the first ";" of ALine, in order. A parameter without a name,
// or with an empty unquoted value, is dropped.
std::vector<TIdHeaderParam> SplitHeaderParams(StringView ALine, TIdHeaderQuotingType AQuoteType);

// The text before the first ";", trimmed.
String HeaderMainValue(StringView ALine);
// The value of the first parameter named AName (ignoring case), unquoted; empty when absent.
String HeaderParamValue(StringView ALine, StringView AName, TIdHeaderQuotingType AQuoteType = QuoteHTTP);
// ALine with parameter AName set to the trimmed AValue (added when absent), or removed
// when AValue is empty. Any change rebuilds the line as the main value followed by
// "; name=value" for each parameter; an empty main value gives an empty line.
String WithHeaderParam(StringView ALine, StringView AName, StringView AValue,
                       TIdHeaderQuotingType AQuoteType = QuoteHTTP);
// WithHeaderParam with an empty value; AOld receives the removed value.
String WithoutHeaderParam(StringView ALine, StringView AName, TIdHeaderQuotingType AQuoteType,
                          String& AOld);
// AValue escaped and, when a character needs it or AForceQuotes, in double quotes.
// An empty value stays empty.
String QuoteParamValue(StringView AValue, bool AForceQuotes, TIdHeaderQuotingType AQuoteType);

// Without a "/" in AType: AValue starts with AType + "/" ("text" matches "text/plain").
// With one: both are equal. Case is ignored.
bool MediaTypeIs(StringView AValue, StringView AType);
// MediaTypeIs of the line's main value.
bool HasMediaType(StringView ALine, StringView AType);
bool HasAnyMediaType(StringView ALine, std::initializer_list<StringView> ATypes);
bool HasAnyMediaType(StringView ALine, const std::vector<String>& ATypes);
// The main value's text after the first "/"; empty without one.
String MediaSubType(StringView ALine);

}  // namespace vyn
