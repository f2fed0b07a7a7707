#include "vynIdHTTPHeaderInfo.h"

#include <cstdlib>

#include "vynIdHTTPDates.h"

namespace vyn {

namespace {

// A signed decimal number; ADefault for anything else (hexadecimal prefixes included)
// and for a value out of range.
int64_t DecimalOrDefault(StringView AText, int64_t ADefault) {
  const String text = Trim(AText);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return ADefault;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return ADefault;
    value = value * 10 + static_cast<uint64_t>(c - u'0');
    if (value > static_cast<uint64_t>(INT64_MAX)) return ADefault;
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

// Whether AText is an optionally signed run of decimal digits.
bool IsIntegerText(StringView AText) {
  size_t i = 0;
  if (i < AText.size() && (AText[i] == u'+' || AText[i] == u'-')) ++i;
  if (i == AText.size()) return false;
  for (; i < AText.size(); ++i)
    if (AText[i] < u'0' || AText[i] > u'9') return false;
  return true;
}

void SetIfNotEmpty(TIdHeaderList& AHeaders, const String& AName, const String& AValue) {
  if (!AValue.empty()) AHeaders.SetValue(AName, AValue);
}

// The answer of AAuth, creating a Basic object from the credentials when there is
// none and credentials are to be sent without a challenge.
String AuthenticationAnswer(std::unique_ptr<TIdAuthentication>& AAuth, bool ABasicByDefault,
                            const String& AUsername, const String& APassword) {
  if (!AAuth && ABasicByDefault && GIdCreateBasicAuthentication) {
    AAuth = GIdCreateBasicAuthentication();
    if (AAuth) {
      AAuth->SetUsername(AUsername);
      AAuth->SetPassword(APassword);
    }
  }
  return AAuth ? AAuth->Authentication() : String();
}

}  // namespace

void CopyHeaderLines(const TStrings& ASource, TStrings& ADest) {
  if (&ASource == &ADest) return;
  ADest.Clear();
  for (int i = 0; i < ASource.Count(); ++i) ADest.Add(ASource[i]);
}

// ---- TIdEntityRange ---------------------------------------------------------------------

String TIdEntityRange::Text() const {
  if (FStartPos >= 0) {
    if (FEndPos >= 0) return IntToStr(FStartPos) + u'-' + IntToStr(FEndPos);
    return IntToStr(FStartPos) + u'-';
  }
  if (FSuffixLength >= 0) return u'-' + IntToStr(FSuffixLength);
  return {};
}

void TIdEntityRange::SetText(const String& AValue) {
  String text = Trim(AValue);
  FStartPos = FEndPos = FSuffixLength = -1;
  if (text.empty()) return;
  if (text[0] == u'-') {
    FSuffixLength = DecimalOrDefault(StringView(text).substr(1), -1);
    return;
  }
  FStartPos = DecimalOrDefault(SplitOffToken(text, u"-"), -1);
  FEndPos = DecimalOrDefault(text, -1);
}

void TIdEntityRange::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TIdEntityRange*>(ASource)) {
    FStartPos = source->FStartPos;
    FEndPos = source->FEndPos;
    FSuffixLength = source->FSuffixLength;
    return;
  }
  TPersistent::Assign(ASource);
}

// ---- TIdEntityRanges --------------------------------------------------------------------

TIdEntityRange& TIdEntityRanges::Add() {
  FItems.push_back(std::make_unique<TIdEntityRange>());
  return *FItems.back();
}

void TIdEntityRanges::Delete(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) EListError::Toss(Format(u"List index out of bounds (%d)", {AIndex}));
  FItems.erase(FItems.begin() + AIndex);
}

String TIdEntityRanges::Text() const {
  String ranges;
  for (const auto& item : FItems) {
    const String text = item->Text();
    if (text.empty()) continue;
    if (!ranges.empty()) ranges += u',';
    ranges += text;
  }
  if (ranges.empty()) return {};
  return FUnits + u'=' + ranges;
}

void TIdEntityRanges::SetText(const String& AValue) {
  String text = Trim(AValue);
  Clear();
  if (text.find(u'=') != String::npos) {
    const String units = Trim(SplitOffToken(text, u"="));
    FUnits = units.empty() ? String(u"bytes") : units;
  }
  while (!text.empty()) {
    const String item = Trim(SplitOffToken(text, u","));
    if (!item.empty()) Add().SetText(item);
  }
}

