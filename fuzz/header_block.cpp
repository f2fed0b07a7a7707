// A header block as a server sends it: lines read off the wire into a record's raw list,
// then parsed into the record's fields, for a response and for a request (server use).
//
// Properties: parsing never fails; HasContentLength agrees with ContentLength; the
// simple text fields come back unchanged through BuildRawHeaders and a second parse;
// after one such round every field is stable; the ranges' text is a fixed point; the
// challenge lists hold one entry per challenge line.
//
// The status line is read by the HTTP engine (vynIdHTTP); its parser is fuzzed there,
// next to the body framings, once the engine is in the tree.
#include <cmath>

#include "vynFuzz.h"
#include "vynIdHTTPDates.h"
#include "vynIdHTTPHeaderInfo.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

// The header block's lines: split at LF with a CR before it dropped (or at CR LF only),
// up to the empty line that ends the block.
std::vector<String> BlockLines(const String& AText, bool ACRLFOnly) {
  std::vector<String> lines;
  size_t start = 0;
  while (start <= AText.size()) {
    const size_t lf = ACRLFOnly ? AText.find(u"\r\n", start) : AText.find(u'\n', start);
    String line = AText.substr(start, lf == String::npos ? String::npos : lf - start);
    if (!ACRLFOnly && !line.empty() && line.back() == u'\r') line.pop_back();
    if (line.empty()) break;
    lines.push_back(std::move(line));
    if (lf == String::npos) break;
    start = lf + (ACRLFOnly ? 2 : 1);
  }
  return lines;
}

int CountNamed(const TIdHeaderList& AList, StringView AName) {
  int n = 0;
  for (int i = 0; i < AList.Count(); ++i)
    if (TextEqualsIgnoreCase(AList.GetName(i), AName)) ++n;
  return n;
}

std::string Raw(const TIdHeaderList& AList) {
  std::string out;
  for (int i = 0; i < AList.Count(); ++i) out += "  [" + Show(AList[i]) + "]\n";
  return out;
}

// Whether two dates of the records agree to the second (the wire form has no fraction).
bool SameSecond(TDateTime A, TDateTime B) { return std::fabs(A - B) * SecsPerDay < 1.001; }

// Dates the wire form can carry: four-digit years, with a day's margin for the zone.
bool WireDate(TDateTime A) { return A > -693592.0 + 1 && A < 2958465.0 - 1; }

struct TEntityFields {
  String CacheControl, Connection, ContentVersion, ContentDisposition, ContentEncoding, ContentLanguage, ETag, Pragma,
      TransferEncoding, ContentType, CharSet, ContentRangeUnits;
  int64_t ContentLength, RangeStart, RangeEnd, RangeInstance;

  explicit TEntityFields(const TIdEntityHeaderInfo& A)
      : CacheControl(A.CacheControl()),
        Connection(A.Connection()),
        ContentVersion(A.ContentVersion()),
        ContentDisposition(A.ContentDisposition()),
        ContentEncoding(A.ContentEncoding()),
        ContentLanguage(A.ContentLanguage()),
        ETag(A.ETag()),
        Pragma(A.Pragma()),
        TransferEncoding(A.TransferEncoding()),
        ContentType(A.ContentType()),
        CharSet(A.CharSet()),
        ContentRangeUnits(A.ContentRangeUnits()),
        ContentLength(A.ContentLength()),
        RangeStart(A.ContentRangeStart()),
        RangeEnd(A.ContentRangeEnd()),
        RangeInstance(A.ContentRangeInstanceLength()) {}

  // The fields that BuildRawHeaders writes exactly as they are.
  std::string SimpleDiff(const TEntityFields& B) const {
    std::string d;
    auto cmp = [&](const char* AName, const String& X, const String& Y) {
      if (X != Y) d += std::string(AName) + ": [" + Show(X) + "] vs [" + Show(Y) + "]\n";
    };
    cmp("CacheControl", CacheControl, B.CacheControl);
    cmp("Connection", Connection, B.Connection);
    cmp("ContentVersion", ContentVersion, B.ContentVersion);
    cmp("ContentDisposition", ContentDisposition, B.ContentDisposition);
    cmp("ContentEncoding", ContentEncoding, B.ContentEncoding);
    cmp("ContentLanguage", ContentLanguage, B.ContentLanguage);
    cmp("ETag", ETag, B.ETag);
    cmp("Pragma", Pragma, B.Pragma);
    cmp("TransferEncoding", TransferEncoding, B.TransferEncoding);
    // A negative length ("-5" reads as -5) means none, and none is not written.
    if (std::max<int64_t>(ContentLength, -1) != std::max<int64_t>(B.ContentLength, -1)) d += "ContentLength differs\n";
    return d;
  }

  std::string Diff(const TEntityFields& B, bool AWithRange) const {
    std::string d = SimpleDiff(B);
    auto cmp = [&](const char* AName, const String& X, const String& Y) {
      if (X != Y) d += std::string(AName) + ": [" + Show(X) + "] vs [" + Show(Y) + "]\n";
    };
    // Only the first of several charset parameters is split off; the others stay in
    // ContentType and move into CharSet one round at a time.
    bool charsetLeft = false;
    for (const auto& p : SplitHeaderParams(ContentType, QuoteHTTP))
      charsetLeft = charsetLeft || TextEqualsIgnoreCase(p.Name, u"charset");
    if (!charsetLeft) {
      cmp("ContentType", ContentType, B.ContentType);
      cmp("CharSet", CharSet, B.CharSet);
    }
    // A range whose start did not read (end given, start -1) is written back as
    // "-1-end", which does not read again; only ranges that make sense are compared.
    // Units without a range or a length are not written either.
    if (AWithRange && (RangeEnd < 0 || RangeStart >= 0)) {
      if (RangeEnd >= 0 || RangeInstance >= 0) cmp("ContentRangeUnits", ContentRangeUnits, B.ContentRangeUnits);
      if (RangeStart != B.RangeStart || RangeEnd != B.RangeEnd || RangeInstance != B.RangeInstance)
        d += "content range differs\n";
    }
    return d;
  }
};

