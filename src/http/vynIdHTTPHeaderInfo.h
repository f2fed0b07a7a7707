// The typed form of HTTP headers: one field per well-known header, built into and
// parsed from an owned raw header list.
#pragma once

#include <memory>
#include <vector>

#include "vynDateUtils.h"
#include "vynIdAuthentication.h"
#include "vynIdHeaderList.h"
#include "vynStreams.h"

namespace vyn {

// The user agent a request record gets from Clear. Process-wide; set at start-up only.
inline String GIdDefaultUserAgent = u"Mozilla/3.0 (compatible; Orva Library)";

// Creates the Basic scheme object that records use to send credentials before any
// challenge (BasicAuthentication set and no Authentication object). The unit that
// implements Basic installs it at start-up; while it is unset, no such header is made.
using TIdCreateAuthentication = std::unique_ptr<TIdAuthentication> (*)();
inline TIdCreateAuthentication GIdCreateBasicAuthentication = nullptr;

// Replaces ADest's lines with ASource's, unchanged, whatever the kinds of list.
void CopyHeaderLines(const TStrings& ASource, TStrings& ADest);

// One byte range: "start-end", "start-" or "-suffix". Unset positions are -1.
class TIdEntityRange : public TPersistent {
public:
  int64_t StartPos() const { return FStartPos; }
  void SetStartPos(int64_t AValue) { FStartPos = AValue; }
  int64_t EndPos() const { return FEndPos; }
  void SetEndPos(int64_t AValue) { FEndPos = AValue; }
  int64_t SuffixLength() const { return FSuffixLength; }
  void SetSuffixLength(int64_t AValue) { FSuffixLength = AValue; }
  // Empty when all three are unset.
  String Text() const;
  void SetText(const String& AValue);
  void Assign(const TPersistent* ASource) override;

private:
  int64_t FStartPos = -1;
  int64_t FEndPos = -1;
  int64_t FSuffixLength = -1;
};

// The ranges of a "Range" header, with their units ("bytes" by default).
class TIdEntityRanges : public TPersistent {
public:
  const String& Units() const { return FUnits; }
  void SetUnits(const String& AValue) { FUnits = AValue; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TIdEntityRange& Items(int AIndex) const { return *FItems.at(static_cast<size_t>(AIndex)); }
  TIdEntityRange& Add();
  void Delete(int AIndex);
  void Clear() { FItems.clear(); }
  // "units=r1,r2": the non-empty ranges joined by ","; empty when there are none.
  String Text() const;
  // Replaces the ranges. Text before "=" is the units (empty means "bytes"); without
  // "=" the units stay. Items that do not read as numbers keep -1 positions.
  void SetText(const String& AValue);
  void Assign(const TPersistent* ASource) override;

private:
  String FUnits = u"bytes";
  std::vector<std::unique_ptr<TIdEntityRange>> FItems;
};

// The headers that describe a body. Owns its raw and custom header lists.
class TIdEntityHeaderInfo : public TPersistent {
public:
  explicit TIdEntityHeaderInfo(TPersistent* AOwner = nullptr);
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  // Fields from RawHeaders (after a response was read).
  virtual void ParseRawHeaders();
  // RawHeaders from the fields (before a request is sent); CustomHeaders follow verbatim.
  virtual void BuildRawHeaders();
  virtual void Clear();
  void Assign(const TPersistent* ASource) override;

  TPersistent* GetOwner() const override { return FOwner; }
  // The first component up the owner chain; nullptr when there is none.
  TComponent* OwnerComponent() const;

