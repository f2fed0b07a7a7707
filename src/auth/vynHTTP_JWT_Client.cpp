#include "vynHTTP_JWT_Client.h"

namespace vyn {

void TvynHTTP_JWT_Client_Options::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TvynHTTP_JWT_Client_Options*>(ASource)) {
    FRefreshTokenAfter = source->FRefreshTokenAfter;
    return;
  }
  TPersistent::Assign(ASource);
}

TvynHTTPComponentClient_JWT::TvynHTTPComponentClient_JWT(TComponent* AOwner)
    : TvynHTTPComponentClientAuthToken_Base(AOwner), FJWTOptions(std::make_unique<TvynHTTP_JWT_Client_Options>()) {}

}  // namespace vyn