void TIdEntityRanges::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TIdEntityRanges*>(ASource)) {
    if (source == this) return;
    Clear();
    FUnits = source->FUnits;
    for (const auto& item : source->FItems) Add().Assign(item.get());
    return;
  }
  TPersistent::Assign(ASource);
}

// ---- TIdEntityHeaderInfo ----------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo(TPersistent* AOwner) : FOwner(AOwner) {
  TIdEntityHeaderInfo::Clear();
}

TComponent* TIdEntityHeaderInfo::OwnerComponent() const {
  for (TPersistent* owner = FOwner; owner; owner = owner->GetOwner())
    if (auto component = dynamic_cast<TComponent*>(owner)) return component;
  return nullptr;
}

void TIdEntityHeaderInfo::SetContentLength(int64_t AValue) {
  FContentLength = AValue;
  FHasContentLength = AValue >= 0;
}

void TIdEntityHeaderInfo::SetContentType(const String& AValue) {
  if (AValue.empty()) {
    FContentType.clear();
    FCharSet.clear();
    return;
  }
  String charset;
  FContentType = WithoutHeaderParam(AValue, u"charset", QuoteHTTP, charset);
  // Records here are never loaded from a stored form, so the default always applies.
  if (charset.empty() && FCharSet.empty() && HasMediaType(FContentType, u"text")) {
    const String subtype = MediaSubType(FContentType);
    const bool xml = TextEqualsIgnoreCase(subtype, u"xml") ||
                     TextEqualsIgnoreCase(subtype, u"xml-external-parsed-entity") ||
                     TextHasSuffix(subtype, u"+xml");
    charset = xml ? u"us-ascii" : u"ISO-8859-1";
  }
  if (!charset.empty()) FCharSet = charset;
}

void TIdEntityHeaderInfo::Clear() {
  FCacheControl.clear();
  FRawHeaders.Clear();
  FCharSet.clear();
  FConnection.clear();
  FContentDisposition.clear();
  FContentEncoding.clear();
  FContentLanguage.clear();
  // Through the setter, so that HasContentLength never claims a length of -1.
  SetContentLength(-1);
  FContentRangeEnd = -1;
  FContentRangeStart = -1;
  FContentRangeInstanceLength = -1;
  FContentRangeUnits.clear();
  FContentType.clear();
  FContentVersion.clear();
  FDate = 0;
  FExpires = 0;
  FETag.clear();
  FLastModified = 0;
}

void TIdEntityHeaderInfo::ParseRawHeaders() {
  const TIdHeaderList& raw = FRawHeaders;
  FCacheControl = raw.GetValue(u"Cache-control");
  FConnection = raw.GetValue(u"Connection");
  FContentVersion = raw.GetValue(u"Content-Version");
  FContentDisposition = raw.GetValue(u"Content-Disposition");
  FContentEncoding = raw.GetValue(u"Content-Encoding");
  FContentLanguage = raw.GetValue(u"Content-Language");
  SetContentType(raw.GetValue(u"Content-Type"));
  SetContentLength(DecimalOrDefault(raw.GetValue(u"Content-Length"), -1));

  String range = raw.GetValue(u"Content-Range");
  if (range.empty()) {
    FContentRangeUnits.clear();
    FContentRangeStart = FContentRangeEnd = FContentRangeInstanceLength = -1;
  } else {
    FContentRangeUnits = SplitOffToken(range, u" ");
    range = TrimLeft(range);
    String positions = SplitOffToken(range, u"/");
    range = TrimLeft(range);
    FContentRangeInstanceLength = DecimalOrDefault(SplitOffToken(range, u" "), -1);
    FContentRangeStart = DecimalOrDefault(SplitOffToken(positions, u"-"), -1);
    FContentRangeEnd = DecimalOrDefault(positions, -1);
  }

  FDate = raw.IndexOfName(u"Date") < 0 ? Now() : ParseHttpDate(raw.GetValue(u"Date"));
  FLastModified = ParseHttpDate(raw.GetValue(u"Last-Modified"));

  const String expires = raw.GetValue(u"Expires");
  if (expires.empty()) {
    FExpires = 0;
  } else if (IsIntegerText(expires)) {
    // A number of seconds from now; the digits are read as a double so that an
    // absurdly long number still means "far in the future".
    const double seconds = std::strtod(ToUtf8(expires).c_str(), nullptr);
    FExpires = seconds < 0 ? 0 : Now() + seconds / SecsPerDay;
  } else {
    TDateTime parsed;
    FExpires = TryParseHttpDate(expires, parsed) ? parsed : Now() - OneSecond;
  }

  FETag = raw.GetValue(u"ETag");
  FPragma = raw.GetValue(u"Pragma");
  FTransferEncoding = raw.GetValue(u"Transfer-Encoding");
}

