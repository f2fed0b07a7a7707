#include "vynIdHTTP.h"

#include <algorithm>

#include "vynIdCharsets.h"
#include "vynIdGlobalProtocols.h"
#include "vynIdIPAddress.h"
#include "vynIdResourceStrings.h"
#include "vynIdSSL.h"

namespace vyn {

namespace {

bool IsMethod(const TIdHTTPRequest& ARequest, StringView AMethod) {
  return TextEqualsIgnoreCase(ARequest.Method(), AMethod) || TextEqualsIgnoreCase(ARequest.MethodOverride(), AMethod);
}

bool IsChunked(const TIdEntityHeaderInfo& AHeaders) {
  return LowerCase(AHeaders.TransferEncoding()).find(u"chunked") != String::npos;
}

bool IsMultipart(const TIdEntityHeaderInfo& AHeaders) { return HasMediaType(AHeaders.ContentType(), u"multipart"); }

bool IsHTMLType(StringView AContentType) {
  return HasAnyMediaType(AContentType, {u"text/html", u"text/html-sandboxed", u"application/xhtml+xml"});
}

bool IsXMLType(StringView AContentType) {
  if (HasAnyMediaType(AContentType, {u"application/xml", u"application/xml-external-parsed-entity",
                                     u"application/xml-dtd"}))
    return true;
  return !HasMediaType(AContentType, u"text") && TextHasSuffix(LowerCase(MediaSubType(AContentType)), u"+xml");
}

TIdSSLIOHandlerSocketBase* AsTLSHandler(TIdIOHandler* AHandler) {
  return dynamic_cast<TIdSSLIOHandlerSocketBase*>(AHandler);
}

bool Through(TIdHTTPConnectionType AType) { return AType == ctProxy || AType == ctSSLProxy; }

// The values of the "Content-Length" lines joined by ", " when they are not all the
// same, else empty.
String ConflictingContentLengths(const TIdHeaderList& AHeaders) {
  TStringList values;
  AHeaders.Extract(u"Content-Length", values);
  String joined;
  bool differ = false;
  for (int i = 0; i < values.Count(); ++i) {
    differ = differ || Trim(values.Get(i)) != Trim(values.Get(0));
    joined += (i ? u", " : u"") + Trim(values.Get(i));
  }
  return differ ? joined : String();
}

// The most of an error answer's body that is kept for the error: a page without end
// must neither fill the memory nor hold the call.
constexpr int64_t kMostErrorBody = 1 << 20;

// Raised by TErrorBodyStream when the body goes on past kMostErrorBody.
struct TErrorBodyFull {};

// Keeps the first kMostErrorBody bytes written, then ends the read.
class TErrorBodyStream : public TMemoryStream {
public:
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    const int64_t room = std::max<int64_t>(kMostErrorBody - FPosition, 0);
    if (ACount <= room) return TMemoryStream::Write(ABuffer, ACount);
    TMemoryStream::Write(ABuffer, room);
    throw TErrorBodyFull();
  }
};

// The value of a hexadecimal text, or -1 when the text is not one.
int64_t HexValue(StringView AText, bool& VTooLarge) {
  VTooLarge = false;
  if (AText.empty()) return -1;
  int64_t value = 0;
  for (char16_t c : AText) {
    int digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return -1;
    if (!VTooLarge) {
      value = value * 16 + digit;
      if (value > INT32_MAX) VTooLarge = true;
    }
  }
  return value;
}

}  // namespace

// ---- TIdHTTPRequest ----------------------------------------------------------------------

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP* AHTTP) : TIdRequestHeaderInfo(AHTTP), FHTTP(AHTTP) {}

// ---- TIdHTTPResponse ---------------------------------------------------------------------

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP* AHTTP)
    : TIdResponseHeaderInfo(AHTTP), FHTTP(AHTTP), FMetaHTTPEquiv(std::make_unique<TIdMetaHTTPEquiv>(this)) {}

TIdHTTPResponse::~TIdHTTPResponse() = default;

void TIdHTTPResponse::Clear() {
  TIdResponseHeaderInfo::Clear();
  if (FMetaHTTPEquiv) FMetaHTTPEquiv->Clear();
}

void TIdHTTPResponse::SetResponseText(const String& AValue) {
  FResponseText = AValue;
  FResponseCode = -1;
  FResponseVersion = AValue.size() >= 8 && TextEqualsIgnoreCase(StringView(AValue).substr(5, 3), u"1.1") ? pv1_1 : pv1_0;
}

int32_t TIdHTTPResponse::ResponseCode() {
  if (FResponseCode == -1) {
    String rest = FResponseText;
    SplitOffToken(rest, u" ");
    rest = Trim(rest);
    String code = SplitOffToken(rest, u" ");
    code = SplitOffToken(code, u".");
    FResponseCode = StrToIntDef(code, -1);
  }
  return FResponseCode;
}

bool TIdHTTPResponse::KeepAlive() {
  TIdCustomHTTP& http = *FHTTP;
  // A close the peer made while the connection was idle is noticed here.
  if (http.Connected()) http.IOHandler()->CheckForDisconnect(false);
  bool keep = http.Connected();
  TIdHTTPRequest& request = http.Request();
  const bool proxied = Through(request.UseProxy());
  if (keep) {
    keep = !TextEqualsIgnoreCase(Trim(request.Connection()), u"close");
    if (keep && proxied) keep = !TextEqualsIgnoreCase(Trim(request.ProxyConnection()), u"close");
  }
  if (keep) {
    if (http.ProtocolVersion() == pv1_0) {
      keep = TextEqualsIgnoreCase(Trim(Connection()), u"keep-alive");
      if (keep && proxied) keep = TextEqualsIgnoreCase(Trim(ProxyConnection()), u"keep-alive");
    } else {
      keep = !TextEqualsIgnoreCase(Trim(Connection()), u"close");
      if (keep && proxied) keep = !TextEqualsIgnoreCase(Trim(ProxyConnection()), u"close");
    }
  }
  FKeepAlive = keep;
  return keep;
}

// ---- TIdHTTPProtocol ---------------------------------------------------------------------

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP* AConnection)
    : FHTTP(AConnection), FRequest(std::make_unique<TIdHTTPRequest>(AConnection)),
      FResponse(std::make_unique<TIdHTTPResponse>(AConnection)) {}

TIdHTTPProtocol::~TIdHTTPProtocol() = default;

