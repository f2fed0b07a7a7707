// The HTTP client component TvynIdHTTP and its option records: TLS, traffic log and
// token authentication. The records are plain persistent objects copied with Assign;
// the component owns one of each, and nested records are owned by their parent record.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "vynDateUtils.h"
#include "vynHTTP_Classes.h"
#include "vynIdHTTP.h"
#include "vynIdSSL.h"
#include "vynIdSocks.h"
#include "vynTCP_Classes.h"

namespace vyn {

// The token sources; the application owns them.
class TvynHTTPComponentClient_OAuth;
class TvynHTTPComponentClient_JWT;

// The component's TLS settings.
class TvynIdHTTPTLS_Options : public TvynTCPTLS_Options {
public:
  // From any TvynTCPTLS_Options (this class included): every field but VerifyDepth,
  // the nested records into the owned ones. Other sources: as TvynSocketTLS_Options.
  void Assign(const TPersistent* ASource) override;
};

// Where the traffic log writes to; whether it logs is the component's Log flag.
class TvynHttpLogFile : public TPersistent {
public:
  // Copies FileName from a TvynHttpLogFile.
  void Assign(const TPersistent* ASource) override;

  const String& FileName() const { return FFileName; }
  void SetFileName(const String& AValue) { FFileName = AValue; }

private:
  String FFileName;
};

// The bearer-token source of a component and how long a request waits for it.
// Ownership: the sources are not owned and not watched; an application that frees
// one clears the reference first.
class TvynHTTPAuthentication_Token : public TPersistent {
public:
  // Copies the references themselves and ReadTimeout from a TvynHTTPAuthentication_Token.
  void Assign(const TPersistent* ASource) override;

  // Used first when set.
  TvynHTTPComponentClient_OAuth* OAuth() const { return FOAuth; }
  void SetOAuth(TvynHTTPComponentClient_OAuth* AValue) { FOAuth = AValue; }
  // Used when OAuth is not set; its tokens expire and are renewed.
  TvynHTTPComponentClient_JWT* JWT() const { return FJWT; }
  void SetJWT(TvynHTTPComponentClient_JWT* AValue) { FJWT = AValue; }
  // Milliseconds a request waits for a token.
  int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int32_t AValue) { FReadTimeout = AValue; }

private:
  TvynHTTPComponentClient_OAuth* FOAuth = nullptr;  // not owned
  TvynHTTPComponentClient_JWT* FJWT = nullptr;      // not owned
  int32_t FReadTimeout = 60000;
};

class TvynIdHTTPAuthentication_Options : public TPersistent {
public:
  TvynIdHTTPAuthentication_Options();
  // The token record is never replaced, so the object is not copied as a whole.
  TvynIdHTTPAuthentication_Options(const TvynIdHTTPAuthentication_Options&) = delete;
  TvynIdHTTPAuthentication_Options& operator=(const TvynIdHTTPAuthentication_Options&) = delete;

  // Copies the token (into the owned record) from a TvynIdHTTPAuthentication_Options.
  void Assign(const TPersistent* ASource) override;

  TvynHTTPAuthentication_Token* Token() const { return FToken.get(); }
  void SetToken(const TvynHTTPAuthentication_Token* AValue) { FToken->Assign(AValue); }

private:
  std::unique_ptr<TvynHTTPAuthentication_Token> FToken;
};

// The block of an event stream, decoded one character per byte; the handler may set
// Cancel to end the stream.
using TvynHTTPSSEMessageEvent = std::function<void(TObject* Sender, const String& aMessage, bool& Cancel)>;

// The HTTP engine with what applications need around it: before every request it
// obtains a bearer token when a token source is set, attaches or detaches the traffic
// log and chooses the transport from the URL (a TLS handler made once from TLSOptions
// for https, a plain socket otherwise, each through the proxy when one is enabled).
// GetSSE streams an event-stream response into OnSSEMessage without storing it.
//
// One thread at a time uses the component; only a token source may report from
// another thread.
class TvynIdHTTP : public TIdHTTP {
public:
  explicit TvynIdHTTP(TComponent* AOwner = nullptr);
  ~TvynIdHTTP() override;