void TIdEntityHeaderInfo::BuildRawHeaders() {
  TIdHeaderList& raw = FRawHeaders;
  raw.Clear();
  SetIfNotEmpty(raw, u"Connection", FConnection);
  SetIfNotEmpty(raw, u"Content-Version", FContentVersion);
  SetIfNotEmpty(raw, u"Content-Disposition", FContentDisposition);
  SetIfNotEmpty(raw, u"Content-Encoding", FContentEncoding);
  SetIfNotEmpty(raw, u"Content-Language", FContentLanguage);
  if (!FContentType.empty()) {
    raw.SetValue(u"Content-Type", FContentType);
    raw.SetParam(u"Content-Type", u"charset", FCharSet);
  }
  if (FContentLength >= 0) raw.SetValue(u"Content-Length", IntToStr(FContentLength));
  SetIfNotEmpty(raw, u"Cache-control", FCacheControl);
  if (FDate > 0) raw.SetValue(u"Date", LocalToHttpDateText(FDate));
  SetIfNotEmpty(raw, u"ETag", FETag);
  if (FExpires > 0) raw.SetValue(u"Expires", LocalToHttpDateText(FExpires));
  SetIfNotEmpty(raw, u"Pragma", FPragma);
  SetIfNotEmpty(raw, u"Transfer-Encoding", FTransferEncoding);
  if (FCustomHeaders.Count() > 0) raw.AddStrings(FCustomHeaders);
}

void TIdEntityHeaderInfo::Assign(const TPersistent* ASource) {
  auto source = dynamic_cast<const TIdEntityHeaderInfo*>(ASource);
  if (!source) {
    TPersistent::Assign(ASource);
    return;
  }
  if (source == this) return;
  FRawHeaders.Assign(&source->FRawHeaders);
  FCustomHeaders.Assign(&source->FCustomHeaders);
  FCacheControl = source->FCacheControl;
  FCharSet = source->FCharSet;
  FConnection = source->FConnection;
  FContentDisposition = source->FContentDisposition;
  FContentEncoding = source->FContentEncoding;
  FContentLanguage = source->FContentLanguage;
  FContentType = source->FContentType;
  FContentVersion = source->FContentVersion;
  FContentLength = source->FContentLength;
  FContentRangeEnd = source->FContentRangeEnd;
  FContentRangeStart = source->FContentRangeStart;
  FContentRangeInstanceLength = source->FContentRangeInstanceLength;
  FContentRangeUnits = source->FContentRangeUnits;
  FDate = source->FDate;
  FETag = source->FETag;
  FExpires = source->FExpires;
  FLastModified = source->FLastModified;
  FPragma = source->FPragma;
  FHasContentLength = source->FHasContentLength;
  FTransferEncoding = source->FTransferEncoding;
}

// ---- TIdRequestHeaderInfo ---------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo(TPersistent* AOwner) : TIdEntityHeaderInfo(AOwner) {
  TIdRequestHeaderInfo::Clear();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> AValue) {
  FAuthentication = std::move(AValue);
}

void TIdRequestHeaderInfo::Clear() {
  FAccept = u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  FAcceptCharSet.clear();
  FUserAgent = GIdDefaultUserAgent;
  FRanges.Clear();
  FBasicByDefault = false;
  FMethodOverride.clear();
  TIdEntityHeaderInfo::Clear();
}

void TIdRequestHeaderInfo::ParseRawHeaders() {
  TIdEntityHeaderInfo::ParseRawHeaders();
  const TIdHeaderList& raw = RawHeaders();
  FAccept = raw.GetValue(u"Accept");
  FAcceptCharSet = raw.GetValue(u"Accept-Charset");
  FAcceptEncoding = raw.GetValue(u"Accept-Encoding");
  FAcceptLanguage = raw.GetValue(u"Accept-Language");
  FHost = raw.GetValue(u"Host");
  FFrom = raw.GetValue(u"From");
  FReferer = raw.GetValue(u"Referer");
  FUserAgent = raw.GetValue(u"User-Agent");
  FRanges.SetText(raw.GetValue(u"Range"));
  FMethodOverride = raw.GetValue(u"X-HTTP-Method-Override");
}