void TIdHTTPProtocol::BuildAndSendRequest(TIdURI* AURI) {
  // A scheme object of the request learns method and target here once the schemes
  // that sign them (Digest) exist; Basic needs neither.
  FRequest->BuildRawHeaders();
  FHTTP->ProxyParams().SetHeaders(FRequest->RawHeaders());
  if (AURI) FHTTP->AddRequestCookies(*FRequest, *AURI);

  TIdIOHandler& io = *FHTTP->IOHandler();
  const bool opened = !io.WriteBufferingActive();
  if (opened) io.WriteBufferOpen();
  try {
    io.WriteLn(FRequest->Method() + u" " + FRequest->URL() + u" HTTP/" +
               (FHTTP->ProtocolVersion() == pv1_0 ? u"1.0" : u"1.1"));
    const TIdHeaderList& raw = FRequest->RawHeaders();
    for (int i = 0; i < raw.Count(); ++i) {
      const String line = raw.Get(i);
      if (!line.empty()) io.WriteLn(line);
    }
    io.WriteLn();
  } catch (...) {
    if (opened) io.WriteBufferCancel();
    throw;
  }
  if (opened) io.WriteBufferClose();
}

void TIdHTTPProtocol::RetrieveHeaders(int32_t AMaxHeaderCount) {
  FResponse->Clear();
  // A block longer than the limit ends the answer with an error, so that a peer cannot
  // fill the memory with header lines; stopping early without one would take the rest
  // of the block for the body. A non-positive limit reads the whole block.
  try {
    for (;;) {
      const String line = FHTTP->ReadProtocolLine();
      if (line.empty()) break;
      if (AMaxHeaderCount > 0 && FResponse->RawHeaders().Count() >= AMaxHeaderCount)
        EIdException::Toss(RSHTTPMaxHeaderLinesExceeded);
      FResponse->RawHeaders().Add(line);
    }
  } catch (const EIdConnClosedGracefully&) {
    FHTTP->Disconnect();
  } catch (...) {
    FHTTP->Disconnect();
    throw;
  }
  FResponse->ParseRawHeaders();
  // Lengths that differ leave the end of the body open: either one could cut it short
  // without a word or take the start of the next answer for it.
  if (!IsChunked(*FResponse)) {
    const String lengths = ConflictingContentLengths(FResponse->RawHeaders());
    if (!lengths.empty()) {
      FHTTP->Disconnect();
      EIdException::Toss(FormatInvariant(RSHTTPConflictingContentLength, {lengths}));
    }
  }
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessResponse(const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  bool go = true;
  if (FHTTP->OnHeadersAvailable) FHTTP->OnHeadersAvailable(FHTTP, FResponse->RawHeaders(), go);
  if (!go) {
    // The body stays unread; the close at the end of the call drops it.
    FResponse->SetKeepAlive(false);
    FResponse->SetConnection(u"close");
    return wnJustExit;
  }
  const int32_t code = FResponse->ResponseCode();
  if (code / 100 == 3 && code != 304) return ProcessRedirect(AIgnoreReplies);
  if (code / 100 == 2) {
    if (IsMethod(*FRequest, u"HEAD") || code == 204)
      FHTTP->DiscardBody(*FRequest, *FResponse);
    else
      FHTTP->ReadBody(*FRequest, *FResponse);
    return wnJustExit;
  }
  if (code == 101) {
    FResponse->SetKeepAlive(true);
    return wnJustExit;
  }
  if (code == 401) return ProcessAuthChallenge(false, AIgnoreReplies);
  if (code == 407) return ProcessAuthChallenge(true, AIgnoreReplies);
  FHTTP->ReadErrorBody(*FRequest, *FResponse, AIgnoreReplies);
  return wnJustExit;
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessRedirect(const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  TIdCustomHTTP& http = *FHTTP;
  if (FResponse->Location().empty()) {
    http.ReadErrorBody(*FRequest, *FResponse, AIgnoreReplies);
    return wnJustExit;
  }
  ++http.FRedirectCount;
  String location = FResponse->Location();
  String method = FRequest->Method();
  if (!http.ConfirmRedirect(location, method, http.FRedirectCount)) {
    http.ReadErrorBody(*FRequest, *FResponse, AIgnoreReplies);
    return wnJustExit;
  }
  // The redirect's own body is dropped first, while the request still says what it
  // was answered to (a HEAD has none to wait for).
  if (http.Connected()) http.DiscardBody(*FRequest, *FResponse);
  if (http.FHandleRedirects && http.FRedirectCount < http.FRedirectMax) {
    const int32_t code = FResponse->ResponseCode();
    FRequest->SetURL(location);
    if (code == 303 || (code == 302 && http.FOptions.Contains(hoTreat302Like303))) {
      FRequest->SetSource(nullptr);
      FRequest->SetMethod(u"GET");
    } else {
      FRequest->SetMethod(method);
    }
    FRequest->SetMethodOverride(String());
    return wnGoToURL;
  }
  FResponse->SetLocation(location);
  return wnJustExit;
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessAuthChallenge(bool AProxy, const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  TIdCustomHTTP& http = *FHTTP;
  const int32_t retries = AProxy ? http.FAuthProxyRetries : http.FAuthRetries;
  const bool accepted = retries < http.FMaxAuthRetries && (AProxy ? http.AnswerProxyAuthChallenge(*FRequest, *FResponse)
                                                                  : http.AnswerAuthChallenge(*FRequest, *FResponse));
  if (!accepted) {
    http.ReadErrorBody(*FRequest, *FResponse, AIgnoreReplies);
    return wnJustExit;
  }
  if (http.FOptions.Contains(hoInProcessAuth)) {
    http.DiscardBody(*FRequest, *FResponse);
    return wnAuthRequest;
  }
  // The challenge is the final answer of this call.
  if (IsMethod(*FRequest, u"HEAD"))
    http.DiscardBody(*FRequest, *FResponse);
  else
    http.ReadBody(*FRequest, *FResponse);
  return wnJustExit;
}

// ---- TIdCustomHTTP: construction -------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP(TComponent* AOwner)
    : TIdTCPClientCustom(AOwner), FURI(std::make_unique<TIdURI>()),
      FProxyParameters(std::make_unique<TIdProxyConnectionInfo>()) {
  // A virtual call from here reaches this class's version: a subclass that makes its
  // own protocol object replaces this one in its constructor.
  FHTTPProto = TIdCustomHTTP::CreateProtocolObject();
  FHTTPProto->Request().Clear();
}

TIdCustomHTTP::~TIdCustomHTTP() {
  if (FCompressor) RemoveFreeNotification(FCompressor);
  FCompressor = nullptr;
}

std::unique_ptr<TIdHTTPProtocol> TIdCustomHTTP::CreateProtocolObject() {
  return std::make_unique<TIdHTTPProtocol>(this);
}

void TIdCustomHTTP::SetCompressor(TIdZLibCompressorBase* AValue) {
  if (AValue == FCompressor) return;
  if (FCompressor) RemoveFreeNotification(FCompressor);
  FCompressor = AValue;
  if (FCompressor) FreeNotification(FCompressor);
}

void TIdCustomHTTP::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent && AComponent == FCompressor) FCompressor = nullptr;
  TIdTCPClientCustom::Notification(AComponent, AOperation);
}

void TIdCustomHTTP::HandleDisconnected() {
  TIdTCPClientCustom::HandleDisconnected();
  // A scheme object whose handshake is complete is handed to the authentication
  // manager here once the schemes report their steps.
}

// ---- Decisions that the authentication schemes complete ------------------------------------------

bool TIdCustomHTTP::AnswerAuthChallenge(TIdHTTPRequest&, TIdHTTPResponse&) {
  ++FAuthRetries;
  // Choosing a scheme from the challenge needs the scheme registry; without one no
  // challenge can be answered, and the 401 takes the error path.
  return false;
}

bool TIdCustomHTTP::AnswerProxyAuthChallenge(TIdHTTPRequest&, TIdHTTPResponse&) {
  ++FAuthProxyRetries;
  return false;
}

bool TIdCustomHTTP::ConfirmRedirect(String& ALocation, String& AMethod, int32_t ARedirectCount) {
  bool handled = FHandleRedirects;
  if (OnRedirect) {
    int count = ARedirectCount;  // a copy: the handler cannot change the count
    OnRedirect(this, ALocation, count, handled, AMethod);
  }
  return handled;
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPResponse&) {
  // Cookies are kept by the cookie manager; none is attached yet.
}

void TIdCustomHTTP::AddRequestCookies(TIdHTTPRequest&, TIdURI&) {
  // Cookies are sent by the cookie manager; none is attached yet.
}

// ---- The request cycle ------------------------------------------------------------------------

void TIdCustomHTTP::ResetContentStream(TStream* AStream, int64_t APosition) {
  if (!AStream) return;
  AStream->SetPosition(APosition);
  try {
    AStream->SetSize(APosition);
  } catch (const EStreamError&) {
    // A stream that cannot be sized keeps what it has.
  }
}

void TIdCustomHTTP::PerformRequest(const String& AMethod, const String& AURL, TStream* ASource,
                                   TStream* AResponseContent, const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  FRedirectCount = 0;
  FAuthRetries = 0;
  FAuthProxyRetries = 0;
  const int64_t startPos = AResponseContent ? AResponseContent->Position() : 0;
  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = Response();
  request.SetURL(AURL);
  request.SetMethod(AMethod);
  request.SetSource(ASource);
  response.SetContentStream(AResponseContent);

  // The connection stays only when the answer allows it and nothing is left unread.
  auto finish = [&] {
    const bool keep = response.KeepAlive() ||
                      (FOptions.Contains(hoNoReadMultipartMIME) && IsMultipart(response)) ||
                      (FOptions.Contains(hoNoReadChunked) && IsChunked(response));
    if (!keep) Disconnect();
  };
  try {
    for (;;) {
      PrepareRequestTarget();
      if (TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler())) tls->SetURIToCheck(FURI->URI());
      OpenRequestConnection(request, response);
      ReadResponseHead(*FHTTPProto);
      bool done = false;
      switch (FHTTPProto->ProcessResponse(AIgnoreReplies)) {
        case wnJustExit:
          done = true;
          break;
        case wnGoToURL:
          ResetContentStream(AResponseContent, startPos);
          FAuthRetries = 0;
          FAuthProxyRetries = 0;
          break;
        case wnAuthRequest:
          request.SetURL(AURL);
          break;
        case wnReadAndGo:
          ReadBody(request, response);
          ResetContentStream(AResponseContent, startPos);
          FAuthRetries = 0;
          FAuthProxyRetries = 0;
          break;
        case wnDontKnow:
          EIdException::Toss(RSHTTPNotAcceptable);
      }
      if (done) break;
    }
  } catch (const EIdHTTPProtocolException&) {
    // The error answer was read whole: the connection may serve the next request.
    try {
      finish();
    } catch (...) {
    }
    throw;
  } catch (...) {
    // Anything else may have stopped in the middle of an answer, whose rest would be
    // read as the next one: the connection goes.
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  }
  finish();
}

