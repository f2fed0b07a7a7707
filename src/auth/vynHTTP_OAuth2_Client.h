// The OAuth2 token source: obtains a token through the browser and a local listener,
// and may report it later from another thread. The flow itself is added by its own
// class; this unit holds what the HTTP client component relies on.
#pragma once

#include "vynHTTP_AuthToken.h"

namespace vyn {

class TvynHTTPComponentClient_OAuth : public TvynHTTPComponentClientAuthToken_Base {
public:
  using TvynHTTPComponentClientAuthToken_Base::TvynHTTPComponentClientAuthToken_Base;
};

}  // namespace vyn
