// The JWT token source: signs a token on every Start and reports it at once. The
// signers themselves (HMAC, RSA, EC keys) are added by their own classes; this unit
// holds what the HTTP client component relies on.
#pragma once

#include <cstdint>
#include <memory>

#include "vynHTTP_AuthToken.h"

namespace vyn {

class TvynHTTP_JWT_Client_Options : public TPersistent {
public:
  void Assign(const TPersistent* ASource) override;

  // Seconds after which the HTTP client component signs a new token; 0: every request.
  int32_t RefreshTokenAfter() const { return FRefreshTokenAfter; }
  void SetRefreshTokenAfter(int32_t AValue) { FRefreshTokenAfter = AValue; }

private:
  int32_t FRefreshTokenAfter = 0;
};

class TvynHTTPComponentClient_JWT : public TvynHTTPComponentClientAuthToken_Base {
public:
  explicit TvynHTTPComponentClient_JWT(TComponent* AOwner = nullptr);

  TvynHTTP_JWT_Client_Options* JWTOptions() const { return FJWTOptions.get(); }
  void SetJWTOptions(const TvynHTTP_JWT_Client_Options* AValue) { FJWTOptions->Assign(AValue); }

private:
  std::unique_ptr<TvynHTTP_JWT_Client_Options> FJWTOptions;
};

}  // namespace vyn