void TIdCustomHTTP::PrepareRequestTarget() {
  TIdHTTPRequest& request = Request();
  TIdURI uri(request.URL());
  if (!uri.Username().empty()) {
    request.SetUsername(uri.Username());
    request.SetPassword(uri.Password());
  }
  FURI->SetUsername(request.Username());
  FURI->SetPassword(request.Password());
  FURI->SetPath(MergePath(FURI->Path(), uri.Path()));
  FURI->SetDocument(uri.Document());
  FURI->SetParams(uri.Params());
  if (!uri.Host().empty()) FURI->SetHost(uri.Host());

  if (!uri.Protocol().empty())
    FURI->SetProtocol(uri.Protocol());
  else if (TextEqualsIgnoreCase(FURI->Protocol(), u"https"))
    FURI->SetProtocol(u"https");
  else
    FURI->SetProtocol(u"http");

  if (!uri.Port().empty())
    FURI->SetPort(uri.Port());
  else if (TextEqualsIgnoreCase(uri.Protocol(), u"http"))
    FURI->SetPort(u"80");
  else if (TextEqualsIgnoreCase(uri.Protocol(), u"https"))
    FURI->SetPort(u"443");
  else if (FURI->Port().empty())
    EIdUnknownProtocol::Toss(RSHTTPUnknownProtocol);

  if ((request.Method() == u"OPTIONS" || request.MethodOverride() == u"OPTIONS") && uri.Document() == u"*")
    request.SetURL(u"*");
  else
    request.SetURL(FURI->GetPathAndParams());

  // A relative URL names no host, and so no address family: the current one stays.
  if (!uri.Host().empty()) FURI->SetIPVersion(uri.IPVersion());
  request.SetIPVersion(FURI->IPVersion());

  for (StringView method : {u"TRACE", u"PUT", u"OPTIONS", u"DELETE", u"PATCH"})
    if (IsMethod(request, method) && FProtocolVersion != pv1_1) EIdException::Toss(RSHTTPMethodRequiresVersion);

  if (request.Source())
    request.SetContentLength(request.Source()->Size());
  else if (TextEqualsIgnoreCase(request.Method(), u"POST") || TextEqualsIgnoreCase(request.Method(), u"PUT"))
    request.SetContentLength(0);
  else
    request.SetContentLength(-1);

  String host = FURI->Host();
  if (FURI->IPVersion() == Id_IPv6 && !CanonicalIPv6Text(host).empty()) host = u"[" + host + u"]";
  const bool defaultPort = (TextEqualsIgnoreCase(FURI->Protocol(), u"http") && FURI->Port() == u"80") ||
                           (TextEqualsIgnoreCase(FURI->Protocol(), u"https") && FURI->Port() == u"443");
  if (!defaultPort) host += u":" + FURI->Port();
  request.SetHost(host);
}