void TIdRequestHeaderInfo::BuildRawHeaders() {
  TIdEntityHeaderInfo::BuildRawHeaders();
  TIdHeaderList& raw = RawHeaders();
  SetIfNotEmpty(raw, u"Proxy-Connection", FProxyConnection);
  SetIfNotEmpty(raw, u"Host", FHost);
  SetIfNotEmpty(raw, u"Accept", FAccept);
  SetIfNotEmpty(raw, u"Accept-Charset", FAcceptCharSet);
  SetIfNotEmpty(raw, u"Accept-Encoding", FAcceptEncoding);
  SetIfNotEmpty(raw, u"Accept-Language", FAcceptLanguage);
  SetIfNotEmpty(raw, u"From", FFrom);
  SetIfNotEmpty(raw, u"Referer", FReferer);
  SetIfNotEmpty(raw, u"User-Agent", FUserAgent);
  SetIfNotEmpty(raw, u"Range", FRanges.Text());
  if (LastModified() > 0) raw.SetValue(u"If-Modified-Since", LocalToHttpDateText(LastModified()));
  SetIfNotEmpty(raw, u"Authorization",
                AuthenticationAnswer(FAuthentication, FBasicByDefault, FUserName, FPassword));
  SetIfNotEmpty(raw, u"X-HTTP-Method-Override", FMethodOverride);
}

void TIdRequestHeaderInfo::Assign(const TPersistent* ASource) {
  TIdEntityHeaderInfo::Assign(ASource);
  auto source = dynamic_cast<const TIdRequestHeaderInfo*>(ASource);
  if (!source || source == this) return;
  FAccept = source->FAccept;
  FAcceptCharSet = source->FAcceptCharSet;
  FAcceptEncoding = source->FAcceptEncoding;
  FAcceptLanguage = source->FAcceptLanguage;
  FFrom = source->FFrom;
  FUserName = source->FUserName;
  FPassword = source->FPassword;
  FReferer = source->FReferer;
  FUserAgent = source->FUserAgent;
  FBasicByDefault = source->FBasicByDefault;
  FRanges.Assign(&source->FRanges);
  FMethodOverride = source->FMethodOverride;
}

// ---- TIdResponseHeaderInfo --------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo(TPersistent* AOwner) : TIdEntityHeaderInfo(AOwner) {
  TIdResponseHeaderInfo::Clear();
}

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  SetContentType(String());
  SetCharSet(String());
  FLocation.clear();
  FServer.clear();
  FAcceptPatch.clear();
  FAcceptRanges.clear();
  FProxyAuthenticate.Clear();
  FWWWAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ParseRawHeaders() {
  TIdEntityHeaderInfo::ParseRawHeaders();
  const TIdHeaderList& raw = RawHeaders();
  FLocation = raw.GetValue(u"Location");
  FServer = raw.GetValue(u"Server");
  FProxyConnection = raw.GetValue(u"Proxy-Connection");
  FWWWAuthenticate.Clear();
  raw.Extract(u"WWW-Authenticate", FWWWAuthenticate);
  FProxyAuthenticate.Clear();
  raw.Extract(u"Proxy-Authenticate", FProxyAuthenticate);
  FAcceptPatch = raw.GetValue(u"Accept-Patch");
  FAcceptRanges = raw.GetValue(u"Accept-Ranges");
}

void TIdResponseHeaderInfo::BuildRawHeaders() {
  TIdEntityHeaderInfo::BuildRawHeaders();
  TIdHeaderList& raw = RawHeaders();
  if (HasContentRange() || HasContentRangeInstance()) {
    String value = ContentRangeUnits().empty() ? String(u"bytes") : ContentRangeUnits();
    value += u' ';
    value += HasContentRange() ? FormatInvariant(u"%d-%d", {ContentRangeStart(), ContentRangeEnd()})
                               : String(u"*");
    value += u'/';
    value += HasContentRangeInstance() ? FormatInvariant(u"%d", {ContentRangeInstanceLength()})
                                       : String(u"*");
    raw.SetValue(u"Content-Range", value);
  }
  SetIfNotEmpty(raw, u"Accept-Patch", FAcceptPatch);
  SetIfNotEmpty(raw, u"Accept-Ranges", FAcceptRanges);
  // LastModified is local time like every date of the records; the wire wants UTC.
  if (LastModified() > 0) raw.SetValue(u"Last-Modified", LocalToHttpDateText(LastModified()));
}

