#include "vynHTTP_Client.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "vynHTTP_JWT_Client.h"
#include "vynHTTP_OAuth2_Client.h"
#include "vynIdSSLOpenSSL.h"
#include "vynIdSSLOpenSSLHeaders.h"

namespace vyn {

void TvynIdHTTPTLS_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynTCPTLS_Options*>(ASource)) {
    SetCertFile(source->CertFile());
    SetKeyFile(source->KeyFile());
    SetPassword(source->Password());
    SetRootCertFile(source->RootCertFile());
    SetVersion(source->Version());
    SetVerifyCertificate(source->VerifyCertificate());
    SetIOHandler(source->IOHandler());
    SetALPNProtocols(source->ALPNProtocols());
    SetOpenSSL_Options(source->OpenSSL_Options());
    SetSChannel_Options(source->SChannel_Options());
    return;
  }
  TvynTCPTLS_Options::Assign(ASource);
}

void TvynHttpLogFile::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynHttpLogFile*>(ASource)) {
    FFileName = source->FFileName;
    return;
  }
  TPersistent::Assign(ASource);
}

void TvynHTTPAuthentication_Token::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynHTTPAuthentication_Token*>(ASource)) {
    FOAuth = source->FOAuth;
    FJWT = source->FJWT;
    FReadTimeout = source->FReadTimeout;
    return;
  }
  TPersistent::Assign(ASource);
}

TvynIdHTTPAuthentication_Options::TvynIdHTTPAuthentication_Options()
    : FToken(std::make_unique<TvynHTTPAuthentication_Token>()) {}

void TvynIdHTTPAuthentication_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynIdHTTPAuthentication_Options*>(ASource)) {
    FToken->Assign(source->FToken.get());
    return;
  }
  TPersistent::Assign(ASource);
}

}  // namespace vyn

// ---- TvynIdHTTP ------------------------------------------------------------------------