TIdHTTPConnectionType TIdCustomHTTP::SelectHostAndPort() {
  const bool tls = TextEqualsIgnoreCase(FURI->Protocol(), u"HTTPS");
  String host;
  uint16_t port;
  if (FProxyParameters->ProxyServer().empty()) {
    if (Socket() && Socket()->IPVersion() != FURI->IPVersion() && Connected()) Disconnect();
    host = FURI->Host();
    port = static_cast<uint16_t>(StrToIntDef(FURI->Port(), 80));
  } else {
    host = FProxyParameters->ProxyServer();
    port = static_cast<uint16_t>(FProxyParameters->ProxyPort());
  }
  if ((!TextEqualsIgnoreCase(Host(), host) || Port() != port) && Connected()) Disconnect();
  SetHost(host);
  SetPort(port);
  if (FProxyParameters->ProxyServer().empty()) return tls ? ctSSL : ctNormal;
  return tls ? ctSSLProxy : ctProxy;
}

void TIdCustomHTTP::OpenRequestConnection(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  if (IOHandler()) IOHandler()->InputBuffer()->Clear();
  const String destination = FURI->Host() + u":" + FURI->Port();
  const TIdHTTPConnectionType previous = ARequest.UseProxy();
  ARequest.SetUseProxy(SelectHostAndPort());
  const TIdHTTPConnectionType type = ARequest.UseProxy();
  if (type != previous && Connected()) Disconnect();
  if (type == ctSSLProxy && !TextEqualsIgnoreCase(destination, ARequest.Destination()) && Connected()) Disconnect();
  ARequest.SetDestination(destination);

  bool tunnel = false;
  switch (type) {
    case ctNormal:
    case ctSSL:
      if (FProtocolVersion == pv1_0 && ARequest.Connection().empty()) ARequest.SetConnection(u"keep-alive");
      break;
    case ctProxy:
      ARequest.SetURL(FURI->URI());
      if (FProtocolVersion == pv1_0 && ARequest.Connection().empty()) ARequest.SetProxyConnection(u"keep-alive");
      tunnel = FOptions.Contains(hoNonSSLProxyUseConnectVerb) && !Connected();
      break;
    case ctSSLProxy:
      tunnel = !Connected();
      break;
  }

  if (FCompressor && FCompressor->IsReady()) {
    String encodings = ARequest.AcceptEncoding();
    for (const char16_t* coding : {u"deflate", u"gzip"})
      if (encodings.find(coding) == String::npos) encodings += (encodings.empty() ? u"" : u", ") + String(coding);
    ARequest.SetAcceptEncoding(encodings);
  }
  if (!ARequest.AcceptEncoding().empty() && ARequest.AcceptEncoding().find(u"identity") == String::npos)
    ARequest.SetAcceptEncoding(ARequest.AcceptEncoding() + u", identity");

  if (tunnel) {
    std::unique_ptr<TIdHTTPProtocol> proto = CreateProtocolObject();
    TIdHTTPRequest& connect = proto->Request();
    TIdHTTPResponse& answer = proto->Response();
    connect.SetUserAgent(ARequest.UserAgent());
    connect.SetHost(ARequest.Host());
    connect.SetPragma(u"no-cache");
    connect.SetURL(destination);
    connect.SetMethod(u"CONNECT");
    connect.SetProxyConnection(u"keep-alive");
    connect.SetUseProxy(type);
    for (bool again = true; again;) {
      EnsureConnected(connect, answer);
      proto->BuildAndSendRequest(nullptr);
      const String line = ReadProtocolLine();
      if (line.empty()) {
        // A proxy that answers nothing has opened the tunnel.
        answer.SetResponseText(u"HTTP/1.0 200 OK");
        answer.SetConnection(u"close");
      } else {
        answer.SetResponseText(line);
        proto->RetrieveHeaders(FMaxHeaderLines);
        StoreResponseCookies(answer);
      }
      if (answer.ResponseCode() / 100 == 2) {
        if (type == ctSSLProxy)
          if (TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler())) tls->SetPassThrough(false);
        break;
      }
      switch (proto->ProcessResponse({})) {
        case wnJustExit:
          again = false;
          break;
        case wnAuthRequest:
          connect.SetURL(destination);
          break;
        case wnReadAndGo:
          ReadBody(connect, answer);
          FAuthRetries = 0;
          FAuthProxyRetries = 0;
          break;
        case wnGoToURL:
          FAuthRetries = 0;
          FAuthProxyRetries = 0;
          break;
        case wnDontKnow:
          EIdException::Toss(RSHTTPNotAcceptable);
      }
    }
  } else {
    EnsureConnected(ARequest, AResponse);
  }

  FHTTPProto->BuildAndSendRequest(FURI.get());
  if (TStream* source = ARequest.Source()) IOHandler()->Write(*source, 0);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  if (!AResponse.KeepAlive()) Disconnect();
  if (IOHandler()) {
    IOHandler()->InputBuffer()->Clear();
    CheckForGracefulDisconnect(false);
  }
  if (Connected()) return;

  SetIPVersion(FURI->IPVersion());
  const TIdHTTPConnectionType type = ARequest.UseProxy();
  if (type == ctSSL || type == ctSSLProxy) {
    if (!IOHandler()) {
      std::unique_ptr<TIdIOHandler> handler =
          TIdIOHandler::TryMakeIOHandler(TIdIOHandlerClass::Of<TIdSSLIOHandlerSocketBase>());
      if (!handler) EIdIOHandlerPropInvalid::Toss(RSIOHandlerPropInvalid);
      handler->OnStatus = OnStatus;
      SetIOHandler(std::move(handler));
    }
    TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler());
    if (!tls) EIdIOHandlerPropInvalid::Toss(RSIOHandlerPropInvalid);
    tls->SetURIToCheck(FURI->URI());
    tls->SetPassThrough(type == ctSSLProxy);
  } else if (TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler())) {
    tls->SetPassThrough(true);
    tls->SetURIToCheck(FURI->URI());
  }
  try {
    Connect();
  } catch (const EIdSSLProtocolReplyError&) {
    Disconnect();
    throw;
  }
}