void TIdResponseHeaderInfo::ProcessMetaHTTPEquiv(TIdMetaHTTPEquiv& AMeta, TStream* AContent) {
  String charset = AMeta.ProcessMetaHTTPEquiv(AContent);
  if (AMeta.RawHeaders().Count() > 0) {
    TStringList values;
    AMeta.RawHeaders().ConvertToStdValues(values);
    for (int i = 0; i < values.Count(); ++i) {
      const String name = values.Names(i);
      if (!name.empty()) RawHeaders().SetValue(name, values.ValueFromIndex(i));
    }
    ParseRawHeaders();
  }
  if (charset.empty()) charset = AMeta.CharSet();
  // Without a character set from the meta tags, the one from the headers stays.
  if (!charset.empty()) SetCharSet(charset);
}

// ---- TIdMetaHTTPEquiv and the meta scanner ----------------------------------------------

String TIdMetaHTTPEquiv::ProcessMetaHTTPEquiv(TStream* AContent) {
  String charset;
  ParseMetaHTTPEquiv(AContent, RawHeaders(), charset);
  if (RawHeaders().Count() > 0) ParseRawHeaders();
  return charset;
}

namespace {

// Walks an HTML text from tag to tag, as far as the head of the document.
class TMetaScanner {
public:
  TMetaScanner(const String& AText, TStrings& AHeaders, String& ACharSet)
      : S(AText), FHeaders(AHeaders), FCharSet(ACharSet) {}

  void Run() {
    enum { stBeforeDocument, stInDocument, stInHead } state = stBeforeDocument;
    for (;;) {
      const size_t lt = S.find(u'<', P);
      if (lt == String::npos) return;
      P = lt + 1;
      if (At(u'?')) {
        ++P;
      } else if (At(u'!')) {
        ++P;
        if (S.compare(P, 2, u"--") == 0) {
          const size_t end = S.find(u"-->", P + 2);
          if (end == String::npos) return;
          P = end + 3;
          continue;
        }
      }
      SkipBlanks();
      const String name = ReadName();
      switch (state) {
        case stBeforeDocument:
          SkipPast(u'>');
          if (TextEqualsIgnoreCase(name, u"HTML")) state = stInDocument;
          break;
        case stInDocument:
          SkipPast(u'>');
          if (TextEqualsIgnoreCase(name, u"HEAD")) state = stInHead;
          // BODY ends the head's search; after a TITLE outside the head nothing more
          // is looked at either.
          else if (TextEqualsIgnoreCase(name, u"BODY") || TextEqualsIgnoreCase(name, u"TITLE")) return;
          break;
        case stInHead:
          if (TextEqualsIgnoreCase(name, u"TITLE") || TextEqualsIgnoreCase(name, u"SCRIPT")) SkipElement(name);
          else if (TextEqualsIgnoreCase(name, u"LINK")) SkipPast(u'>');
          else if (TextEqualsIgnoreCase(name, u"META")) ReadMeta();
          break;
      }
    }
  }

private:
  static bool IsBlank(char16_t c) { return c == 0 || c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }
  static bool IsNameChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
           c == u'_' || c == u':' || c == u'.';
  }
  bool At(char16_t c) const { return P < S.size() && S[P] == c; }
  void SkipBlanks() {
    while (P < S.size() && IsBlank(S[P])) ++P;
  }
  void SkipPast(char16_t c) {
    const size_t pos = S.find(c, P);
    P = pos == String::npos ? S.size() : pos + 1;
  }
  String ReadName() {
    const size_t start = P;
    while (P < S.size() && IsNameChar(S[P])) ++P;
    return S.substr(start, P - start);
  }
  // A quoted value (without its quotes) or an unquoted run of name characters.
  String ReadValue() {
    if (At(u'"') || At(u'\'')) {
      const char16_t quote = S[P++];
      const size_t end = S.find(quote, P);
      const String value = S.substr(P, end == String::npos ? String::npos : end - P);
      P = end == String::npos ? S.size() : end + 1;
      return value;
    }
    return ReadName();
  }
  // From inside a start tag past the matching end tag.
  void SkipElement(const String& AName) {
    SkipPast(u'>');
    for (;;) {
      const size_t lt = S.find(u'<', P);
      if (lt == String::npos) {
        P = S.size();
        return;
      }
      P = lt + 1;
      SkipBlanks();
      if (At(u'/')) ++P;
      if (TextEqualsIgnoreCase(ReadName(), AName)) {
        SkipPast(u'>');
        return;
      }
    }
  }
  void ReadMeta() {
    SkipBlanks();
    const String attribute = ReadName();
    if (TextEqualsIgnoreCase(attribute, u"charset")) {
      SkipBlanks();
      if (!At(u'=')) return;
      ++P;
      SkipBlanks();
      const String value = ReadValue();
      SkipPast(u'>');
      FCharSet = value;
    } else if (TextEqualsIgnoreCase(attribute, u"HTTP-EQUIV")) {
      SkipBlanks();
      if (!At(u'=')) return;
      ++P;
      SkipBlanks();
      String line = ReadValue() + u':';
      ReadMetaContent(line);
      FHeaders.Add(line);
    } else {
      SkipPast(u'>');
    }
  }
  // The attributes after http-equiv, up to and past ">": CONTENT values are appended.
  void ReadMetaContent(String& ALine) {
    for (;;) {
      SkipBlanks();
      if (P >= S.size()) return;
      if (At(u'>')) {
        ++P;
        return;
      }
      if (At(u'/')) {
        ++P;
        continue;
      }
      const String attribute = ReadName();
      if (attribute.empty()) {
        ++P;  // a stray character: pass over it
        continue;
      }
      SkipBlanks();
      if (!At(u'=')) continue;
      ++P;
      SkipBlanks();
      const bool content = TextEqualsIgnoreCase(attribute, u"CONTENT");
      String value;
      if (At(u'"') || At(u'\'')) {
        const char16_t quote = S[P];
        value = ReadValue();
        // A value that a stray quote cut short goes on up to the next quote.
        if (P < S.size() && !IsBlank(S[P]) && S[P] != u'/' && S[P] != u'>') {
          const size_t end = S.find(quote, P);
          value += S.substr(P, end == String::npos ? String::npos : end - P);
          P = end == String::npos ? S.size() : end + 1;
        }
      } else {
        const size_t start = P;
        while (P < S.size() && S[P] != u' ' && S[P] != u'>') ++P;
        value = S.substr(start, P - start);
      }
      if (content) ALine += u' ' + value;
    }
  }