  const String& CacheControl() const { return FCacheControl; }
  void SetCacheControl(const String& AValue) { FCacheControl = AValue; }
  TIdHeaderList& RawHeaders() { return FRawHeaders; }
  const TIdHeaderList& RawHeaders() const { return FRawHeaders; }
  const String& CharSet() const { return FCharSet; }
  void SetCharSet(const String& AValue) { FCharSet = AValue; }
  const String& Connection() const { return FConnection; }
  void SetConnection(const String& AValue) { FConnection = AValue; }
  const String& ContentDisposition() const { return FContentDisposition; }
  void SetContentDisposition(const String& AValue) { FContentDisposition = AValue; }
  const String& ContentEncoding() const { return FContentEncoding; }
  void SetContentEncoding(const String& AValue) { FContentEncoding = AValue; }
  const String& ContentLanguage() const { return FContentLanguage; }
  void SetContentLanguage(const String& AValue) { FContentLanguage = AValue; }
  int64_t ContentLength() const { return FContentLength; }
  // Also sets HasContentLength to (AValue >= 0).
  void SetContentLength(int64_t AValue);
  int64_t ContentRangeEnd() const { return FContentRangeEnd; }
  void SetContentRangeEnd(int64_t AValue) { FContentRangeEnd = AValue; }
  int64_t ContentRangeStart() const { return FContentRangeStart; }
  void SetContentRangeStart(int64_t AValue) { FContentRangeStart = AValue; }
  int64_t ContentRangeInstanceLength() const { return FContentRangeInstanceLength; }
  void SetContentRangeInstanceLength(int64_t AValue) { FContentRangeInstanceLength = AValue; }
  const String& ContentRangeUnits() const { return FContentRangeUnits; }
  void SetContentRangeUnits(const String& AValue) { FContentRangeUnits = AValue; }
  // The media type without its charset parameter.
  const String& ContentType() const { return FContentType; }
  // Splits off a charset parameter into CharSet. Without one, a "text" type on a record
  // with no CharSet gets "us-ascii" (XML subtypes) or "ISO-8859-1". Empty clears both.
  void SetContentType(const String& AValue);
  const String& ContentVersion() const { return FContentVersion; }
  void SetContentVersion(const String& AValue) { FContentVersion = AValue; }
  TIdHeaderList& CustomHeaders() { return FCustomHeaders; }
  const TIdHeaderList& CustomHeaders() const { return FCustomHeaders; }
  // Copies the lines as they are.
  void SetCustomHeaders(const TStrings& AValue) { CopyHeaderLines(AValue, FCustomHeaders); }
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime AValue) { FDate = AValue; }
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime AValue) { FExpires = AValue; }
  const String& ETag() const { return FETag; }
  void SetETag(const String& AValue) { FETag = AValue; }
  TDateTime LastModified() const { return FLastModified; }
  void SetLastModified(TDateTime AValue) { FLastModified = AValue; }
  const String& Pragma() const { return FPragma; }
  void SetPragma(const String& AValue) { FPragma = AValue; }
  bool HasContentLength() const { return FHasContentLength; }
  const String& TransferEncoding() const { return FTransferEncoding; }
  void SetTransferEncoding(const String& AValue) { FTransferEncoding = AValue; }
  bool HasContentRange() const { return FContentRangeEnd >= 0; }
  bool HasContentRangeInstance() const { return FContentRangeInstanceLength >= 0; }

private:
  TPersistent* FOwner;
  String FCacheControl;
  TIdHeaderList FRawHeaders{QuoteHTTP};
  String FCharSet;
  String FConnection;
  String FContentDisposition;
  String FContentEncoding;
  String FContentLanguage;
  int64_t FContentLength = -1;
  int64_t FContentRangeEnd = -1;
  int64_t FContentRangeStart = -1;
  int64_t FContentRangeInstanceLength = -1;
  String FContentRangeUnits;
  String FContentType;
  String FContentVersion;
  TIdHeaderList FCustomHeaders{QuoteHTTP};
  TDateTime FDate = 0;
  TDateTime FExpires = 0;
  String FETag;
  TDateTime FLastModified = 0;
  String FPragma;
  bool FHasContentLength = false;
  String FTransferEncoding;
};

// The headers of a request. The engine never clears it, so what the application sets
// stays from request to request.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
  explicit TIdRequestHeaderInfo(TPersistent* AOwner = nullptr);
  ~TIdRequestHeaderInfo() override;

  void ParseRawHeaders() override;
  void BuildRawHeaders() override;
  void Clear() override;
  void Assign(const TPersistent* ASource) override;

  const String& Accept() const { return FAccept; }
  void SetAccept(const String& AValue) { FAccept = AValue; }
  const String& AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(const String& AValue) { FAcceptCharSet = AValue; }
  const String& AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(const String& AValue) { FAcceptEncoding = AValue; }
  const String& AcceptLanguage() const { return FAcceptLanguage; }
  void SetAcceptLanguage(const String& AValue) { FAcceptLanguage = AValue; }
  // Kept, never sent.
  const String& Expect() const { return FExpect; }
  void SetExpect(const String& AValue) { FExpect = AValue; }
  const String& From() const { return FFrom; }
  void SetFrom(const String& AValue) { FFrom = AValue; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  const String& Referer() const { return FReferer; }
  void SetReferer(const String& AValue) { FReferer = AValue; }
  const String& UserAgent() const { return FUserAgent; }
  void SetUserAgent(const String& AValue) { FUserAgent = AValue; }
  const String& Username() const { return FUserName; }
  void SetUsername(const String& AValue) { FUserName = AValue; }
  const String& Host() const { return FHost; }
  void SetHost(const String& AValue) { FHost = AValue; }
  const String& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(const String& AValue) { FProxyConnection = AValue; }
  TIdEntityRanges& Ranges() { return FRanges; }
  const TIdEntityRanges& Ranges() const { return FRanges; }
  void SetRanges(const TIdEntityRanges& AValue) { FRanges.Assign(&AValue); }
  String Range() const { return FRanges.Text(); }
  void SetRange(const String& AValue) { FRanges.SetText(AValue); }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool AValue) { FBasicByDefault = AValue; }
  // Owned; nullptr when none.
  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> AValue);
  const String& MethodOverride() const { return FMethodOverride; }
  void SetMethodOverride(const String& AValue) { FMethodOverride = AValue; }