String TIdCustomHTTP::ReadProtocolLine() {
  TIdIOHandler* io = IOHandler();
  if (!io) EIdNotConnected::Toss(RSNotConnected);
  String line = io->ReadLn();
  if (io->ReadLnTimedout()) EIdReadTimeout::Toss(RSReadTimeout);
  return line;
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPProtocol& AProtocol) {
  TIdHTTPResponse& response = AProtocol.Response();
  for (;;) {
    response.SetResponseText(ReadProtocolLine());
    AProtocol.RetrieveHeaders(FMaxHeaderLines);
    StoreResponseCookies(response);
    const int32_t code = response.ResponseCode();
    // Interim answers are passed over; 101 ends the exchange like a final answer.
    if (code / 100 != 1 || code == 101) break;
  }
}

// ---- Error and dropped bodies ---------------------------------------------------------------

void TIdCustomHTTP::DiscardBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  TStream* saved = AResponse.ContentStream();
  AResponse.SetContentStream(nullptr);
  TScopeExit restore([&] { AResponse.SetContentStream(saved); });
  try {
    ReadBody(ARequest, AResponse);
  } catch (const EIdConnClosedGracefully&) {
    Disconnect();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TIdCustomHTTP::ReadErrorBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse,
                                  const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  const int32_t code = AResponse.ResponseCode();
  const bool ignored = FOptions.Contains(hoNoProtocolErrorException) ||
                       std::find(AIgnoreReplies.begin(), AIgnoreReplies.end(), code) != AIgnoreReplies.end();
  if (ignored) {
    if (FOptions.Contains(hoWantProtocolErrorContent))
      ReadBody(ARequest, AResponse);
    else
      DiscardBody(ARequest, AResponse);
    return;
  }
  TErrorBodyStream body;
  {
    TStream* saved = AResponse.ContentStream();
    AResponse.SetContentStream(&body);
    TScopeExit restore([&] { AResponse.SetContentStream(saved); });
    try {
      ReadBody(ARequest, AResponse);
    } catch (const EIdConnClosedGracefully&) {
      Disconnect();
    } catch (const TErrorBodyFull&) {
      // The rest of the page is not waited for; the connection is left mid-answer.
      Disconnect();
    } catch (...) {
      Disconnect();
      throw;
    }
  }
  throw EIdHTTPProtocolException(code, AResponse.ResponseText(),
                                 TextFromBytes(body.Bytes(), EncodingForCharset(AResponse.CharSet())));
}

// ---- Body transfer ------------------------------------------------------------------------------

bool TIdCustomHTTP::DataPending(int32_t AMSec) {
  TIdIOHandler* io = IOHandler();
  if (!io) return false;
  if (!io->InputBufferIsEmpty()) return true;
  io->CheckForDataOnSource(AMSec);
  return !io->InputBufferIsEmpty();
}

bool TIdCustomHTTP::BodyExpected(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  bool framed;
  if (IsChunked(AResponse))
    framed = !FOptions.Contains(hoNoReadChunked);
  else if (AResponse.HasContentLength())
    framed = AResponse.ContentLength() > 0;
  else if (IsMultipart(AResponse))
    framed = !FOptions.Contains(hoNoReadMultipartMIME);
  else
    framed = true;
  if (!framed) return false;
  const int32_t code = AResponse.ResponseCode();
  if (IsMethod(ARequest, u"HEAD") || code / 100 == 1 || code == 204 || code == 304)
    return FOptions.Contains(hoWaitForUnexpectedData) && DataPending(100);
  if (code / 100 == 3) return DataPending(5000);
  return true;
}

void TIdCustomHTTP::CopyCollectedBody(TMemoryStream& ACollected, TStream& ADest) {
  constexpr int64_t kBlock = 61440;
  const int64_t size = ACollected.Size();
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min(kBlock, size - done);
    ADest.WriteBuffer(ACollected.Memory() + done, n);
    done += n;
  }
}

void TIdCustomHTTP::ReadBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  if (!BodyExpected(ARequest, AResponse)) return;
  TIdIOHandler& io = *IOHandler();
  TStream* const caller = AResponse.ContentStream();

  enum { pmNone, pmMeta, pmXml } mode = pmNone;
  if (caller) {
    if (IsHTMLType(AResponse.ContentType()) && !FOptions.Contains(hoNoParseMetaHTTPEquiv))
      mode = pmMeta;
    else if (IsXMLType(AResponse.ContentType()) && !FOptions.Contains(hoNoParseXmlCharset))
      mode = pmXml;
  }
  // The character set is looked for in the whole body, which a stream that cannot be
  // read back does not keep: such a body is collected first.
  std::unique_ptr<TMemoryStream> collected;
  if (mode != pmNone && !dynamic_cast<TMemoryStream*>(caller)) {
    collected = std::make_unique<TMemoryStream>();
    AResponse.SetContentStream(collected.get());
  }
  TScopeExit handBack([&] {
    if (!collected) return;
    AResponse.SetContentStream(caller);
    try {
      CopyCollectedBody(*collected, *caller);
    } catch (...) {
      // Only reached while another error is on its way out; the copy runs again below.
    }
  });
  TStream* const target = AResponse.ContentStream();

  const String& coding = AResponse.ContentEncoding();
  const bool deflate = TextEqualsIgnoreCase(coding, u"deflate");
  const bool gzip = TextEqualsIgnoreCase(coding, u"gzip");
  std::unique_ptr<TMemoryStream> compressed;
  if (target && FCompressor && FCompressor->IsReady() && (deflate || gzip))
    compressed = std::make_unique<TMemoryStream>();
  TStream* const dest = compressed ? compressed.get() : target;

  if (IsChunked(AResponse)) {
    ReadChunkedBody(dest, AResponse);
  } else if (AResponse.HasContentLength()) {
    const int64_t length = AResponse.ContentLength();
    if (length > 0) {
      try {
        if (dest)
          io.ReadStream(dest, length, false);
        else
          io.Discard(length);
      } catch (const EIdConnClosedGracefully&) {
        // A body cut short by the peer ends with what arrived.
      }
    }
  } else if (IsMultipart(AResponse)) {
    ReadMultipartBody(dest, AResponse);
  } else if (dest) {
    io.ReadStream(dest, -1, true);
  } else {
    io.DiscardAll();
  }

  if (compressed) {
    compressed->SetPosition(0);
    if (deflate)
      FCompressor->DecompressDeflateStream(*compressed, *target);
    else
      FCompressor->DecompressGZipStream(*compressed, *target);
    compressed.reset();
  }
  if (mode == pmMeta)
    AResponse.ProcessMetaHTTPEquiv(AResponse.MetaHTTPEquiv(), target);
  else if (mode == pmXml)
    AResponse.SetCharSet(DetectXmlCharset(target));

  if (collected) {
    // The normal end: the copy's errors reach the caller.
    std::unique_ptr<TMemoryStream> body = std::move(collected);
    AResponse.SetContentStream(caller);
    CopyCollectedBody(*body, *caller);
  }
}