namespace vyn {

namespace {

bool IsTLSURL(const String& AURL) { return UpperCase(AURL.substr(0, 5)) == u"HTTPS"; }

}  // namespace

TvynIdHTTP::TvynIdHTTP(TComponent* AOwner)
    : TIdHTTP(AOwner),
      FLogOptions(std::make_unique<TvynHttpLogFile>()),
      FTLSOptions(std::make_unique<TvynIdHTTPTLS_Options>()),
      FAuthentication(std::make_unique<TvynIdHTTPAuthentication_Options>()),
      FProxy(std::make_unique<TvynHTTPProxy_Options>()) {
  Request().SetUserAgent(u"Mozilla/5.0 (vynWebSockets 2023.2.0)");
}

TvynIdHTTP::~TvynIdHTTP() {
  // A token source must not report into a component that is gone.
  for (TvynHTTPComponentClientAuthToken_Base* source :
       {static_cast<TvynHTTPComponentClientAuthToken_Base*>(FAuthentication->Token()->OAuth()),
        static_cast<TvynHTTPComponentClientAuthToken_Base*>(FAuthentication->Token()->JWT())})
    if (source) {
      source->OnAuthToken = nullptr;
      source->OnAuthTokenError = nullptr;
    }
  if (FLog) DetachLogIntercept();
  // The handlers and proxy objects are owned components; the connection must let go of
  // its handler before they are destroyed with the component.
  FreeIOHandler();
}

void TvynIdHTTP::SetLog(bool AValue) {
  if (FLog && !AValue) DetachLogIntercept();
  FLog = AValue;
}

void TvynIdHTTP::DetachLogIntercept() {
  SetIntercept(nullptr);
  FLogIntercept.reset();
}

void TvynIdHTTP::GetSSE(const String& aURL, const String& aCharset) {
  String accept = u"text/event-stream";
  if (!aCharset.empty()) accept += u";charset=UTF-8";
  Request().SetAccept(accept);
  Request().SetCacheControl(u"no-store");
  if (!FEventStream) {
    FEventStream = std::make_unique<TIdEventStream>();
    FEventStream->OnWrite = [this](TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
      OnEventStreamWrite(ABuffer, AOffset, ACount, VResult);
    };
  }
  try {
    Get(aURL, FEventStream.get());
  } catch (const EIdSilentException&) {
    // The peer closed the stream, or a cancel closed the connection: the stream is over.
  }
}

void TvynIdHTTP::OnEventStreamWrite(TIdBytesView ABuffer, int AOffset, int ACount, int& VResult) {
  if (OnSSEMessage) {
    const String text = TextFromBytes8Bit(ABuffer.data() + AOffset, static_cast<size_t>(ACount));
    bool cancel = false;
    OnSSEMessage(this, text, cancel);
    if (cancel) Disconnect();
  }
  VResult = ACount;
}

void TvynIdHTTP::PerformRequest(const String& AMethod, const String& AURL, TStream* ASource,
                                TStream* AResponseContent, const TIdHTTPIgnoreReplies& AIgnoreReplies) {
  DoAuthToken();
  if (FLog) {
    if (!FLogIntercept)
      EIdException::Toss(u"The traffic log is not available: this build has no log intercept (TvynIdLogFileClient).");
  } else if (Intercept()) {
    DetachLogIntercept();
  }
  if (IsTLSURL(AURL)) {
    EnsureTLSHandler();
    if (FProxy->Enabled()) WireProxy(FTLSHandler);
  } else {
    FreeIOHandler();
    if (FProxy->Enabled()) {
      if (!FProxyIOHandler) FProxyIOHandler = CreateOwned<TIdIOHandlerStack>(this);
      WireProxy(FProxyIOHandler);
    }
  }
  TIdHTTP::PerformRequest(AMethod, AURL, ASource, AResponseContent, AIgnoreReplies);
}

void TvynIdHTTP::FreeIOHandler() {
  TIdIOHandler* handler = IOHandler();
  if (!handler) return;
  const bool managed = ManagedIOHandler();
  SetIOHandler(static_cast<TIdIOHandler*>(nullptr));  // frees a handler the engine made
  if (managed) return;
  if (handler == FTLSHandler) FTLSHandler = nullptr;
  if (handler == FProxyIOHandler) FProxyIOHandler = nullptr;
  delete handler;  // an owned component: it unlinks itself from this owner
}

void TvynIdHTTP::EnsureTLSHandler() {
  if (FTLSHandler) return;
  switch (FTLSOptions->IOHandler()) {
    case iohSChannel:
      EIdException::Toss(u"The Schannel TLS handler (TvynIdSSLIOHandlerSocketSChannel) is not available in this build.");
    case iohOpenSSL:
      FTLSHandler = CreateOpenSSLHandler();
      break;
  }
  SetIOHandler(static_cast<TIdIOHandler*>(FTLSHandler));
}

TIdSSLIOHandlerSocketBase* TvynIdHTTP::CreateOpenSSLHandler() {
  auto* handler = CreateOwned<TIdSSLIOHandlerSocketOpenSSL>(this);
  handler->SetPassThrough(false);
  const TvynOpenSSLClient_Options* openssl = FTLSOptions->OpenSSL_Options();
  OpenSSLAPIVersion = openssl->APIVersion() == oslAPI_1_0 ? 0 : openssl->APIVersion() == oslAPI_1_1 ? 1 : 2;
  if (openssl->LibPath() == oslpDefaultFolder) SetSSLLibPath(ProgramFolder());
  if (openssl->LibPath() == oslpCustomPath) SetSSLLibPath(openssl->LibPathCustom());
  TIdSSLOptions* options = handler->SSLOptions();
  switch (FTLSOptions->Version()) {
    case tls1_0: options->SetMethod(sslvTLSv1); break;
    case tls1_1: options->SetMethod(sslvTLSv1_1); break;
    case tls1_2: options->SetMethod(sslvTLSv1_2); break;
    case tls1_3: options->SetMethod(sslvTLSv1_3); break;
    case tlsUndefined: options->SetSSLVersions({sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3}); break;
  }
  handler->SetALPNProtocols(FTLSOptions->ALPNProtocols());
  options->SetMode(sslmClient);
  options->SetRootCertFile(FTLSOptions->RootCertFile());
  options->SetCertFile(FTLSOptions->CertFile());
  options->SetKeyFile(FTLSOptions->KeyFile());
  options->SetVerifyMode(FTLSOptions->VerifyCertificate() ? TIdSSLVerifyModeSet{sslvrfPeer} : TIdSSLVerifyModeSet{});
  handler->OnGetPassword = [this](String& Password) { OnGetPasswordEvent(Password); };
  return handler;
}

void TvynIdHTTP::WireProxy(TIdIOHandlerSocket* ASocketHandler) {
  SetIOHandler(static_cast<TIdIOHandler*>(ASocketHandler));
  const TwsProxy type = FProxy->ProxyType();
  if (type == pxyHTTP)
    EIdException::Toss(u"HTTP proxies are not available: this build has no CONNECT proxy (TIdConnectThroughHttpProxy).");
  if (!FProxySocks) FProxySocks = CreateOwned<TIdSocksInfo>(this);
  FProxySocks->SetHost(FProxy->Host());
  FProxySocks->SetPort(static_cast<uint16_t>(FProxy->Port()));
  FProxySocks->SetUsername(FProxy->Username());
  FProxySocks->SetPassword(FProxy->Password());
  FProxySocks->SetAuthentication(FProxy->Username().empty() ? saNoAuthentication : saUsernamePassword);
  FProxySocks->SetVersion(type == pxySocks4 ? svSocks4 : type == pxySocks4A ? svSocks4A : svSocks5);
  ASocketHandler->SetTransparentProxy(FProxySocks);
}

void TvynIdHTTP::DoAuthToken() {
  TvynHTTPAuthentication_Token* token = FAuthentication->Token();
  TvynHTTPComponentClient_OAuth* oauth = token->OAuth();
  TvynHTTPComponentClient_JWT* jwt = token->JWT();
  if (!oauth && !jwt) return;
  if (!HeldAuthToken(jwt != nullptr)) {
    TvynHTTPComponentClientAuthToken_Base* source = oauth;
    if (!source) source = jwt;
    source->OnAuthToken = [this](TObject* Sender, const String& TokenType, const String& Token, const String& Data) {
      OnAuthTokenEvent(Sender, TokenType, Token, Data);
    };
    source->OnAuthTokenError = [this](TObject* Sender, const String& Error, const String& Description,
                                      const String& Data) { OnAuthTokenErrorEvent(Sender, Error, Description, Data); };
    source->Start();
    const uint64_t start = TickCount64();
    const uint64_t wait = static_cast<uint64_t>(std::max<int32_t>(token->ReadTimeout(), 0));
    while (!HeldAuthToken(false)) {
      // A token that comes later is used by the next request.
      if (TicksSince(start) >= wait) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  String line;
  {
    std::lock_guard<std::mutex> guard(FAuthTokenLock);
    line = u"Authorization: " + FAuthTokenType + u" " + FAuthToken;
  }
  TIdHeaderList& headers = Request().CustomHeaders();
  for (int i = headers.Count() - 1; i >= 0; --i)
    if (LowerCase(headers[i].substr(0, 13)) == u"authorization") headers.Delete(i);
  headers.Add(line);
}

bool TvynIdHTTP::HeldAuthToken(bool ADropExpired) {
  std::lock_guard<std::mutex> guard(FAuthTokenLock);
  if (ADropExpired && FAuthTokenExpiry < Now()) FAuthToken.clear();
  return !FAuthToken.empty();
}

void TvynIdHTTP::SetAuthToken(const String& AToken, const String& ATokenType, TDateTime AExpiry) {
  std::lock_guard<std::mutex> guard(FAuthTokenLock);
  FAuthToken = AToken;
  FAuthTokenType = ATokenType;
  FAuthTokenExpiry = AExpiry;
}

void TvynIdHTTP::OnAuthTokenEvent(TObject*, const String& TokenType, const String& Token, const String&) {
  TvynHTTPComponentClient_JWT* jwt = FAuthentication->Token()->JWT();
  std::lock_guard<std::mutex> guard(FAuthTokenLock);
  // The type goes in before the token, which is what the waiting request looks for.
  FAuthTokenType = TokenType;
  if (!Token.empty() && jwt)
    FAuthTokenExpiry = Now() + jwt->JWTOptions()->RefreshTokenAfter() * 1000.0 / MSecsPerDay;
  FAuthToken = Token;
}

void TvynIdHTTP::OnAuthTokenErrorEvent(TObject*, const String& Error, const String& ErrorDescription,
                                       const String&) {
  throw Exception(Format(u"Error %s. %s", {Error, ErrorDescription}));
}

void TvynIdHTTP::OnGetPasswordEvent(String& Password) { Password = FTLSOptions->Password(); }

void TvynIdHTTP::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove) {
    if (AComponent == FTLSHandler) FTLSHandler = nullptr;
    if (AComponent == FProxyIOHandler) FProxyIOHandler = nullptr;
    if (AComponent == FProxySocks) FProxySocks = nullptr;
  }
  TIdHTTP::Notification(AComponent, AOperation);
}

}  // namespace vyn