void CheckEntity(const TIdEntityHeaderInfo& A, const std::string& AContext) {
  FUZZ_CHECK(A.HasContentLength() == (A.ContentLength() >= 0), AContext);
  FUZZ_CHECK(std::isfinite(A.Date()) && std::isfinite(A.Expires()) && std::isfinite(A.LastModified()), AContext);
  for (const String* s : {&A.CacheControl(), &A.Connection(), &A.ContentType(), &A.ETag(), &A.Pragma()}) {
    FUZZ_CHECK(Trim(*s) == *s, AContext + "untrimmed field [" + Show(*s) + "]");
  }
}

void FuzzResponse(const std::vector<String>& ALines) {
  TIdResponseHeaderInfo first;
  for (const auto& line : ALines) first.RawHeaders().Add(line);
  const auto context = [&] { return std::string("raw lines:\n" + Raw(first.RawHeaders())); };
  first.ParseRawHeaders();
  CheckEntity(first, context());
  FUZZ_CHECK(first.WWWAuthenticate().Count() == CountNamed(first.RawHeaders(), u"WWW-Authenticate"), context());
  FUZZ_CHECK(first.ProxyAuthenticate().Count() == CountNamed(first.RawHeaders(), u"Proxy-Authenticate"), context());

  // Build from the parsed fields and parse again, twice. Assign copies the entity
  // fields only; the response's own are set here.
  const auto copy = [](TIdResponseHeaderInfo& ADest, const TIdResponseHeaderInfo& ASource) {
    ADest.Assign(&ASource);
    ADest.SetAcceptPatch(ASource.AcceptPatch());
    ADest.SetAcceptRanges(ASource.AcceptRanges());
  };
  TIdResponseHeaderInfo second;
  copy(second, first);
  second.BuildRawHeaders();
  const auto built = [&] { return std::string("built() lines:\n" + Raw(second.RawHeaders())); };
  second.ParseRawHeaders();
  CheckEntity(second, context() + built());
  const TEntityFields f1(first), f2(second);
  FUZZ_CHECK(f1.SimpleDiff(f2).empty(), context() + built() + f1.SimpleDiff(f2));
  FUZZ_CHECK(first.AcceptPatch() == second.AcceptPatch() && first.AcceptRanges() == second.AcceptRanges(),
             context() + built());
  if (WireDate(first.LastModified()) && first.LastModified() > 0)
    FUZZ_CHECK(SameSecond(first.LastModified(), second.LastModified()), context() + built());

  TIdResponseHeaderInfo third;
  copy(third, second);
  third.BuildRawHeaders();
  const auto rebuilt = [&] { return std::string("rebuilt() lines:\n" + Raw(third.RawHeaders())); };
  third.ParseRawHeaders();
  const TEntityFields f3(third);
  FUZZ_CHECK(f2.Diff(f3, true).empty(), context() + built() + rebuilt() + f2.Diff(f3, true));
  if (WireDate(second.Expires()) && second.Expires() > 0)
    FUZZ_CHECK(SameSecond(second.Expires(), third.Expires()), context() + built() + rebuilt());
}

void FuzzRequest(const std::vector<String>& ALines) {
  TIdRequestHeaderInfo first;
  for (const auto& line : ALines) first.RawHeaders().Add(line);
  const auto context = [&] { return std::string("raw lines:\n" + Raw(first.RawHeaders())); };
  first.ParseRawHeaders();
  CheckEntity(first, context());

  // The ranges' text is a fixed point of reading it back.
  const String range = first.Range();
  TIdEntityRanges again;
  again.SetText(range);
  FUZZ_CHECK(again.Text() == range,
             context() + "range [" + Show(range) + "] reads back as [" + Show(again.Text()) + "]");

  TIdRequestHeaderInfo second;
  second.Assign(&first);
  second.SetHost(first.Host());  // not copied by Assign
  second.BuildRawHeaders();
  const auto built = [&] { return std::string("built() lines:\n" + Raw(second.RawHeaders())); };
  second.ParseRawHeaders();
  const TEntityFields f1(first), f2(second);
  FUZZ_CHECK(f1.SimpleDiff(f2).empty(), context() + built() + f1.SimpleDiff(f2));
  const std::pair<const String*, const String*> same[] = {
      {&first.Accept(), &second.Accept()},
      {&first.AcceptCharSet(), &second.AcceptCharSet()},
      {&first.AcceptEncoding(), &second.AcceptEncoding()},
      {&first.AcceptLanguage(), &second.AcceptLanguage()},
      {&first.Host(), &second.Host()},
      {&first.From(), &second.From()},
      {&first.Referer(), &second.Referer()},
      {&first.UserAgent(), &second.UserAgent()},
      {&first.MethodOverride(), &second.MethodOverride()},
  };
  for (const auto& [a, b] : same)
    FUZZ_CHECK(*a == *b, context() + built() + "[" + Show(*a) + "] vs [" + Show(*b) + "]");
  FUZZ_CHECK(first.Range() == second.Range(), context() + built());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Central European rules, with summer time: local and UTC differ, and some local
  // times repeat or do not exist.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const bool crlfOnly = in.Bool();
  const std::vector<String> lines = BlockLines(TextFromBytes8Bit(in.Rest()), crlfOnly);
  FuzzResponse(lines);
  FuzzRequest(lines);
  return 0;
}