  const String& S;
  size_t P = 0;
  TStrings& FHeaders;
  String& FCharSet;
};

}  // namespace

void ParseMetaHTTPEquiv(TStream* AContent, TStrings& AHeaders, String& ACharSet) {
  ACharSet.clear();
  if (!AContent) return;
  const int64_t position = AContent->Position();
  AContent->SetPosition(0);
  TIdBytes bytes;
  TIdStreamHelperVCL::ReadBytes(*AContent, bytes, -1, 0);
  AContent->SetPosition(position);
  const String text = TextFromBytes8Bit(bytes);
  TMetaScanner(text, AHeaders, ACharSet).Run();
}

// ---- TIdProxyConnectionInfo -------------------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() { Clear(); }

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Clear() {
  FServer.clear();
  FUsername.clear();
  FPassword.clear();
  FPort = 0;
}

void TIdProxyConnectionInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> AValue) {
  FAuthentication = std::move(AValue);
}

void TIdProxyConnectionInfo::SetProxyPort(int32_t AValue) {
  if (AValue == FPort) return;
  FAuthentication.reset();  // it answered a different proxy
  FPort = AValue;
}

void TIdProxyConnectionInfo::SetProxyServer(const String& AValue) {
  if (TextEqualsIgnoreCase(AValue, FServer)) {
    FServer = AValue;
    return;
  }
  FAuthentication.reset();  // it answered a different proxy
  FServer = AValue;
}

void TIdProxyConnectionInfo::Assign(const TPersistent* ASource) {
  auto source = dynamic_cast<const TIdProxyConnectionInfo*>(ASource);
  if (!source) {
    TPersistent::Assign(ASource);
    return;
  }
  if (source == this) return;
  FPassword = source->FPassword;
  SetProxyPort(source->FPort);
  SetProxyServer(source->FServer);
  FUsername = source->FUsername;
  FBasicByDefault = source->FBasicByDefault;
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& AHeaders) {
  const String answer = AuthenticationAnswer(FAuthentication, FBasicByDefault, FUsername, FPassword);
  if (!answer.empty()) AHeaders.SetValue(u"Proxy-Authorization", answer);
}

}  // namespace vyn