int32_t TIdCustomHTTP::ReadChunkSize() {
  String line = ReadProtocolLine();
  const size_t semicolon = line.find(u';');
  if (semicolon != String::npos) line.resize(semicolon);  // chunk extensions are dropped
  line = Trim(line);
  bool tooLarge;
  const int64_t size = HexValue(line, tooLarge);
  if (tooLarge) EIdException::Toss(FormatInvariant(RSHTTPChunkSizeTooLarge, {line}));
  // Text that is no hexadecimal number ends the body like the last chunk.
  return size < 0 ? 0 : static_cast<int32_t>(size);
}

void TIdCustomHTTP::ReadChunkedBody(TStream* AStream, TIdHTTPResponse& AResponse) {
  TIdIOHandler& io = *IOHandler();
  ReportStatus(hsStatusText, {RSHTTPChunkStarted});
  BeginWork(wmRead);
  TScopeExit endWork([this] { EndWork(wmRead); });
  for (int32_t size = ReadChunkSize(); size != 0; size = ReadChunkSize()) {
    if (!AStream) {
      io.Discard(size);
    } else if (OnChunkReceived) {
      TIdBytes chunk;
      io.ReadBytes(chunk, size, false);
      OnChunkReceived(this, chunk);
      if (!chunk.empty()) AStream->WriteBuffer(chunk.data(), static_cast<int64_t>(chunk.size()));
    } else {
      io.ReadStream(AStream, size, false);
    }
    ReadProtocolLine();  // the end of the chunk's data
  }
  // The trailer is bounded like the header block.
  for (int32_t lines = 0;; ++lines) {
    const String line = ReadProtocolLine();
    if (line.empty()) break;
    if (FMaxHeaderLines > 0 && lines >= FMaxHeaderLines) EIdException::Toss(RSHTTPMaxHeaderLinesExceeded);
    AResponse.RawHeaders().Add(line);
  }
}

void TIdCustomHTTP::ReadMultipartBody(TStream* AStream, TIdHTTPResponse& AResponse) {
  TIdIOHandler& io = *IOHandler();
  TIdBuffer& buffer = *io.InputBuffer();
  const TIdBytes delimiter =
      BytesFromText(u"--" + HeaderParamValue(AResponse.ContentType(), u"boundary", QuoteHTTP) + u"--");
  const int delimiterLength = static_cast<int>(delimiter.size());
  BeginWork(wmRead);
  TScopeExit endWork([this] { EndWork(wmRead); });
  try {
    for (;;) {
      const int found = buffer.Size() > 0 ? buffer.IndexOf(delimiter, 0) : -1;
      if (found >= 0) {
        if (AStream)
          io.ReadStream(AStream, found + delimiterLength, false);
        else
          io.Discard(found + delimiterLength);
        ReadProtocolLine();
        break;
      }
      // Everything but the bytes that could begin the delimiter goes on at once.
      const int n = buffer.Size() - delimiterLength + 1;
      if (n > 0) {
        if (AStream)
          buffer.ExtractToStream(*AStream, n);
        else
          buffer.Remove(n);
      }
      // Waits for the next receive rather than polling; the peer's close raises even
      // while a possible start of the delimiter is still buffered.
      if (io.FillInputBuffer(true, TimeoutUseDefault, true) <= 0) {
        io.CheckForDisconnect(true, true);
        io.RaiseClosedGracefully();
      }
    }
  } catch (const EIdConnClosedGracefully&) {
    if (AStream && buffer.Size() > 0)
      buffer.ExtractToStream(*AStream);
    else
      buffer.Clear();
  }
}

// ---- Request operations ---------------------------------------------------------------------------

String TIdCustomHTTP::DecodedContent(const TMemoryStream& AContent) {
  return TextFromBytes(AContent.Bytes(), EncodingForCharset(Response().CharSet()));
}

void TIdCustomHTTP::Get(const String& AURL, TStream* AResponseContent) { Get(AURL, AResponseContent, {}); }

void TIdCustomHTTP::Get(const String& AURL, TStream* AResponseContent, const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  PerformRequest(u"GET", AURL, nullptr, AResponseContent, AIgnoreReplies);
}

String TIdCustomHTTP::Get(const String& AURL) { return Get(AURL, TIdHTTPIgnoreReplies{}); }

String TIdCustomHTTP::Get(const String& AURL, const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  TMemoryStream content;
  Get(AURL, &content, AIgnoreReplies);
  return DecodedContent(content);
}

void TIdCustomHTTP::Head(const String& AURL) { PerformRequest(u"HEAD", AURL, nullptr, nullptr, {}); }

void TIdCustomHTTP::Post(const String& AURL, TStream* ASource, TStream* AResponseContent) {
  const TIdHTTPProtocolVersion version = FProtocolVersion;
  TScopeExit restore([&] { FProtocolVersion = version; });
  if (!FOptions.Contains(hoKeepOrigProtocol)) {
    if (Connected()) Disconnect();
    FProtocolVersion = pv1_0;
  }
  PerformRequest(u"POST", AURL, ASource, AResponseContent, {});
}

String TIdCustomHTTP::Post(const String& AURL, TStream* ASource) {
  TMemoryStream content;
  Post(AURL, ASource, &content);
  return DecodedContent(content);
}

