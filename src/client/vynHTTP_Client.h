// The option records of the HTTP client component: TLS, traffic log and token
// authentication. Plain persistent objects copied with Assign; the component owns
// one of each, and nested records are owned by their parent record.
#pragma once

#include <cstdint>
#include <memory>

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

}  // namespace vyn