private:
  String FAccept;
  String FAcceptCharSet;
  String FAcceptEncoding;
  String FAcceptLanguage;
  String FExpect;
  String FFrom;
  String FPassword;
  String FReferer;
  String FUserAgent;
  String FUserName;
  String FHost;
  String FProxyConnection;
  TIdEntityRanges FRanges;
  bool FBasicByDefault = false;
  std::unique_ptr<TIdAuthentication> FAuthentication;
  String FMethodOverride;
};

class TIdMetaHTTPEquiv;

// The headers of a response.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
  explicit TIdResponseHeaderInfo(TPersistent* AOwner = nullptr);

  void ParseRawHeaders() override;
  void BuildRawHeaders() override;
  void Clear() override;

  const String& AcceptPatch() const { return FAcceptPatch; }
  void SetAcceptPatch(const String& AValue) { FAcceptPatch = AValue; }
  const String& AcceptRanges() const { return FAcceptRanges; }
  void SetAcceptRanges(const String& AValue) { FAcceptRanges = AValue; }
  const String& Location() const { return FLocation; }
  void SetLocation(const String& AValue) { FLocation = AValue; }
  const String& Server() const { return FServer; }
  void SetServer(const String& AValue) { FServer = AValue; }
  const String& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(const String& AValue) { FProxyConnection = AValue; }
  // The value of every "Proxy-Authenticate" / "WWW-Authenticate" line, in order.
  TIdHeaderList& ProxyAuthenticate() { return FProxyAuthenticate; }
  void SetProxyAuthenticate(const TStrings& AValue) { CopyHeaderLines(AValue, FProxyAuthenticate); }
  TIdHeaderList& WWWAuthenticate() { return FWWWAuthenticate; }
  void SetWWWAuthenticate(const TStrings& AValue) { CopyHeaderLines(AValue, FWWWAuthenticate); }

  // After an HTML body was read into AContent: scans it into AMeta, copies the meta
  // headers found into RawHeaders (replacing same-named ones) and parses again, and
  // takes the character set a meta tag names (or else the meta record's own).
  void ProcessMetaHTTPEquiv(TIdMetaHTTPEquiv& AMeta, TStream* AContent);

private:
  String FAcceptPatch;
  String FAcceptRanges;
  String FLocation;
  String FServer;
  String FProxyConnection;
  TIdHeaderList FProxyAuthenticate{QuoteHTTP};
  TIdHeaderList FWWWAuthenticate{QuoteHTTP};
};

// Headers found in the meta tags of an HTML body.
class TIdMetaHTTPEquiv : public TIdEntityHeaderInfo {
public:
  using TIdEntityHeaderInfo::TIdEntityHeaderInfo;
  // Adds the http-equiv meta tags of AContent to RawHeaders (without clearing it) and
  // parses them when there are any; returns the character set named by a
  // <meta charset> tag, empty when none.
  String ProcessMetaHTTPEquiv(TStream* AContent);
};

// The meta scanner: reads AContent from its start as 8-bit text (its position is kept)
// and adds a "Name: content" line to AHeaders for each <meta http-equiv> in the head;
// ACharSet receives the value of a <meta charset> tag, empty when none.
void ParseMetaHTTPEquiv(TStream* AContent, TStrings& AHeaders, String& ACharSet);

// The proxy settings of the engine.
class TIdProxyConnectionInfo : public TPersistent {
public:
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo() override;
  TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
  TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

  void Clear();
  // Copies the settings, not the authentication object.
  void Assign(const TPersistent* ASource) override;
  // Sets "Proxy-Authorization" in AHeaders when there is a credential to send.
  void SetHeaders(TIdHeaderList& AHeaders);

  // Owned; nullptr when none. Changing the server or port frees it.
  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> AValue);
  const String& ProxyPassword() const { return FPassword; }
  void SetProxyPassword(const String& AValue) { FPassword = AValue; }
  int32_t ProxyPort() const { return FPort; }
  void SetProxyPort(int32_t AValue);
  const String& ProxyServer() const { return FServer; }
  void SetProxyServer(const String& AValue);
  const String& ProxyUsername() const { return FUsername; }
  void SetProxyUsername(const String& AValue) { FUsername = AValue; }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool AValue) { FBasicByDefault = AValue; }

private:
  std::unique_ptr<TIdAuthentication> FAuthentication;
  String FPassword;
  int32_t FPort = 0;
  String FServer;
  String FUsername;
  bool FBasicByDefault = false;
};

}  // namespace vyn