void TIdCustomHTTP::Post(const String& AURL, const String& ASourceFile, TStream* AResponseContent) {
  TFileStream source(ASourceFile, fmOpenRead | fmShareDenyWrite);
  Post(AURL, &source, AResponseContent);
}

String TIdCustomHTTP::Post(const String& AURL, const String& ASourceFile) {
  TFileStream source(ASourceFile, fmOpenRead | fmShareDenyWrite);
  return Post(AURL, &source);
}

void TIdCustomHTTP::Post(const String& AURL, TStrings* ASource, TStream* AResponseContent,
                         const IIdTextEncoding& AByteEncoding) {
  if (Request().ContentType().empty() || IsHTMLType(Request().ContentType()))
    Request().SetContentType(u"application/x-www-form-urlencoded");
  if (!ASource) {
    Post(AURL, static_cast<TStream*>(nullptr), AResponseContent);
    return;
  }
  TMemoryStream body;
  WriteTextToStream(body, FormEncodeLines(ASource, AByteEncoding));
  body.SetPosition(0);
  Post(AURL, &body, AResponseContent);
}

String TIdCustomHTTP::Post(const String& AURL, TStrings* ASource, const IIdTextEncoding& AByteEncoding) {
  TMemoryStream content;
  Post(AURL, ASource, &content, AByteEncoding);
  return DecodedContent(content);
}

void TIdCustomHTTP::Post(const String& AURL, TIdMultiPartFormDataStream* ASource, TStream* AResponseContent) {
  if (!ASource) EIdException::Toss(RSHTTPMultipartSourceRequired);
  Request().SetContentType(ASource->RequestContentType());
  Post(AURL, static_cast<TStream*>(ASource), AResponseContent);
}

String TIdCustomHTTP::Post(const String& AURL, TIdMultiPartFormDataStream* ASource) {
  TMemoryStream content;
  Post(AURL, ASource, &content);
  return DecodedContent(content);
}

void TIdCustomHTTP::Put(const String& AURL, TStream* ASource, TStream* AResponseContent) {
  PerformRequest(u"PUT", AURL, ASource, AResponseContent, {});
}

String TIdCustomHTTP::Put(const String& AURL, TStream* ASource) {
  TMemoryStream content;
  Put(AURL, ASource, &content);
  return DecodedContent(content);
}

void TIdCustomHTTP::Patch(const String& AURL, TStream* ASource, TStream* AResponseContent) {
  PerformRequest(u"PATCH", AURL, ASource, AResponseContent, {});
}

String TIdCustomHTTP::Patch(const String& AURL, TStream* ASource) {
  TMemoryStream content;
  Patch(AURL, ASource, &content);
  return DecodedContent(content);
}

void TIdCustomHTTP::Delete(const String& AURL, TStream* AResponseContent) {
  PerformRequest(u"DELETE", AURL, nullptr, AResponseContent, {});
}

String TIdCustomHTTP::Delete(const String& AURL) {
  TMemoryStream content;
  Delete(AURL, &content);
  return DecodedContent(content);
}

String TIdCustomHTTP::Delete(const String& AURL, const String& aBody) {
  TStringStream source(aBody);
  TMemoryStream content;
  PerformRequest(u"DELETE", AURL, &source, &content, {});
  return DecodedContent(content);
}

void TIdCustomHTTP::Options(const String& AURL, TStream* AResponseContent) {
  PerformRequest(u"OPTIONS", AURL, nullptr, AResponseContent, {});
}

String TIdCustomHTTP::Options(const String& AURL) {
  TMemoryStream content;
  Options(AURL, &content);
  return DecodedContent(content);
}

void TIdCustomHTTP::Trace(const String& AURL, TStream* AResponseContent) {
  PerformRequest(u"TRACE", AURL, nullptr, AResponseContent, {});
}

String TIdCustomHTTP::Trace(const String& AURL) {
  TMemoryStream content;
  Trace(AURL, &content);
  return DecodedContent(content);
}

// ---- Form encoding ---------------------------------------------------------------------------------

String TIdCustomHTTP::FormEncodeText(StringView AText, const IIdTextEncoding& AByteEncoding) {
  const IIdTextEncoding& encoding = AByteEncoding ? AByteEncoding : EncodingUTF8();
  String out;
  out.reserve(AText.size());
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    if (c == u' ') {
      out += u'+';
      continue;
    }
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'*' ||
        c == u'-' || c == u'.' || c == u'_') {
      out += c;
      continue;
    }
    // A surrogate pair is one character.
    size_t length = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 && AText[i + 1] <= 0xDFFF)
      length = 2;
    const StringView character = AText.substr(i, length);
    const TIdBytes bytes = BytesFromText(character, encoding);
    if (c != u'?' && std::find(bytes.begin(), bytes.end(), uint8_t('?')) != bytes.end()) {
      const uint32_t code = length == 2 ? 0x10000 + ((c - 0xD800) << 10) + (AText[i + 1] - 0xDC00) : c;
      out += u"&#" + UIntToStr(code) + u";";
    } else {
      for (uint8_t b : bytes) out += u"%" + IntToHex(b, 2);
    }
    i += length - 1;
  }
  return out;
}

String TIdCustomHTTP::FormEncodeLines(TStrings* AList, const IIdTextEncoding& AByteEncoding) const {
  if (!AList) return String();
  TStringList lines;
  for (int i = 0; i < AList->Count(); ++i) {
    String line = AList->Get(i);
    if (FOptions.Contains(hoForceEncodeParams)) {
      const size_t sep = line.find(AList->NameValueSeparator());
      if (sep != String::npos)
        line = FormEncodeText(StringView(line).substr(0, sep), AByteEncoding) + u"=" +
               FormEncodeText(StringView(line).substr(sep + 1), AByteEncoding);
      else
        line = FormEncodeText(line, AByteEncoding);
    }
    lines.Add(line);
  }
  String text = Trim(lines.Text());
  for (size_t p = text.find(u"\r\n"); p != String::npos; p = text.find(u"\r\n", p + 1)) text.replace(p, 2, u"&");
  return text;
}

// ---- XML character set -------------------------------------------------------------------------------