  // GETs aURL as an event stream: every block received is handed to OnSSEMessage as it
  // arrives. Returns when the server closes the stream or the handler cancels; every
  // other failure is raised. A non-empty aCharset asks for ";charset=UTF-8".
  void GetSSE(const String& aURL, const String& aCharset);

  void PerformRequest(const String& AMethod, const String& AURL, TStream* ASource, TStream* AResponseContent,
                      const TIdHTTPIgnoreReplies& AIgnoreReplies) override;

  bool Log() const { return FLog; }
  // Off frees and detaches the traffic log at once; on takes effect at the next request.
  void SetLog(bool AValue);
  TvynHttpLogFile* LogOptions() const { return FLogOptions.get(); }
  void SetLogOptions(const TvynHttpLogFile* AValue) { FLogOptions->Assign(AValue); }
  TvynIdHTTPTLS_Options* TLSOptions() const { return FTLSOptions.get(); }
  void SetTLSOptions(const TvynIdHTTPTLS_Options* AValue) { FTLSOptions->Assign(AValue); }
  TvynIdHTTPAuthentication_Options* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(const TvynIdHTTPAuthentication_Options* AValue) { FAuthentication->Assign(AValue); }
  TvynHTTPProxy_Options* Proxy() const { return FProxy.get(); }
  void SetProxy(const TvynHTTPProxy_Options* AValue) { FProxy->Assign(AValue); }
  static String Version() { return u"2023.2.0"; }

  TvynHTTPSSEMessageEvent OnSSEMessage;

  // Replaces the held token; safe from any thread.
  virtual void SetAuthToken(const String& AToken, const String& ATokenType, TDateTime AExpiry);

protected:
  // Hands the TLS handler the key password of TLSOptions when it asks.
  virtual void OnGetPasswordEvent(String& Password);
  // A token source reports a token; may run on the source's own thread.
  virtual void OnAuthTokenEvent(TObject* Sender, const String& TokenType, const String& Token, const String& Data);
  // A token source reports a failure: raises Exception "Error %s. %s".
  virtual void OnAuthTokenErrorEvent(TObject* Sender, const String& Error, const String& ErrorDescription,
                                     const String& Data);
  // The token step before every request.
  virtual void DoAuthToken();
  // Every block the engine writes into the event stream.
  virtual void OnEventStreamWrite(TIdBytesView ABuffer, int AOffset, int ACount, int& VResult);

  void Notification(TComponent* AComponent, TOperation AOperation) override;

private:
  void EnsureTLSHandler();
  TIdSSLIOHandlerSocketBase* CreateOpenSSLHandler();
  // Whether a token is held; ADropExpired first drops a token whose time is up.
  bool HeldAuthToken(bool ADropExpired);
  void WireProxy(TIdIOHandlerSocket* ASocketHandler);
  // Frees the connection's I/O handler, forgetting it when it is one of the component's own.
  void FreeIOHandler();
  void DetachLogIntercept();

  TIdSSLIOHandlerSocketBase* FTLSHandler = nullptr;  // owned as a component
  std::unique_ptr<TIdConnectionIntercept> FLogIntercept;
  bool FLog = false;
  std::unique_ptr<TvynHttpLogFile> FLogOptions;
  std::unique_ptr<TvynIdHTTPTLS_Options> FTLSOptions;
  // The token handed over by a token source, possibly from another thread.
  mutable std::mutex FAuthTokenLock;
  String FAuthToken;
  String FAuthTokenType;
  TDateTime FAuthTokenExpiry = 0;
  std::unique_ptr<TvynIdHTTPAuthentication_Options> FAuthentication;
  std::unique_ptr<TvynHTTPProxy_Options> FProxy;
  TIdIOHandlerStack* FProxyIOHandler = nullptr;  // owned as a component
  TIdSocksInfo* FProxySocks = nullptr;           // owned as a component
  std::unique_ptr<TIdEventStream> FEventStream;
};

}  // namespace vyn