namespace {

// EBCDIC code page 037 for the characters an XML declaration is made of; every other
// byte reads as U+0001.
char16_t FromEBCDIC(uint8_t AByte) {
  if (AByte >= 0x81 && AByte <= 0x89) return u'a' + (AByte - 0x81);
  if (AByte >= 0x91 && AByte <= 0x99) return u'j' + (AByte - 0x91);
  if (AByte >= 0xA2 && AByte <= 0xA9) return u's' + (AByte - 0xA2);
  if (AByte >= 0xC1 && AByte <= 0xC9) return u'A' + (AByte - 0xC1);
  if (AByte >= 0xD1 && AByte <= 0xD9) return u'J' + (AByte - 0xD1);
  if (AByte >= 0xE2 && AByte <= 0xE9) return u'S' + (AByte - 0xE2);
  if (AByte >= 0xF0 && AByte <= 0xF9) return u'0' + (AByte - 0xF0);
  switch (AByte) {
    case 0x40: return u' ';
    case 0x05: return u'\t';
    case 0x0D: return u'\r';
    case 0x25: return u'\n';
    case 0x4B: return u'.';
    case 0x4C: return u'<';
    case 0x6E: return u'>';
    case 0x6F: return u'?';
    case 0x60: return u'-';
    case 0x6D: return u'_';
    case 0x7E: return u'=';
    case 0x7F: return u'"';
    case 0x7D: return u'\'';
    default: return u'\x0001';
  }
}

// Appends up to ACount bytes of AStream to VBytes; the count added.
int64_t AppendFromStream(TStream& AStream, TIdBytes& VBytes, int64_t ACount) {
  const size_t had = VBytes.size();
  const int64_t got = TIdStreamHelperVCL::ReadBytes(AStream, VBytes, ACount, static_cast<int>(had));
  VBytes.resize(had + static_cast<size_t>(std::max<int64_t>(got, 0)));
  return got;
}

uint32_t BigEndian32(const uint8_t* AFrom, int ACount) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | (i < ACount ? AFrom[i] : 0);
  return value;
}

// The encoding named after "encoding=" in an XML declaration, or empty.
String DeclaredEncoding(const String& ADeclaration) {
  const size_t at = ADeclaration.find(u"encoding");
  if (at == String::npos) return String();
  String rest = TrimLeft(StringView(ADeclaration).substr(at + 8));
  if (rest.empty() || rest[0] != u'=') return String();
  rest = TrimLeft(StringView(rest).substr(1));
  if (rest.empty() || (rest[0] != u'\'' && rest[0] != u'"')) return String();
  const size_t close = rest.find(rest[0], 1);
  return Trim(StringView(rest).substr(1, close == String::npos ? String::npos : close - 1));
}

}  // namespace

String DetectXmlCharset(TStream* AStream) {
  const String kDefault = u"UTF-8";
  if (!AStream) return kDefault;
  int64_t position = AStream->Position();
  TScopeExit restore([&] { AStream->SetPosition(position); });

  AStream->SetPosition(0);
  TIdBytes content;
  AppendFromStream(*AStream, content, 4);
  const int first = static_cast<int>(content.size());
  if (first < 3) return kDefault;
  const uint32_t start = BigEndian32(content.data(), first);

  struct TMark {
    uint32_t Mark, Mask;
    int Length;
    const char16_t* Name;
  };
  static const TMark kMarks[] = {
      {0x0000FEFF, 0xFFFFFFFF, 4, u"UCS-4BE"}, {0x0000FFFE, 0xFFFFFFFF, 4, u""},
      {0xFFFE0000, 0xFFFFFFFF, 4, u"UCS-4LE"}, {0xFEFF0000, 0xFFFFFFFF, 4, u""},
      {0xFEFF0000, 0xFFFF0000, 2, u"UTF-16BE"}, {0xFFFE0000, 0xFFFF0000, 2, u"UTF-16LE"},
      {0xEFBBBF00, 0xFFFFFF00, 3, u"UTF-8"}};
  for (const TMark& m : kMarks) {
    if ((start & m.Mask) == m.Mark) {
      position += m.Length;
      return m.Name;
    }
  }
  if (first < 4) return kDefault;

  enum TText { txByte0, txByte1, txByte2, txByte3, txUTF16BE, txUTF16LE, txUTF8, txEBCDIC };
  struct TDeclaration {
    uint32_t Start;
    int Unit;
    uint32_t End, EndMask;
    TText Text;
  };
  static const TDeclaration kDeclarations[] = {
      {0x0000003C, 4, 0x0000003E, 0xFFFFFFFF, txByte3}, {0x00003C00, 4, 0x00003E00, 0xFFFFFFFF, txByte2},
      {0x3C000000, 4, 0x3E000000, 0xFFFFFFFF, txByte0}, {0x003C0000, 4, 0x003E0000, 0xFFFFFFFF, txByte1},
      {0x003C003F, 2, 0x003E0000, 0xFFFF0000, txUTF16BE}, {0x3C003F00, 2, 0x3E000000, 0xFFFF0000, txUTF16LE},
      {0x3C3F786D, 1, 0x3E000000, 0xFF000000, txUTF8},    {0x4C6FA794, 1, 0x6E000000, 0xFF000000, txEBCDIC}};
  const TDeclaration* row = nullptr;
  for (const TDeclaration& d : kDeclarations)
    if (d.Start == start) row = &d;
  if (!row) return kDefault;

  // Unit by unit from position 4 until the unit that closes the declaration.
  size_t end = 0;
  for (size_t at = 4;; at += row->Unit) {
    while (content.size() < at + row->Unit)
      if (AppendFromStream(*AStream, content, 4096) <= 0) return kDefault;
    if ((BigEndian32(content.data() + at, row->Unit) & row->EndMask) == row->End) {
      end = at + row->Unit;
      break;
    }
  }

  String declaration;
  switch (row->Text) {
    case txByte0:
    case txByte1:
    case txByte2:
    case txByte3:
      for (size_t i = row->Text; i < end; i += 4) declaration += static_cast<char16_t>(content[i]);
      break;
    case txUTF16BE:
      declaration = TextFromBytes(content, EncodingUTF16BE(), 0, static_cast<int>(end));
      break;
    case txUTF16LE:
      declaration = TextFromBytes(content, EncodingUTF16LE(), 0, static_cast<int>(end));
      break;
    case txUTF8:
      declaration = TextFromBytes(content, EncodingUTF8(), 0, static_cast<int>(end));
      break;
    case txEBCDIC:
      for (size_t i = 0; i < end; ++i) declaration += FromEBCDIC(content[i]);
      break;
  }
  const String declared = DeclaredEncoding(declaration);
  return declared.empty() ? kDefault : declared;
}

}  // namespace vyn
